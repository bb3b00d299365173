#include "concurrency/TimeRange.h"

#include "foundation/Assert.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"

namespace Kelm {

namespace {

constexpr uint32_t DAY = 86400;
constexpr uint32_t WEEK = 604800;
// The epoch fell on a Thursday: whole weeks since then plus three days is
// Sunday 00:00 UTC.
constexpr uint32_t THURSDAY_TO_SUNDAY = 259200;

Time StartOfWeek(const Time& now)
{
    Time start = now;
    start.Truncate(TimePeriod(WEEK));
    start += TimePeriod(THURSDAY_TO_SUNDAY);
    if (start > now) start -= TimePeriod(WEEK);
    return start;
}

}  // namespace

TimeRange::TimeRange(Time a, Time b) : m_start(a < b ? a : b), m_end(a < b ? b : a) {}

void TimeRange::SetStart(const Time& start)
{
    m_start = start;
    KELM_ASSERT(m_start <= m_end);
}

void TimeRange::SetEnd(const Time& end)
{
    m_end = end;
    KELM_ASSERT(m_start <= m_end);
}

TimePeriod TimeRange::GetDuration() const
{
    KELM_ASSERT(m_end >= m_start);
    return TimePeriod(m_end.GetSeconds() - m_start.GetSeconds());
}

std::string TimeRange::GetText() const
{
    if (m_start == m_end) return m_start.GetText();
    return "From " + m_start.GetText() + " to " + m_end.GetText();
}

TimeRange MakeTimeRange(unsigned period)
{
    static const char* const NAMES[] = {"TODAY", "YESTERDAY", "THIS_WEEK", "THIS_MONTH", "", ""};
    Time now;
    Time start = now;
    Time end = now;
    switch (period) {
    case TODAY:
        start.Truncate(TimePeriod(DAY));
        break;
    case YESTERDAY:
        end.Truncate(TimePeriod(DAY));
        end -= TimePeriod(1);
        start = end;
        start.Truncate(TimePeriod(DAY));
        break;
    case THIS_WEEK:
        start = StartOfWeek(now);
        break;
    case THIS_MONTH:
        start = Time(0, 0, 0, 1, now.GetMonth(), now.GetYear());
        break;
    case LAST_WEEK: {
        Time thisWeek = StartOfWeek(now);
        end = thisWeek;
        end -= TimePeriod(1);
        start = thisWeek;
        start -= TimePeriod(WEEK);
        break;
    }
    case LAST_MONTH:
        // Month 0 of a year normalises to December of the year before.
        start = Time(0, 0, 0, 1, now.GetMonth() - 1, now.GetYear());
        end = Time(0, 0, 0, 1, now.GetMonth(), now.GetYear());
        end -= TimePeriod(1);
        break;
    default:
        Log("Unexpected period in MakeTimeRange: " + ToString(period) + "\n");
        KELM_ASSERT(0);
    }
    TimeRange range(start, end);
    Log(std::string("MakeTimeRange: ") + NAMES[period] + ": start: " + range.GetStart().GetText() + ", end" +
        range.GetEnd().GetText() + "\n");
    return range;
}

}  // namespace Kelm
