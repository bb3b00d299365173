// The order of the causes of a failed poll, with every network question
// answered by a fake, so no packet is sent.
#include <gtest/gtest.h>

#include "monitor/Diagnosis.h"
#include "monitor/PollSample.h"

namespace Kelm {
namespace {

class FakeProbes : public NetworkProbes {
public:
    bool networkUp = true;
    bool internetUp = true;
    bool resolves = true;
    std::vector<uint32_t> hops;  // empty: the route is not valid
    bool badRouterFound = false;

    // What was asked, in order.
    std::string asked;

    bool IsNetworkUp() override { return asked += "network ", networkUp; }
    bool IsInternetUp() override { return asked += "internet ", internetUp; }
    bool NameResolves(const std::string&) override { return asked += "name ", resolves; }
    bool RouteIsValid(Route&) override { return !hops.empty(); }
    std::vector<uint32_t> RouteHops(Route&) override { return hops; }
    bool FindBadRouter(Route&, uint32_t& address) override
    {
        asked += "routers ";
        if (badRouterFound) address = hops.back();
        return badRouterFound;
    }
};

TEST(Diagnose, CausesInOrder)
{
    const uint32_t A = 0x0A000001, B = 0x0A000002;
    struct Case {
        const char* what;
        bool networkUp, internetUp, resolves;
        std::vector<uint32_t> hops;
        bool badRouter;
        int status;
        uint32_t router;
        const char* asked;
    };
    const Case cases[] = {
        {"no network decides before anything", false, true, true, {A, B}, true, PollSample::KELM_NO_NETWORK, 0,
         "network "},
        {"server down", true, true, true, {A, B}, false, PollSample::KELM_SERVER_DOWN, 0,
         "network internet name routers "},
        {"bad router", true, true, true, {A, B}, true, PollSample::KELM_BAD_ROUTER, B,
         "network internet name routers "},
        {"bad name: no router search", true, true, false, {A, B}, true, PollSample::KELM_BAD_NAME, 0,
         "network internet name "},
        {"no route yet: no router search", true, true, true, {}, true, PollSample::KELM_SERVER_DOWN, 0,
         "network internet name "},
        {"no Internet", true, false, true, {A, B}, true, PollSample::KELM_NO_INTERNET, 0, "network internet "},
        {"no Internet without a route", true, false, false, {}, false, PollSample::KELM_NO_INTERNET, 0,
         "network internet "},
        {"one hop skips the Internet check and the router search", true, false, true, {A}, true,
         PollSample::KELM_SERVER_DOWN, 0, "network name "},
        {"one hop, name gone", true, false, false, {A}, true, PollSample::KELM_BAD_NAME, 0, "network name "},
    };
    Route route("fake.example.com");
    for (const Case& c : cases) {
        FakeProbes probes;
        probes.networkUp = c.networkUp;
        probes.internetUp = c.internetUp;
        probes.resolves = c.resolves;
        probes.hops = c.hops;
        probes.badRouterFound = c.badRouter;
        int status = -1;
        uint32_t router = 0;
        Diagnose(status, router, "fake.example.com", route, probes);
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_EQ(router, c.router) << c.what;
        EXPECT_EQ(probes.asked, c.asked) << c.what;
    }
}

}  // namespace
}  // namespace Kelm
