// The request steps: read, tokenise, log, dispatch by extension or serve a
// file. Tokens are taken off the front of the raw head with the Tokeniser
// (they end at a blank or a colon), so a target containing a colon ends just
// after it, and a target followed directly by its line end runs on into the
// next line: neither then names a handler or a file.
#include "httpserver/ProcessRequest.h"

#include <poll.h>
#include <sys/socket.h>

#include "foundation/File.h"
#include "foundation/Strings.h"
#include "httpserver/DeferredLog.h"
#include "httpserver/FileToSocket.h"
#include "httpserver/HttpAnswer.h"
#include "httpserver/HttpRequestHandler.h"
#include "httpserver/HttpRequestReader.h"
#include "httpserver/ServedFile.h"

namespace Kelm {

namespace {

// How long, at most, a refused request's remaining bytes are read and
// thrown away after the answer, so that closing does not reset the
// connection before the client has read why it was refused.
constexpr auto DRAIN_TIME = std::chrono::seconds(2);
constexpr size_t DRAIN_BYTES = 1024 * 1024;

void Refuse(Socket& socket, int status)
{
    SendErrorAnswer(socket, status);
    FlushDeferredLog();

    // Unread input makes close() answer with a reset, which can destroy the
    // answer on its way. Say we are done, then read until the client closes.
    int descriptor = socket.GetDescriptor();
    ::shutdown(descriptor, SHUT_WR);
    auto end = std::chrono::steady_clock::now() + DRAIN_TIME;
    size_t drained = 0;
    char buffer[16384];
    while (drained < DRAIN_BYTES) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd waiting{descriptor, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
        ssize_t got = ::recv(descriptor, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        drained += static_cast<size_t>(got);
    }
}

void ServeFile(Socket& socket, const std::string& path)
{
    std::string decoded = DecodeBlanks(path);
    DeferLog("After replace: " + decoded + "\n");

    std::string realPath;
    uint64_t size = 0;
    File file(false, false);
    if (!FindServedFile(decoded, realPath, size) || !file.OpenRead(realPath, true, false)) {
        DeferLog("Failed to open file.\n");
        SendErrorAnswer(socket, 404);
        return;
    }
    std::string head = AnswerHead(200, ContentTypeForExtension(GetFileExt(StripPath(realPath))), size);
    if (FileToSocket(file, socket, head)) {
        DeferLog("Successfully sent file to socket\n");
    } else {
        DeferLog("Error sending file to socket.\n");
    }
    file.Close();
}

}  // namespace

void ProcessRequest(Socket& socket, std::chrono::steady_clock::time_point deadline)
{
    HttpRequestAssembler assembler;
    switch (ReadRequest(socket, deadline, assembler)) {
    case HttpRequestAssembler::COMPLETE:
        break;
    case HttpRequestAssembler::NEED_MORE:
        // A failed receive, or the deadline passed: nothing to answer.
        DeferLog("GetRawString failed.\n");
        return;
    case HttpRequestAssembler::HEAD_TOO_LARGE:
        DeferLog("HTTP SERVER: request head over " + std::to_string(MAX_REQUEST_HEAD) + " bytes.\n");
        Refuse(socket, 431);
        return;
    case HttpRequestAssembler::BODY_TOO_LARGE:
        DeferLog("HTTP SERVER: request body over " + std::to_string(MAX_REQUEST_BODY) + " bytes.\n");
        Refuse(socket, 413);
        return;
    case HttpRequestAssembler::BAD_LENGTH:
        DeferLog("HTTP SERVER: request body does not match its Content-Length.\n");
        Refuse(socket, 400);
        return;
    case HttpRequestAssembler::UNSUPPORTED_ENCODING:
        DeferLog("HTTP SERVER: request with a Transfer-Encoding.\n");
        Refuse(socket, 501);
        return;
    }

    HttpRequest request;
    switch (ParseRequest(assembler, request)) {
    case RequestParse::OK:
        break;
    case RequestParse::NO_METHOD:
        DeferLog("Failed to tokenise query string.\n");
        SendErrorAnswer(socket, 400);
        return;
    case RequestParse::NO_PATH:
        DeferLog("Failed to tokenise after GET/POST.\n");
        SendErrorAnswer(socket, 400);
        return;
    }
    DeferLog("Client requests file: " + request.path + " with args: " + request.args + "\n");
    if (request.method != "GET" && request.method != "POST") {
        SendErrorAnswer(socket, 501);
        return;
    }

    // Case-sensitive and exact: "/Index.HTML" and "/index.html?x=1" name no
    // handler and go on to the files.
    SharedPtr<HttpRequestHandler> handler = FindHandler(GetFileExt(request.path));
    if (handler) {
        // Whatever the handler logs comes after the line of its request.
        FlushDeferredLog();
        if (!handler->HandleRequest(request, socket)) DeferLog("Special handler failed to handle request.\n");
        return;
    }
    ServeFile(socket, request.path);
}

}  // namespace Kelm
