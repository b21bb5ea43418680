#include "platform/local_time.h"

#include <chrono>

namespace kestrum {

std::tm LocalTimeOf(std::time_t seconds)
{
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}

LocalClockTime LocalTimeNow()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    LocalClockTime time;
    time.fields = LocalTimeOf(system_clock::to_time_t(now));
    time.milliseconds = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return time;
}

} // namespace kestrum
