// Why did a poll fail? The causes are examined nearest first, and the first
// that applies decides:
//
//   local network down                     -> KELM_NO_NETWORK
//   Internet answers (or the server is one hop away, where the Internet is
//   not asked at all):
//       name resolves, route of more than one hop, a router on it silent
//                                          -> KELM_BAD_ROUTER (its address)
//       name resolves                      -> KELM_SERVER_DOWN
//       name does not resolve              -> KELM_BAD_NAME
//   otherwise                              -> KELM_NO_INTERNET
//
// The network questions go through NetworkProbes, so a test can answer them
// without a network and pin the order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/Route.h"

namespace Kelm {

class NetworkProbes {
public:
    virtual ~NetworkProbes() = default;
    virtual bool IsNetworkUp();    // the process's NetworkChecker
    virtual bool IsInternetUp();   // the process's NetworkChecker
    virtual bool NameResolves(const std::string& name);  // an IPv4 look-up
    virtual bool RouteIsValid(Route& route) { return route.IsValid(); }
    virtual std::vector<uint32_t> RouteHops(Route& route) { return route.GetHops(); }
    virtual bool FindBadRouter(Route& route, uint32_t& address) { return route.FindBadRouter(address); }
};

// Sets status to one of the codes above, and routerAddress for a bad router.
void Diagnose(int& status, uint32_t& routerAddress, const std::string& name, Route& route, NetworkProbes& probes);

}  // namespace Kelm
