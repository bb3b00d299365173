#include "concurrency/Time.h"

#include <cstdio>
#include <ctime>

#include "foundation/Assert.h"
#include "foundation/Clock.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"

namespace Kelm {

namespace {

tm LocalTime(uint32_t seconds)
{
    time_t value = static_cast<time_t>(seconds);
    tm fields{};
    localtime_r(&value, &fields);
    return fields;
}

struct Unit {
    uint32_t seconds;
    const char* word;  // with its leading blank
};

// Largest first; a year is 52 weeks (364 days), not 365.
constexpr Unit UNITS[] = {
    {31449600, " year"}, {604800, " week"}, {86400, " day"}, {3600, " hour"}, {60, " min"}, {1, " sec"},
};

}  // namespace

std::string TimePeriod::GetText() const
{
    if (m_seconds == 0) return "0 secs";
    std::string text;
    uint32_t rest = m_seconds;
    for (const Unit& unit : UNITS) {
        if (rest < unit.seconds) continue;
        if (unit.seconds == 1) KELM_ASSERT(rest < 60);  // "secs < 60"
        uint32_t count = rest / unit.seconds;
        text += ToString(count) + unit.word;
        if (count != 1) text += "s";
        rest %= unit.seconds;
        if (rest == 0) break;
        text += " ";
    }
    return text;
}

Time::Time() : m_seconds(CurrentSeconds()) {}

Time::Time(int second, int minute, int hour, int day, int month, int year)
{
    tm fields{};
    fields.tm_sec = second;
    fields.tm_min = minute;
    fields.tm_hour = hour;
    fields.tm_mday = day;
    fields.tm_mon = month - 1;
    fields.tm_year = year - 1900;
    fields.tm_isdst = -1;
    time_t value = mktime(&fields);
    if (value == static_cast<time_t>(-1)) {
        Log("Failed to create time.\n");
        m_seconds = INVALID;
        return;
    }
    m_seconds = static_cast<uint32_t>(value);
    Log("Successfully generated time: " + GetText() + "\n");
}

std::string Time::GetText() const
{
    static const char* const DAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    tm fields = LocalTime(m_seconds);
    // The asctime layout, made here rather than by asctime, whose buffer is
    // shared by every thread.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", DAYS[fields.tm_wday % 7],
                  MONTHS[fields.tm_mon % 12], fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
                  1900 + fields.tm_year);
    return Replace(buffer, "\n", "");
}

int Time::GetSecond() const { return LocalTime(m_seconds).tm_sec; }
int Time::GetMinute() const { return LocalTime(m_seconds).tm_min; }
int Time::GetHour() const { return LocalTime(m_seconds).tm_hour; }
int Time::GetDay() const { return LocalTime(m_seconds).tm_mday; }
int Time::GetMonth() const { return LocalTime(m_seconds).tm_mon + 1; }
int Time::GetYear() const { return LocalTime(m_seconds).tm_year + 1900; }

}  // namespace Kelm
