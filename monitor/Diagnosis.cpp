#include "monitor/Diagnosis.h"

#include <netdb.h>
#include <sys/socket.h>

#include "foundation/Shareable.h"
#include "monitor/NetworkChecker.h"
#include "monitor/PollSample.h"

namespace Kelm {

bool NetworkProbes::IsNetworkUp()
{
    return Singleton<NetworkChecker>::Instance()->IsNetworkUp();
}

bool NetworkProbes::IsInternetUp()
{
    return Singleton<NetworkChecker>::Instance()->IsInternetUp();
}

bool NetworkProbes::NameResolves(const std::string& name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return false;
    freeaddrinfo(found);
    return true;
}

void Diagnose(int& status, uint32_t& routerAddress, const std::string& name, Route& route, NetworkProbes& probes)
{
    status = PollSample::KELM_UNKNOWN_CAUSE;
    // A server that answered at the first recorded hop is on this side of
    // the Internet: its failure says nothing about the Internet.
    bool oneHop = probes.RouteIsValid(route) && probes.RouteHops(route).size() == 1;

    if (!probes.IsNetworkUp()) {
        status = PollSample::KELM_NO_NETWORK;
    } else if (oneHop || probes.IsInternetUp()) {
        bool resolved = probes.NameResolves(name);
        uint32_t badRouter = 0;
        if (resolved && !oneHop && probes.RouteIsValid(route) && probes.FindBadRouter(route, badRouter)) {
            status = PollSample::KELM_BAD_ROUTER;
            routerAddress = badRouter;
        } else {
            status = resolved ? PollSample::KELM_SERVER_DOWN : PollSample::KELM_BAD_NAME;
        }
    } else {
        status = PollSample::KELM_NO_INTERNET;
    }
}

}  // namespace Kelm
