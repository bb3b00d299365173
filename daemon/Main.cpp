// The Farview daemon: settles its port, writes its pid file, starts its
// threads and serves its web interface until it is stopped.
#include "daemon/StartUp.h"
#include "daemon/Stop.h"
#include "foundation/Locations.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"
#include "httpserver/HttpServer.h"
#include "monitor/Poller.h"
#include "monitor/ServerManager.h"
#include "net/MtPinger.h"
#include "web/AppHttpHandleHtml.h"
#include "web/FormHandler.h"

#include <unistd.h>

namespace Kelm {
const char* const ApplicationName = "Farview";
}

int main(int argc, char** argv)
{
    using namespace Kelm;
    // A stop writes every sample still pending in memory before the exit.
    PrepareOrderlyStop();

    int port = SettlePort(argc, argv);
    Log("HTTP SERVER using port " + ToString(port) + "\n");
    WritePidFile();
    RaiseOpenFileLimit();
    // Before anything else exists that could ping.
    StartReceiveThread();

    // The pages and the form posts; the registry keeps the handlers alive.
    RegisterHandler("html", new AppHttpHandleHtml());
    RegisterHandler("fv", new AppHttpHandleSpecial());

    // The poller sleeps until the first grid time, then polls every server
    // on the grid.
    SharedPtr<PollerThread> poller(new PollerThread());
    Start(poller.Get());

    // Read the server list now, so it is in memory before the first page.
    Singleton<ServerManager>::Instance()->GetServers();

    // The main thread becomes the accept loop; it never returns.
    HttpServer().Run(port);
}
