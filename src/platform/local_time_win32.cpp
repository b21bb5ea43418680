#include "platform/local_time.h"

#include <windows.h>

namespace kestrum {

std::tm LocalTimeOf(std::time_t seconds)
{
    std::tm local{};
    ::localtime_s(&local, &seconds);
    return local;
}

// GetLocalTime gives the fields and the milliseconds of one instant.
LocalClockTime LocalTimeNow()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    LocalClockTime time;
    time.fields.tm_year = now.wYear - 1900;
    time.fields.tm_mon = now.wMonth - 1;
    time.fields.tm_mday = now.wDay;
    time.fields.tm_wday = now.wDayOfWeek;
    time.fields.tm_hour = now.wHour;
    time.fields.tm_min = now.wMinute;
    time.fields.tm_sec = now.wSecond;
    time.fields.tm_isdst = -1;
    time.milliseconds = now.wMilliseconds;
    return time;
}

} // namespace kestrum
