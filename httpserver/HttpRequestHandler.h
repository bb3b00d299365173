// The request handlers: one per file extension ("html" for the pages, "fv"
// for the form posts), registered once at start-up and shared by all
// workers, and the one way every answer goes out (SendAnswer), so each
// starts with an HTTP/1.0 status line and its headers.
//
//     class Pages : public HttpRequestHandler {
//         bool HandleRequest(const HttpRequest& request, Socket& socket) override
//         { return SendAnswer(socket, 200, "text/html", BuildPage(request.path)); }
//     };
//     RegisterHandler("html", new Pages());
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "foundation/Shareable.h"
#include "net/Socket.h"

namespace Kelm {

struct HttpRequest {
    std::string method;  // "GET", "POST", or whatever the client sent
    // The request target exactly as sent, nothing decoded or stripped.
    std::string path;
    // The body when the request has one, else the last line of the request
    // text; form pairs still URL-encoded.
    std::string args;
    // Header names lower-cased, values trimmed, in the order received.
    std::vector<std::pair<std::string, std::string>> headers;

    // The value of the first header of that name (any case), or "".
    std::string GetHeader(const std::string& name) const;
};

class HttpRequestHandler : public Shareable {
public:
    ~HttpRequestHandler() override = default;
    // Writes the whole answer (through SendAnswer) and returns true when
    // every byte went out. Does not close the socket.
    virtual bool HandleRequest(const HttpRequest& request, Socket& socket) = 0;
};

// Status line, Content-Type, Content-Length, "Connection: close", any extra
// header lines (without their line ends), a blank line, then the body.
bool SendAnswer(Socket& socket, int status, const std::string& contentType, const std::string& body,
                const std::vector<std::string>& extraHeaders = {});

// Stores the handler under exactly this extension (case-sensitive),
// replacing an earlier one. Called at start-up, before any worker exists.
void RegisterHandler(const std::string& extension, HttpRequestHandler* handler);
SharedPtr<HttpRequestHandler> FindHandler(const std::string& extension);

}  // namespace Kelm
