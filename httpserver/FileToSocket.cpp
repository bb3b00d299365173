// Files to connections; see FileToSocket.h.
#include "httpserver/FileToSocket.h"

#include <cstring>
#include <memory>

#include "httpserver/DeferredLog.h"

namespace Kelm {

bool FileToSocket(File& file, Socket& socket)
{
    bool sent = FileToSocket(file, socket, "");
    FlushDeferredLog();
    return sent;
}

bool FileToSocket(File& file, Socket& socket, const std::string& head)
{
    if (!file.IsBinary()) {
        DeferLog("FileToSocket failed: file must be opened in binary mode.\n");
        return false;
    }

    // The head goes out with the first piece: one write for a small file.
    size_t bufferSize = head.size() + FILE_PIECE_SIZE;
    std::unique_ptr<char[]> buffer(new char[bufferSize]);
    std::memcpy(buffer.get(), head.data(), head.size());
    size_t prefix = head.size();

    unsigned long long total = 0;
    bool sending = true;
    for (;;) {
        size_t got = file.ReadBytes(FILE_PIECE_SIZE, buffer.get() + prefix);
        total += got;
        size_t count = prefix + got;
        if (sending && count > 0) {
            sending = socket.SendAll(buffer.get(), count) == static_cast<ssize_t>(count);
        }
        prefix = 0;
        // A peer that went away needs no more of the file.
        if (got < FILE_PIECE_SIZE || !sending) break;
    }
    DeferLog("Finished writing file to socket. Total bytes: " + std::to_string(total) + "\n");
    return true;
}

}  // namespace Kelm
