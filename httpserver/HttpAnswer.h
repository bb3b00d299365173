// The pieces of an HTTP/1.0 answer. Every answer the server gives, a page,
// a file or an error, starts with the head built here: status line,
// Content-Type, Content-Length, "Connection: close", then the caller's extra
// header lines and the blank line. SendAnswer (HttpRequestHandler.h) sends a
// head and body in one write; the file sender puts the head in front of the
// file's first piece.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/Socket.h"

namespace Kelm {

// "OK", "Not Found", ...; "Unknown" for a code the server never uses.
const char* StatusText(int status);

// The whole head, up to and including the blank line. Line ends inside an
// extra header are turned into blanks, so no header can smuggle in another.
std::string AnswerHead(int status, const std::string& contentType, uint64_t contentLength,
                       const std::vector<std::string>& extraHeaders = {});

// An error answer with its short HTML page ("404 Not Found").
bool SendErrorAnswer(Socket& socket, int status);

// "image/png" for "png" and so on (compared without regard to case);
// "application/octet-stream" for what is not known.
std::string ContentTypeForExtension(const std::string& extension);

}  // namespace Kelm
