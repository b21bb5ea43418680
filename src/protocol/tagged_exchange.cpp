#include "protocol/tagged_exchange.h"

#include "link/c_port.h"
#include "platform/c_stopwatch.h"

#include <algorithm>

namespace kestrum {

namespace {

constexpr const char* kFrameBreak = "##\n";

// The port is of no more use for this exchange: closed, or its device is gone.
bool PortGone(CPort& port)
{
    return port.Aborted() || port.GetHandle() == nullptr;
}

}  // namespace

bool WriteText(CPort& port, const std::string& text)
{
    const auto count = static_cast<uint32_t>(text.size());
    return port.Write(reinterpret_cast<const uint8_t*>(text.data()), count) == count;
}

uint32_t DeviceRate(CPort& port)
{
    SerialLineSettings state;
    ISerialDevice* device = port.GetHandle();
    if (device != nullptr && device->GetSettings(state))
        return state.baudRate;
    return port.GetBaudRate();
}

int ReplyTimeoutFor(CPort& port, uint32_t rate, const ProtocolTiming& timing)
{
    const int timeout = static_cast<int>(port.ReplyTimeout(rate));
    return timing.replyTimeoutCapMs > 0 ? std::min(timeout, timing.replyTimeoutCapMs) : timeout;
}

TaggedReply FindTaggedReply(CPort& port, const std::string& tag)
{
    TaggedReply found;
    port.ReceiveBuffer().Inspect(
        [&](const uint8_t* data, size_t length) { found = FindTaggedReply(data, length, tag); });
    return found;
}

bool TaggedExchange(CPort& port, const std::string& tag, const std::string& command, std::string& reply,
                    int timeoutMs, TaggedStatus& status, const StopCheck& stop, const ProtocolTiming& timing)
{
    reply.clear();
    status = TaggedStatus::NoFrame;
    const StopCheck stopOrGone = [&] { return PortGone(port) || (stop && stop()); };
    port.ReceiveBuffer().Consume(-1);
    const std::string usedTag = tag.empty() ? MakeRandomTag() : tag;

    WriteText(port, kFrameBreak);
    WaitUnlessStopped(timing.exchangePauseMs, stopOrGone);
    port.PurgeInput();
    WriteText(port, BuildTaggedCommand(usedTag, command));
    WriteText(port, kFrameBreak);
    WaitUnlessStopped(timing.exchangePauseMs, stopOrGone);

    const CStopwatch clock;
    while (clock.Elapsed() <= static_cast<uint32_t>(std::max(0, timeoutMs)) && !stopOrGone()) {
        TaggedReply found = FindTaggedReply(port, usedTag);
        if (found.status != TaggedStatus::NoFrame) {
            status = found.status;
            reply = std::move(found.text);
            return status == TaggedStatus::Reply;
        }
        if (!WaitUnlessStopped(timing.replyPollMs, stopOrGone))
            break;
    }
    return false;
}

}  // namespace kestrum
