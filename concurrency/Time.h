// Points in time and durations, both unsigned 32-bit seconds; arithmetic and
// comparisons wrap as unsigned 32-bit numbers do.
//
//     Time start(0, 0, 0, 1, 12, 2026);       // local midnight, 1 December
//     TimePeriod(90061).GetText();            // "1 day 1 hour 1 min 1 sec"
//
// Text conversions use localtime_r into buffers of the call's own, so any
// number of threads may convert at once.
#pragma once

#include <cstdint>
#include <string>

namespace Kelm {

class TimePeriod {
public:
    explicit TimePeriod(uint32_t seconds = 0) : m_seconds(seconds) {}

    uint32_t GetSeconds() const { return m_seconds; }
    TimePeriod& operator+=(const TimePeriod& other)
    {
        m_seconds += other.m_seconds;
        return *this;
    }
    bool operator<(const TimePeriod& other) const { return m_seconds < other.m_seconds; }
    bool operator>(const TimePeriod& other) const { return m_seconds > other.m_seconds; }
    bool operator==(const TimePeriod& other) const { return m_seconds == other.m_seconds; }

    // Every non-zero unit from years down to seconds: "1 hour 1 min 1 sec",
    // "0 secs" for nothing. A year is 52 weeks.
    std::string GetText() const;

private:
    uint32_t m_seconds;
};

class Time {
public:
    // What a calendar conversion that fails yields.
    static constexpr uint32_t INVALID = 0xFFFFFFFFu;

    Time();  // now, from the process clock (foundation/Clock.h)
    explicit Time(uint32_t seconds) : m_seconds(seconds) {}
    // Local calendar fields; out-of-range values normalise as mktime does.
    Time(int second, int minute, int hour, int day, int month, int year);

    uint32_t GetSeconds() const { return m_seconds; }
    // The asctime layout without the line end: "Fri Dec 11 15:07:00 2026".
    std::string GetText() const;

    int GetSecond() const;
    int GetMinute() const;
    int GetHour() const;
    int GetDay() const;    // 1-31
    int GetMonth() const;  // 1-12
    int GetYear() const;   // four digits

    Time& operator+=(const TimePeriod& period)
    {
        m_seconds += period.GetSeconds();
        return *this;
    }
    Time& operator-=(const TimePeriod& period)
    {
        m_seconds -= period.GetSeconds();
        return *this;
    }
    // The absolute difference, whichever is later.
    TimePeriod operator-(const Time& other) const
    {
        return TimePeriod(m_seconds > other.m_seconds ? m_seconds - other.m_seconds : other.m_seconds - m_seconds);
    }
    // Down to a whole multiple of the period (never 0).
    void Truncate(const TimePeriod& period) { m_seconds = (m_seconds / period.GetSeconds()) * period.GetSeconds(); }

    bool operator==(const Time& other) const { return m_seconds == other.m_seconds; }
    bool operator!=(const Time& other) const { return m_seconds != other.m_seconds; }
    bool operator<(const Time& other) const { return m_seconds < other.m_seconds; }
    bool operator<=(const Time& other) const { return m_seconds <= other.m_seconds; }
    bool operator>(const Time& other) const { return m_seconds > other.m_seconds; }
    bool operator>=(const Time& other) const { return m_seconds >= other.m_seconds; }

private:
    uint32_t m_seconds;
};

}  // namespace Kelm
