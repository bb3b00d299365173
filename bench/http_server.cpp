// The daemon's HTTP server with one test page handler, for bench/http_load:
// the start-up of the real daemon (signals, line-buffered log, pid file) and
// the real accept loop and worker pool, with "html" answered from memory by
// a page read once from the file named on the command line.
//
//     bench_http_server PORT PAGE_FILE
#include <cstdio>
#include <fstream>
#include <sstream>

#include "daemon/StartUp.h"
#include "daemon/Stop.h"
#include "foundation/Locations.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"
#include "httpserver/HttpRequestHandler.h"
#include "httpserver/HttpServer.h"

namespace Kelm {
const char* const ApplicationName = "Farview";
}

namespace {

class BenchPage : public Kelm::HttpRequestHandler {
public:
    explicit BenchPage(std::string page) : m_page(std::move(page)) {}
    bool HandleRequest(const Kelm::HttpRequest&, Kelm::Socket& socket) override
    {
        return Kelm::SendAnswer(socket, 200, "text/html", m_page);
    }

private:
    const std::string m_page;
};

}  // namespace

int main(int argc, char** argv)
{
    using namespace Kelm;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT PAGE_FILE\n", argv[0]);
        return 2;
    }
    PrepareSignals();
    SetLogLineBuffered();
    WatchStopSignals(nullptr);

    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream page;
    page << in.rdbuf();

    int port = SettlePort(argc, argv);
    Log("HTTP SERVER using port " + ToString(port) + "\n");
    WritePidFile();
    RegisterHandler("html", new BenchPage(page.str()));
    HttpServer().Run(port);
}
