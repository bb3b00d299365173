// The poll grid: every whole multiple of the poll interval since the epoch.
// The interval is 120 seconds, or FARVIEW_POLL_INTERVAL (whole seconds, at
// least 2) for tests and demonstrations; everything derived from it (socket
// time-out, state-duration limit, grid times) follows the one in use.
//
//     PollInterval* grid = Singleton<PollInterval>::Instance();
//     grid->NextSlotAfter(Time(240));   // 360 with the 120-second interval
#pragma once

#include "concurrency/Time.h"

namespace Kelm {

class PollInterval {
public:
    PollInterval();  // reads FARVIEW_POLL_INTERVAL once

    TimePeriod GetInterval() const { return m_interval; }
    // The first grid time strictly after t.
    Time NextSlotAfter(const Time& t) const;
    // The poller's next grid time: now + I (+1 once after AddOneSecond),
    // truncated to the grid.
    Time NextPollTime();
    void AddOneSecond() { m_addOneSecond = true; }

private:
    const TimePeriod m_interval;
    // Used by the poller thread only.
    bool m_addOneSecond = false;
};

}  // namespace Kelm
