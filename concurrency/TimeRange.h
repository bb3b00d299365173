// A pair of times with m_start <= m_end, and the six named periods (today to
// last month) as ranges.
//
// Contains is half-open: the end itself is outside, so consecutive ranges
// never share a sample.
#pragma once

#include <string>

#include "concurrency/Time.h"

namespace Kelm {

class TimeRange {
public:
    // Either order: the earlier time becomes the start.
    TimeRange(Time a, Time b);

    Time GetStart() const { return m_start; }
    Time GetEnd() const { return m_end; }
    void SetStart(const Time& start);
    void SetEnd(const Time& end);
    TimePeriod GetDuration() const;
    bool Contains(const Time& time) const { return m_start <= time && time < m_end; }
    // "From <start> to <end>", or the start alone for an empty range.
    std::string GetText() const;

private:
    Time m_start;
    Time m_end;
};

enum PeriodCode : unsigned {
    TODAY = 0,
    YESTERDAY = 1,
    THIS_WEEK = 2,
    THIS_MONTH = 3,
    LAST_WEEK = 4,
    LAST_MONTH = 5,
};

// Days and weeks turn at 00:00 UTC (weeks begin on Sunday); months at local
// midnight on the 1st. Logs the range it made.
TimeRange MakeTimeRange(unsigned period);

}  // namespace Kelm
