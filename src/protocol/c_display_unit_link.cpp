#include "protocol/c_display_unit_link.h"

#include <algorithm>

#include "link/c_port.h"
#include "platform/c_stopwatch.h"
#include "protocol/display_unit_frame.h"
#include "protocol/tagged_exchange.h"

namespace kestrum {

namespace {

// Takes every byte received so far out of the port's buffer. Bytes that arrive while
// they are copied stay in the buffer for the next take.
std::string TakeReceived(CPort& port)
{
    std::string taken;
    port.ReceiveBuffer().Inspect(
        [&](const uint8_t* data, size_t length) { taken.assign(reinterpret_cast<const char*>(data), length); });
    if (!taken.empty())
        port.ReceiveBuffer().Consume(static_cast<long>(taken.size()));
    return taken;
}

}  // namespace

int CDisplayUnitLink::Connect(CPort& port, uint32_t, int, CEvent* cancel, int)
{
    if (cancel == nullptr)
        return kConnectNoCancelEvent;
    RememberCancelEvent(cancel);
    port.ReceiveBuffer().Consume(-1);
    const CStopwatch clock;
    Post("Looking for VDK1");
    // The end of the previous take, so an announcement split over two takes is seen.
    std::string carry;
    while (clock.Elapsed() <= static_cast<uint32_t>(timing_.vdkConnectTimeoutMs)) {
        const std::string taken = TakeReceived(port);
        if (!taken.empty()) {
            const std::string seen = carry + taken;
            if (seen.find(kDisplayUnitAnnounce) != std::string::npos) {
                Post("VDK1 connected");
                return kConnected;
            }
            carry = seen.substr(seen.size() - std::min(seen.size(), kDisplayUnitAnnounce.size() - 1));
        }
        Pause(port, timing_.vdkConnectPollMs);
        if (StopIfCancelled(port) || port.Aborted())
            return kConnectCancelled;
    }
    Post("Can't connect with VDK1");
    return kConnectNoAnswer;
}

bool CDisplayUnitLink::Query(CPort& port, const std::string& tag, const std::string& command, std::string& reply,
                             int timeoutMs)
{
    reply.clear();
    port.ReceiveBuffer().Consume(-1);
    WriteText(port, BuildDisplayUnitFrame(tag, command));
    const CStopwatch clock;
    Pause(port, timing_.vdkReplySettleMs);
    std::string received;
    while (clock.Elapsed() <= static_cast<uint32_t>(std::max(0, timeoutMs))) {
        received += TakeReceived(port);
        switch (FindDisplayUnitReply(received, tag, reply)) {
        case DisplayUnitReplyState::Complete:
            return true;
        case DisplayUnitReplyState::Failed:
            return false;
        case DisplayUnitReplyState::Pending:
            break;
        }
        DiscardBeforeDisplayUnitReply(received, tag);
        if (!Pause(port, timing_.vdkReplyPollMs))
            return false;
    }
    return false;
}

}  // namespace kestrum
