// The server of this process over real loopback connections: request
// parsing as clients really send it, the edge cases of the request steps
// with their status codes, and file serving. Handlers for "html" and "fv"
// echo what they were given (HttpTestSupport.h).
#include <fcntl.h>
#include <sys/resource.h>

#include <random>

#include <gtest/gtest.h>

#include "httpserver/FileToSocket.h"
#include "tests/httpserver/HttpTestSupport.h"

namespace Kelm::Test {
namespace {

class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override { m_port = StartServer(m_app.Path(), m_data.Path()); }

    std::string Get(const std::string& target)
    {
        return HttpExchange(m_port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    }

    LogToFile m_log;
    TempDir m_app;
    TempDir m_data;
    int m_port = 0;
};

TEST_F(HttpServerTest, PageRequestGoesToTheHandler)
{
    std::string answer = HttpExchange(
        m_port, "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer,
              "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 104\r\nConnection: close\r\n\r\n"
              "method=GET\npath=/index.html\nargs=\nheader host=127.0.0.1\nheader accept=text/html\n"
              "header connection=close\n");
    EXPECT_TRUE(m_log.WaitFor("Client requests file: /index.html with args: \n"));
}

TEST_F(HttpServerTest, PostBodyInTheSamePacketIsTheArgs)
{
    std::string answer = HttpPost(m_port, "/add.fv", "server=alpha&port=80");
    EXPECT_EQ(StatusOf(answer), "200");
    EXPECT_NE(BodyOf(answer).find("method=POST\npath=/add.fv\nargs=server=alpha&port=80\n"), std::string::npos);
    EXPECT_TRUE(m_log.WaitFor("Client requests file: /add.fv with args: server=alpha&port=80\n"));
}

TEST_F(HttpServerTest, PostBodyInALaterPacketIsTheArgs)
{
    int client = ConnectLoopback(m_port);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(SendBytes(client, "POST /add.fv HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 20\r\n\r\n"));
    // The server must wait for the body, not answer the head alone.
    pollfd waiting{client, POLLIN, 0};
    EXPECT_EQ(poll(&waiting, 1, 200), 0);
    ASSERT_TRUE(SendBytes(client, "server=alpha&port=80"));
    std::string answer = ReadToClose(client);
    close(client);
    EXPECT_EQ(StatusOf(answer), "200");
    EXPECT_NE(BodyOf(answer).find("args=server=alpha&port=80\n"), std::string::npos) << answer;
}

TEST_F(HttpServerTest, RequestSplitIntoRandomPiecesIsReadAsOne)
{
    const std::string request =
        "POST /report.fv HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nUser-Agent: test\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 43\r\n\r\n"
        "server=alpha&port=80&fromDay=1&toDay=31&x=y";
    const std::string whole = ExchangeInPieces(m_port, {request});
    ASSERT_EQ(StatusOf(whole), "200");

    const unsigned SEED = 4242;
    std::mt19937 random(SEED);
    for (int round = 0; round < 8; ++round) {
        std::uniform_int_distribution<size_t> at(1, request.size() - 1);
        std::vector<size_t> cuts;
        for (int n = 0; n < 12; ++n) cuts.push_back(at(random));
        std::sort(cuts.begin(), cuts.end());
        std::vector<std::string> pieces;
        size_t from = 0;
        std::string where;
        for (size_t cut : cuts) {
            pieces.push_back(request.substr(from, cut - from));
            from = cut;
            where += std::to_string(cut) + " ";
        }
        pieces.push_back(request.substr(from));
        SCOPED_TRACE("seed " + std::to_string(SEED) + ", round " + std::to_string(round) + ", cuts at " + where);
        EXPECT_EQ(ExchangeInPieces(m_port, pieces), whole);
    }
}

TEST_F(HttpServerTest, EdgeCasesOfTheRequestSteps)
{
    m_app.Write("Index.HTML", "capital letters");
    struct Case {
        const char* name;
        std::string request;
        std::string status;
        std::string logLine;  // must appear in the log
    };
    const Case cases[] = {
        {"extension matching is case-sensitive: a file", "GET " + m_app.File("Index.HTML") + " HTTP/1.0\r\n\r\n",
         "200", "After replace: " + m_app.File("Index.HTML") + "\n"},
        {"a query belongs to the extension", "GET /index.html?x=1 HTTP/1.0\r\n\r\n", "404",
         "Client requests file: /index.html?x=1 with args: \n"},
        {"HEAD is not served", "HEAD /index.html HTTP/1.0\r\n\r\n", "501", "Client requests file:  with args: \n"},
        {"a colon ends the target", "GET /a:b.html HTTP/1.0\r\n\r\n", "404", "Client requests file: /a: with args: \n"},
        {"a target run into its line end", "GET /index.html\r\nHost: a\r\n\r\n", "404",
         "Client requests file: /index.html\r\nHost: with args: \n"},
        {"only blanks", "   \r\n\r\n", "501", ""},
        {"bad length", "POST /a.fv HTTP/1.0\r\nContent-Length: x\r\n\r\n", "400", ""},
        {"chunked", "POST /a.fv HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n", "501", ""},
        {"body too large", "POST /a.fv HTTP/1.0\r\nContent-Length: 65537\r\n\r\n", "413",
         "HTTP SERVER: request body over 65536 bytes.\n"},
        {"head too large", "GET /a.html HTTP/1.0\r\nX: " + std::string(20000, 'x') + "\r\n\r\n", "431",
         "HTTP SERVER: request head over 16384 bytes.\n"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        std::string answer = HttpExchange(m_port, each.request);
        EXPECT_EQ(StatusOf(answer), each.status) << answer.substr(0, 200);
        EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos);
        if (each.status != "200") {
            EXPECT_NE(BodyOf(answer).find("<html>"), std::string::npos);
        }
        if (!each.logLine.empty()) {
            EXPECT_TRUE(m_log.WaitFor(each.logLine));
        }
    }
    EXPECT_TRUE(m_log.WaitFor("Failed to open file.\n"));
}

TEST_F(HttpServerTest, RequestsThatCannotBeTokenisedGet400)
{
    struct Case {
        std::string bytes;
        std::string logLine;
    };
    const Case cases[] = {
        {"", "Failed to tokenise query string.\n"},
        {"    ", "Failed to tokenise query string.\n"},
        {"GET", "Failed to tokenise after GET/POST.\n"},
        {"POST   ", "Failed to tokenise after GET/POST.\n"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE("[" + each.bytes + "]");
        // The client says all and closes its sending side: what arrived is
        // the request.
        std::string answer = ExchangeInPieces(m_port, {each.bytes}, true);
        EXPECT_EQ(StatusOf(answer), "400");
        EXPECT_TRUE(m_log.WaitFor(each.logLine));
    }
}

TEST_F(HttpServerTest, BlankEscapeReachesAFileWithABlank)
{
    m_app.Write("my chart.png", "PNG with a blank");
    m_app.Write("a%41.png", "escape kept");
    std::string answer = Get(m_app.Path() + "my%20chart.png");
    EXPECT_EQ(answer, "HTTP/1.0 200 OK\r\nContent-Type: image/png\r\nContent-Length: 16\r\nConnection: close\r\n\r\n"
                      "PNG with a blank");
    EXPECT_TRUE(m_log.WaitFor("After replace: " + m_app.Path() + "my chart.png\n"));
    EXPECT_EQ(BodyOf(Get(m_app.Path() + "a%41.png")), "escape kept");
}

TEST_F(HttpServerTest, FileOfExactlyOnePieceIsSentWhole)
{
    std::string content(FILE_PIECE_SIZE, '\0');
    for (size_t at = 0; at < content.size(); ++at) content[at] = static_cast<char>(at * 7 + at / 251);
    m_data.Write("chart-1-1.png", content);
    std::string answer = Get(m_data.File("chart-1-1.png"));
    EXPECT_EQ(StatusOf(answer), "200");
    EXPECT_NE(answer.find("\r\nContent-Length: 100000\r\n"), std::string::npos);
    EXPECT_TRUE(BodyOf(answer) == content);
    EXPECT_TRUE(m_log.WaitFor("Finished writing file to socket. Total bytes: 100000\nSuccessfully sent file to socket\n"));
}

TEST_F(HttpServerTest, LargeFileGoesOutInPieces)
{
    std::string content(2 * FILE_PIECE_SIZE + 12345, 'q');
    m_app.Write("big.css", content);
    std::string answer = Get(m_app.File("big.css"));
    EXPECT_EQ(StatusOf(answer), "200");
    EXPECT_NE(answer.find("Content-Type: text/css\r\n"), std::string::npos);
    EXPECT_TRUE(BodyOf(answer) == content);
    EXPECT_TRUE(m_log.WaitFor("Total bytes: 212345\n"));
}

TEST_F(HttpServerTest, ClientTricklingOneByteAtATimeIsCutOffAtTheDeadline)
{
    int client = ConnectLoopback(m_port);
    ASSERT_GE(client, 0);
    // Keep sending a byte of an endless head every 100 ms until the server
    // closes: the total deadline must end it, whatever each byte resets.
    auto start = std::chrono::steady_clock::now();
    bool closed = false;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        if (!SendBytes(client, "a")) {
            closed = true;
            break;
        }
        pollfd waiting{client, POLLIN, 0};
        if (poll(&waiting, 1, 100) > 0) {
            char byte;
            if (recv(client, &byte, 1, 0) <= 0) {
                closed = true;
                break;
            }
        }
    }
    close(client);
    EXPECT_TRUE(closed);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));
    EXPECT_TRUE(m_log.WaitFor("GetRawString failed.\n"));
}

TEST_F(HttpServerTest, FailedAcceptIsLoggedAndTheLoopGoesOn)
{
    m_app.Write("fv1.png", "page image");
    ASSERT_EQ(StatusOf(Get(m_app.File("fv1.png"))), "200");

    // Everything the test needs while no descriptor can be made is made first.
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int logReader = open(m_log.Path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(logReader, 0);
    auto logHas = [&](const std::string& text) {
        std::string content(1 << 20, '\0');
        ssize_t got = pread(logReader, content.data(), content.size(), 0);
        return got > 0 && content.find(text) != std::string::npos;
    };
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    int highest = 0;
    for (int descriptor = 0; descriptor < 4096; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1) highest = descriptor;
    }
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(highest + 1);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    // Fill the gaps below the limit, so no descriptor at all is left.
    std::vector<int> fillers;
    for (int filler = dup(logReader); filler >= 0; filler = dup(logReader)) fillers.push_back(filler);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(m_port));
    bool connected = connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    bool failed = connected && WaitUntil([&] { return logHas("HTTP SERVER: accept failed: Too many open files\n"); });
    for (int filler : fillers) close(filler);
    setrlimit(RLIMIT_NOFILE, &saved);
    close(logReader);
    ASSERT_TRUE(connected);
    EXPECT_TRUE(failed);

    // With descriptors to spare again, the waiting client is served.
    ASSERT_TRUE(SendBytes(client, "GET " + m_app.File("fv1.png") + " HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(BodyOf(ReadToClose(client)), "page image");
    close(client);
}

}  // namespace
}  // namespace Kelm::Test
