// Route without privileges: a new route, an empty hop list, a name that does
// not resolve.
#include <atomic>

#include <gtest/gtest.h>

#include "foundation/Clock.h"
#include "net/Route.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

class RouteClock : public testing::Test {
protected:
    Kelm::Test::FakeClock m_clock{5000};
};

TEST_F(RouteClock, NewRouteIsInvalidAndAsOldAsTheClock)
{
    SharedPtr<Route> route(new Route("127.0.0.1"));
    EXPECT_EQ(route->GetHostName(), "127.0.0.1");
    EXPECT_FALSE(route->IsValid());
    EXPECT_TRUE(route->GetHops().empty());
    EXPECT_EQ(route->GetAge().GetSeconds(), 5000u) << "never refreshed: the age is the time itself";
}

TEST_F(RouteClock, FindBadRouterWithoutHopsSendsNothing)
{
    SharedPtr<Route> route(new Route("127.0.0.1"));
    uint32_t address = 77;
    bool found = true;
    std::string log = Kelm::Test::CaptureLog([&] { found = route->FindBadRouter(address); });
    EXPECT_FALSE(found);
    EXPECT_EQ(address, 77u);
    EXPECT_EQ(log, "") << "no socket was opened, no echo sent";
}

TEST_F(RouteClock, UnresolvableNameFailsButMovesTheRefreshTime)
{
    // glibc refuses a name with a blank before any DNS query is made.
    SharedPtr<Route> route(new Route("no such host.invalid"));
    bool refreshed = true;
    std::string log = Kelm::Test::CaptureLog([&] { refreshed = route->Refresh(); });
    EXPECT_FALSE(refreshed);
    EXPECT_FALSE(route->IsValid());
    EXPECT_EQ(route->GetAge().GetSeconds(), 0u);
    EXPECT_EQ(log.rfind("*** gethostbyname failed", 0), 0u) << log;
    m_clock = 5042;
    EXPECT_EQ(route->GetAge().GetSeconds(), 42u);
}

}  // namespace
}  // namespace Kelm
