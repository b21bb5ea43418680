#include "sim/device_model.h"

#include <algorithm>

namespace kestrum {

namespace {

bool Hits(uint32_t every, uint64_t ordinal)
{
    return every != 0 && ordinal % every == 0;
}

constexpr uint8_t kFaultBitFlip = 0x10;

}  // namespace

bool LineMatches(const SerialLineSettings& pc, uint32_t deviceRate)
{
    return pc.baudRate == deviceRate && pc.dataBits == 8 && pc.parity == SerialLineSettings::Parity::None;
}

uint8_t GarbleAcrossRates(uint8_t sent, uint32_t sendRate, uint32_t hearRate)
{
    // A slow sender's long low start bit reads as zeros to a fast receiver; a fast sender's
    // whole character fits in the first bits of a slow receiver's, which mostly reads as ones.
    (void)sent;
    return sendRate < hearRate ? 0x00 : 0xFF;
}

void DeviceModel::Attach(const PcLines& lines, SimTime now)
{
    std::lock_guard lock(mutex_);
    AdvanceLocked(now);
    lines_ = lines;
    attached_ = true;
    pcRate_ = 0;
    wire_.Record({lastTime_, WireEvent::Kind::Open,
                  (lines.dtr ? 1u : 0u) | (lines.rts ? 2u : 0u) | (lines.brk ? 4u : 0u)});
    OnAttach(lastTime_);
}

void DeviceModel::Detach(SimTime now)
{
    std::lock_guard lock(mutex_);
    AdvanceLocked(now);
    attached_ = false;
    wire_.Record({lastTime_, WireEvent::Kind::Close, 0});
    const PcLines before = lines_;
    lines_ = PcLines{};
    OnLines(before, lines_, lastTime_);
    OnDetach(lastTime_);
}

void DeviceModel::Hear(const uint8_t* data, size_t count, const SerialLineSettings& pc, SimTime now)
{
    std::lock_guard lock(mutex_);
    AdvanceLocked(now);
    NoteRateLocked(pc.baudRate, lastTime_);
    for (size_t i = 0; i < count && !gone_; ++i)
        HearByteLocked(data[i], pc, lastTime_);
}

void DeviceModel::Hear(std::string_view text, const SerialLineSettings& pc, SimTime now)
{
    Hear(reinterpret_cast<const uint8_t*>(text.data()), text.size(), pc, now);
}

void DeviceModel::HearByteLocked(uint8_t sent, const SerialLineSettings& pc, SimTime now)
{
    wire_.Record({now, WireEvent::Kind::FromPc, sent});
    ++bytesFromPc_;
    if (Hits(faults_.dropFromPcEvery, bytesFromPc_))
        return;
    HeardByte byte;
    byte.sent = sent;
    byte.pcRate = pc.baudRate;
    if (LineMatches(pc, lineRate_)) {
        byte.value = sent;
    } else {
        byte.value = GarbleAcrossRates(sent, pc.baudRate, lineRate_);
        byte.garbled = true;
    }
    if (Hits(faults_.garbleFromPcEvery, bytesFromPc_))
        byte.value ^= kFaultBitFlip;
    ++bytesHeard_;
    if (faults_.disconnectAfter >= 0 && bytesFromPc_ > static_cast<uint64_t>(faults_.disconnectAfter)) {
        gone_ = true;
        output_.clear();
        modem_ = DeviceLines{};
        return;
    }
    OnByte(byte, now);
}

void DeviceModel::ChangeLines(const PcLines& lines, SimTime now)
{
    std::lock_guard lock(mutex_);
    AdvanceLocked(now);
    if (lines == lines_)
        return;
    const PcLines before = lines_;
    lines_ = lines;
    NoteLinesLocked(before, lines_, lastTime_);
    if (!gone_)
        OnLines(before, lines_, lastTime_);
}

void DeviceModel::ChangeSettings(const SerialLineSettings& pc, SimTime now)
{
    std::lock_guard lock(mutex_);
    AdvanceLocked(now);
    NoteRateLocked(pc.baudRate, lastTime_);
}

void DeviceModel::NoteRateLocked(uint32_t rate, SimTime now)
{
    if (rate == pcRate_)
        return;
    pcRate_ = rate;
    wire_.Record({now, WireEvent::Kind::Rate, rate});
}

void DeviceModel::NoteLinesLocked(const PcLines& before, const PcLines& after, SimTime now)
{
    if (before.dtr != after.dtr)
        wire_.Record({now, WireEvent::Kind::Dtr, after.dtr ? 1u : 0u});
    if (before.rts != after.rts)
        wire_.Record({now, WireEvent::Kind::Rts, after.rts ? 1u : 0u});
    if (before.brk != after.brk)
        wire_.Record({now, WireEvent::Kind::Break, after.brk ? 1u : 0u});
}

void DeviceModel::Advance(SimTime now)
{
    std::lock_guard lock(mutex_);
    AdvanceLocked(now);
}

void DeviceModel::AdvanceLocked(SimTime now)
{
    while (!wakes_.empty() && *wakes_.begin() <= now) {
        const SimTime due = std::max(*wakes_.begin(), lastTime_);
        // Every wake-up due at the same moment is served by one call.
        while (!wakes_.empty() && *wakes_.begin() <= due)
            wakes_.erase(wakes_.begin());
        lastTime_ = due;
        if (!gone_)
            OnTime(due);
    }
    lastTime_ = std::max(lastTime_, now);
}

SimTime DeviceModel::NextDue()
{
    std::lock_guard lock(mutex_);
    SimTime next = wakes_.empty() ? kSimNever : *wakes_.begin();
    if (!output_.empty() && !OutputHeldLocked())
        next = std::min(next, output_.front().readyAt);
    return next;
}

bool DeviceModel::OutputHeldLocked() const
{
    return holdWhileRtsOff_ && !lines_.rts;
}

size_t DeviceModel::TakeOutput(std::vector<DeliveredByte>& out, const SerialLineSettings& pc, SimTime now,
                               size_t max)
{
    std::lock_guard lock(mutex_);
    AdvanceLocked(now);
    size_t moved = 0;
    while (moved < max && !output_.empty() && output_.front().readyAt <= now && !OutputHeldLocked()) {
        const QueuedByte byte = output_.front();
        output_.pop_front();
        wire_.Record({byte.readyAt, WireEvent::Kind::ToPc, byte.value});
        DeliveredByte delivered;
        if (LineMatches(pc, byte.rate)) {
            delivered.value = byte.value;
            delivered.lineError = byte.lineError;
        } else {
            delivered.value = GarbleAcrossRates(byte.value, byte.rate, pc.baudRate);
            delivered.lineError = true;
        }
        out.push_back(delivered);
        ++moved;
    }
    return moved;
}

void DeviceModel::DropOutput(SimTime now)
{
    std::lock_guard lock(mutex_);
    AdvanceLocked(now);
    while (!output_.empty() && output_.front().readyAt <= now)
        output_.pop_front();
}

DeviceLines DeviceModel::Modem()
{
    std::lock_guard lock(mutex_);
    return modem_;
}

bool DeviceModel::Gone()
{
    std::lock_guard lock(mutex_);
    return gone_;
}

void DeviceModel::SetFaults(const LineFaults& faults)
{
    std::lock_guard lock(mutex_);
    faults_ = faults;
    // "Every Nth byte" counts from the moment the faults are chosen.
    bytesFromPc_ = bytesToPc_ = 0;
}

LineFaults DeviceModel::Faults()
{
    std::lock_guard lock(mutex_);
    return faults_;
}

void DeviceModel::SetPaced(bool paced)
{
    std::lock_guard lock(mutex_);
    paced_ = paced;
}

uint64_t DeviceModel::BytesHeard()
{
    std::lock_guard lock(mutex_);
    return bytesHeard_;
}

std::vector<WireEvent> DeviceModel::WireEvents()
{
    std::lock_guard lock(mutex_);
    return {wire_.Events().begin(), wire_.Events().end()};
}

void DeviceModel::ClearWireLog()
{
    std::lock_guard lock(mutex_);
    wire_.Clear();
    // A reader of the fresh log still learns the rate in force.
    if (pcRate_ != 0)
        wire_.Record({lastTime_, WireEvent::Kind::Rate, pcRate_});
}

void DeviceModel::StreamWireLog(std::function<void(const WireEvent&)> sink)
{
    std::lock_guard lock(mutex_);
    wire_.StreamTo(std::move(sink));
}

void DeviceModel::FlushWireLog()
{
    std::lock_guard lock(mutex_);
    wire_.Flush();
}

void DeviceModel::OnLines(const PcLines&, const PcLines&, SimTime) {}
void DeviceModel::OnTime(SimTime) {}
void DeviceModel::OnAttach(SimTime) {}
void DeviceModel::OnDetach(SimTime) {}

void DeviceModel::Send(const uint8_t* data, size_t count, SimTime now, SimTime delay)
{
    if (faults_.silent || gone_)
        return;
    SimTime at = std::max(now + delay + SimMs(faults_.slowReplyMs), lastOutputAt_);
    for (size_t i = 0; i < count; ++i) {
        ++bytesToPc_;
        if (paced_)
            at += ByteTime(lineRate_);
        if (Hits(faults_.dropToPcEvery, bytesToPc_))
            continue;
        QueuedByte byte{data[i], lineRate_, at, Hits(faults_.lineErrorEvery, bytesToPc_)};
        if (Hits(faults_.garbleToPcEvery, bytesToPc_))
            byte.value ^= kFaultBitFlip;
        output_.push_back(byte);
    }
    lastOutputAt_ = at;
}

void DeviceModel::Send(std::string_view text, SimTime now, SimTime delay)
{
    Send(reinterpret_cast<const uint8_t*>(text.data()), text.size(), now, delay);
}

void DeviceModel::ClearOutput()
{
    output_.clear();
    lastOutputAt_ = lastTime_;
}

void DeviceModel::WakeAt(SimTime when)
{
    wakes_.insert(when);
}

void DeviceModel::CancelWakes()
{
    wakes_.clear();
}

void DeviceModel::SetLineRate(uint32_t rate)
{
    lineRate_ = rate;
}

}  // namespace kestrum
