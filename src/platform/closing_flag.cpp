#include "platform/closing_flag.h"

#include <atomic>

namespace kestrum {

namespace {
std::atomic<bool> closing{false};
}

bool ClosingFlag::IsSet()
{
    return closing.load();
}

void ClosingFlag::Set(bool value)
{
    closing.store(value);
}

}  // namespace kestrum
