#include "link/c_status_channel.h"

#include <vector>

#include "platform/message_pump.h"

namespace kestrum {

namespace {

// Every channel of the process, indexed by its number; destroyed channels leave null.
// The lock is held while a text runs down a chain, so no channel of the chain can be
// destroyed half-way; it is recursive because a forward may reach LinkTo or Text.
struct Registry {
    std::recursive_mutex mutex;
    std::vector<CStatusChannel*> channels;
};

Registry& TheRegistry()
{
    static Registry* registry = new Registry;  // outlives channels held in static objects
    return *registry;
}

}  // namespace

CStatusChannel::CStatusChannel()
    : number_([this] {
          Registry& registry = TheRegistry();
          std::lock_guard lock(registry.mutex);
          registry.channels.push_back(this);
          return static_cast<int32_t>(registry.channels.size() - 1);
      }())
{
}

CStatusChannel::~CStatusChannel()
{
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.channels[static_cast<size_t>(number_)] = nullptr;
}

void CStatusChannel::SetStatus(const std::string& text, bool quiet)
{
    {
        std::lock_guard lock(mutex_);
        text_ = text;
    }
    if (quiet)
        return;
    event_.Set();
    Forward(text);
    MessagePump::DispatchPending();
}

void CStatusChannel::SignalStatus()
{
    SetStatus(Text(), false);
}

void CStatusChannel::ForwardStatus()
{
    Forward(Text());
    MessagePump::DispatchPending();
}

// Runs the text down the chain after this channel. The walk is bounded by the number of
// channels, so a loop built through a longer cycle cannot recurse for ever.
void CStatusChannel::Forward(const std::string& text)
{
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    const CStatusChannel* current = this;
    for (size_t hops = 0; hops < registry.channels.size(); ++hops) {
        const int32_t next = current->Link();
        if (next < 0 || static_cast<size_t>(next) >= registry.channels.size())
            return;
        CStatusChannel* target = registry.channels[static_cast<size_t>(next)];
        if (target == nullptr)
            return;
        {
            std::lock_guard textLock(target->mutex_);
            target->text_ = text;
        }
        target->event_.Set();
        current = target;
    }
}

bool CStatusChannel::LinkTo(int32_t number)
{
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (number < 0 || static_cast<size_t>(number) >= registry.channels.size() || number == number_)
        return false;
    const CStatusChannel* target = registry.channels[static_cast<size_t>(number)];
    if (target == nullptr || target->Link() == number_)
        return false;
    std::lock_guard textLock(mutex_);
    link_ = number;
    return true;
}

int32_t CStatusChannel::Link() const
{
    std::lock_guard lock(mutex_);
    return link_;
}

std::string CStatusChannel::Text() const
{
    std::lock_guard lock(mutex_);
    return text_;
}

}  // namespace kestrum
