#include "platform/c_stopwatch.h"

#include "platform/tick_count.h"

namespace kestrum {

CStopwatch::CStopwatch() : start_(GetTickCount()) {}

uint32_t CStopwatch::Elapsed() const
{
    return GetTickCount() - start_;
}

void CStopwatch::Restart()
{
    start_ = GetTickCount();
}

}  // namespace kestrum
