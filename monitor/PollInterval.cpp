// The poll grid arithmetic. The interval is settled once, at construction:
// everything derived from it (socket time-outs of servers, duration limits,
// the poller's wake-ups) must agree for the life of the process.
#include "monitor/PollInterval.h"

#include <cstdlib>
#include <string>

#include "foundation/Log.h"

namespace Kelm {

namespace {

constexpr uint32_t DEFAULT_INTERVAL = 120;
constexpr uint32_t SHORTEST_INTERVAL = 2;
// A day: longer grids make no sense for an uptime monitor, and the grid
// arithmetic (now + 2 intervals) must stay far from 32-bit wrap-around.
constexpr uint32_t LONGEST_INTERVAL = 86400;

// FARVIEW_POLL_INTERVAL when it is whole seconds within the limits, else the
// default; a value that is set but unusable is logged once.
uint32_t ReadInterval()
{
    const char* value = std::getenv("FARVIEW_POLL_INTERVAL");
    if (value == nullptr || *value == '\0') return DEFAULT_INTERVAL;

    uint32_t seconds = 0;
    bool valid = true;
    for (const char* c = value; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || seconds > LONGEST_INTERVAL) {
            valid = false;
            break;
        }
        seconds = seconds * 10 + static_cast<uint32_t>(*c - '0');
    }
    if (!valid || seconds < SHORTEST_INTERVAL || seconds > LONGEST_INTERVAL) {
        Log(std::string("POLL INTERVAL: ignoring FARVIEW_POLL_INTERVAL \"") + value +
            "\" (whole seconds from 2 to 86400); using 120.\n");
        return DEFAULT_INTERVAL;
    }
    return seconds;
}

}  // namespace

PollInterval::PollInterval() : m_interval(ReadInterval()) {}

Time PollInterval::NextSlotAfter(const Time& t) const
{
    uint32_t interval = m_interval.GetSeconds();
    return Time((t.GetSeconds() + interval) / interval * interval);
}

Time PollInterval::NextPollTime()
{
    Time next;  // now
    next += m_interval;
    if (m_addOneSecond) {
        next += TimePeriod(1);
        m_addOneSecond = false;
    }
    next.Truncate(m_interval);
    return next;
}

}  // namespace Kelm
