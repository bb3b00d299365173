// Sending the rest of an open file down a connection in pieces of 100000
// bytes, so memory use does not grow with the file.
#pragma once

#include <string>

#include "foundation/File.h"
#include "net/Socket.h"

namespace Kelm {

constexpr size_t FILE_PIECE_SIZE = 100000;

// Logs "Finished writing file to socket. Total bytes: N" and returns true;
// false only when the file was not opened in binary mode. A failed send ends
// the sending (the peer is gone) but is not reported here.
bool FileToSocket(File& file, Socket& socket);

// The same, with head sent in front of the first piece in the same write
// (an answer's status line and headers).
bool FileToSocket(File& file, Socket& socket, const std::string& head);

}  // namespace Kelm
