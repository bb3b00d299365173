// Helpers for the HTTP server tests: a raw loopback client that sends a
// request in given pieces, the server run in this test process with an echo
// handler, and the process's standard output sent to a file the test can
// read while the server keeps writing.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "httpserver/HttpRequestHandler.h"
#include "httpserver/HttpServer.h"
#include "tests/support/TestSupport.h"

namespace Kelm::Test {

// Sends the pieces one send each, optionally closes the sending side, then
// reads the answer to the end.
inline std::string ExchangeInPieces(int port, const std::vector<std::string>& pieces, bool closeSending = false)
{
    int descriptor = ConnectLoopback(port);
    if (descriptor < 0) return "";
    for (const std::string& piece : pieces) SendBytes(descriptor, piece);
    if (closeSending) shutdown(descriptor, SHUT_WR);
    std::string answer = ReadToClose(descriptor);
    close(descriptor);
    return answer;
}

// "404" from "HTTP/1.0 404 Not Found\r\n...", "" when there is no status line.
inline std::string StatusOf(const std::string& answer)
{
    if (answer.compare(0, 9, "HTTP/1.0 ") != 0 || answer.size() < 12) return "";
    return answer.substr(9, 3);
}

// Answers with what the server made of the request, one field per line.
class EchoHandler : public HttpRequestHandler {
public:
    bool HandleRequest(const HttpRequest& request, Socket& socket) override
    {
        std::string text = "method=" + request.method + "\npath=" + request.path + "\nargs=" + request.args + "\n";
        for (const auto& [name, value] : request.headers) text += "header " + name + "=" + value + "\n";
        return SendAnswer(socket, 200, "text/plain", text);
    }
};

// Standard output into a file for the rest of the test (the server's
// workers keep logging to it), readable at any moment.
class LogToFile {
public:
    LogToFile()
    {
        std::fflush(stdout);
        m_saved = dup(1);
        std::FILE* file = std::fopen(m_dir.File("log").c_str(), "w");
        dup2(fileno(file), 1);
        std::fclose(file);
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
    }
    ~LogToFile()
    {
        std::string text = Text();
        dup2(m_saved, 1);
        close(m_saved);
        // Test failures were printed into the file too: show them, with the
        // server's log around them.
        if (::testing::Test::HasFailure()) std::fwrite(text.data(), 1, text.size(), stdout);
    }
    std::string Text() const
    {
        std::fflush(stdout);
        return ReadFile(m_dir.File("log"));
    }
    std::string Path() const { return m_dir.File("log"); }
    bool WaitFor(const std::string& text) const
    {
        return WaitUntil([&] { return Text().find(text) != std::string::npos; });
    }

private:
    TempDir m_dir;
    int m_saved;
};

// The HTTP server of this process, on a free port, with the echo handler for
// "html" and "fv" and the given folders. Run never returns, so its thread is
// left running until the test process ends.
inline int StartServer(const std::string& appDir, const std::string& dataDir)
{
    setenv("FARVIEW_APP_DIR", appDir.c_str(), 1);
    setenv("FARVIEW_DATA_DIR", dataDir.c_str(), 1);
    RegisterHandler("html", new EchoHandler());
    RegisterHandler("fv", new EchoHandler());
    int port = FreePort();
    std::thread([port] { HttpServer().Run(port); }).detach();
    bool up = WaitUntil([port] {
        int probe = ConnectLoopback(port);
        if (probe < 0) return false;
        close(probe);
        return true;
    });
    EXPECT_TRUE(up) << "the server did not start on port " << port;
    return port;
}

}  // namespace Kelm::Test
