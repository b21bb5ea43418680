#include "sim/sim_serial_device.h"

#include <algorithm>
#include <set>

namespace kestrum {

namespace {

// Models held by an open device, so a second open reports busy.
std::mutex heldMutex;
std::set<const DeviceModel*> heldModels;

uint64_t ErrorTotal(const SerialErrorCounts& c)
{
    return uint64_t(c.framing) + c.parity + c.overrun + c.bufferOverrun + c.breaks;
}

// The line thread looks again at least this often, so a model whose next event is far off
// or unknown still sees time pass; and at most this often, since every byte carries its own
// time, so batching a fast line's bytes changes nothing but the number of wake-ups.
constexpr SimTime kLongestSleep = SimMs(20);
constexpr SimTime kShortestSleep = SimMs(1);

std::chrono::steady_clock::time_point ToSteady(SimTime t)
{
    return std::chrono::steady_clock::time_point(std::chrono::duration_cast<std::chrono::steady_clock::duration>(t));
}

}  // namespace

bool HoldSimModel(const DeviceModel* model)
{
    std::lock_guard lock(heldMutex);
    return heldModels.insert(model).second;
}

void UnholdSimModel(const DeviceModel* model)
{
    std::lock_guard lock(heldMutex);
    heldModels.erase(model);
}

SimTime SimNow()
{
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now().time_since_epoch());
}

SimSerialDevice::SimSerialDevice(std::shared_ptr<DeviceModel> model) : SimSerialDevice(std::move(model), Options{})
{
}

SimSerialDevice::SimSerialDevice(std::shared_ptr<DeviceModel> model, Options options)
    : model_(std::move(model)), options_(options)
{
    settings_.baudRate = 9600;
}

SimSerialDevice::~SimSerialDevice()
{
    Close();
}

void SimSerialDevice::Fail(SerialOpenError error, const std::string& text)
{
    openError_ = error;
    openErrorText_ = text;
}

bool SimSerialDevice::Open(const std::string& name)
{
    std::unique_lock lock(mutex_);
    if (open_) {
        Fail(SerialOpenError::Busy, "device already open");
        return false;
    }
    if (!model_) {
        Fail(SerialOpenError::NotFound, "no simulated device under the name " + name);
        return false;
    }
    if (!HoldSimModel(model_.get())) {
        Fail(SerialOpenError::Busy, "simulated device in use");
        return false;
    }
    Fail(SerialOpenError::None, "");
    // A newly opened port raises DTR and RTS, as the termios driver does.
    dtr_ = rts_ = true;
    break_ = false;
    ClearOutputLocked();
    input_.clear();
    counts_ = SerialErrorCounts{};
    errorsReported_ = 0;
    released_ = disconnected_ = modelGone_ = stop_ = false;
    const SimTime now = SimNow();
    model_->SetPaced(options_.paced);
    model_->DropOutput(now);
    model_->Attach(EffectiveLinesLocked(), now);
    model_->ChangeSettings(settings_, now);
    modelGone_ = model_->Gone();
    open_ = true;
    line_ = std::thread([this] { LineThread(); });
    return true;
}

SerialOpenError SimSerialDevice::OpenError() const
{
    std::lock_guard lock(mutex_);
    return openError_;
}

std::string SimSerialDevice::OpenErrorText() const
{
    std::lock_guard lock(mutex_);
    return openErrorText_;
}

bool SimSerialDevice::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

void SimSerialDevice::Close()
{
    std::thread line;
    {
        std::lock_guard lock(mutex_);
        if (!open_)
            return;
        open_ = false;
        stop_ = true;
        line.swap(line_);
    }
    lineWakeup_.notify_all();
    changed_.notify_all();
    if (line.joinable())
        line.join();
    model_->Detach(SimNow());
    UnholdSimModel(model_.get());
    std::lock_guard lock(mutex_);
    ClearOutputLocked();
    input_.clear();
}

bool SimSerialDevice::GetSettings(SerialLineSettings& settings)
{
    std::lock_guard lock(mutex_);
    if (!open_)
        return false;
    settings = settings_;
    return true;
}

bool SimSerialDevice::ApplySettings(const SerialLineSettings& settings)
{
    std::lock_guard lock(mutex_);
    if (!open_ || settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8 ||
        settings.stopBits < 1 || settings.stopBits > 2)
        return false;
    HearWrittenBeforeChangeLocked();
    settings_ = settings;
    model_->ChangeSettings(settings_, SimNow());
    LinesChangedLocked();
    lineWakeup_.notify_all();
    return true;
}

long SimSerialDevice::Write(const uint8_t* data, size_t count)
{
    std::lock_guard lock(mutex_);
    if (!open_ || GoneLocked())
        return -1;
    const size_t room = options_.outputRoom > output_.size() ? options_.outputRoom - output_.size() : 0;
    const size_t accepted = std::min(room, count);
    if (accepted == 0)
        return 0;
    const SimTime now = SimNow();
    if (output_.empty())
        nextOutputAt_ = now + (options_.paced ? ByteTime(settings_.baudRate) : SimTime(0));
    if (!options_.paced)
        writes_.push_back({now, accepted});
    output_.insert(output_.end(), data, data + accepted);
    lineWakeup_.notify_all();
    return static_cast<long>(accepted);
}

long SimSerialDevice::Read(uint8_t* data, size_t room)
{
    std::lock_guard lock(mutex_);
    if (!open_)
        return -1;
    if (input_.empty() && GoneLocked())
        return -1;
    const size_t n = std::min(room, input_.size());
    std::copy_n(input_.begin(), n, data);
    input_.erase(input_.begin(), input_.begin() + static_cast<long>(n));
    return static_cast<long>(n);
}

int SimSerialDevice::ConditionsLocked(int request)
{
    int bits = 0;
    if (!input_.empty())
        bits |= kReadable;
    if (output_.size() < options_.outputRoom)
        bits |= kWritable;
    if (ErrorTotal(counts_) != errorsReported_)
        bits |= kLineError;
    bits &= request;
    if (!open_ || GoneLocked())
        bits |= kGone;
    return bits;
}

int SimSerialDevice::Wait(int request, int timeoutMs)
{
    std::unique_lock lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        // Only a wait that watches for it consumes a release, so a short wait on another
        // thread cannot swallow the release meant for the receive thread.
        if (released_ && (request & kReleased)) {
            released_ = false;
            return kReleased;
        }
        const int bits = ConditionsLocked(request);
        if (bits != 0)
            return bits;
        if (timeoutMs < 0)
            changed_.wait(lock);
        else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout)
            return ConditionsLocked(request);
    }
}

void SimSerialDevice::Release()
{
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
}

long SimSerialDevice::InputQueued()
{
    std::lock_guard lock(mutex_);
    return open_ ? static_cast<long>(input_.size()) : -1;
}

long SimSerialDevice::OutputQueued()
{
    std::lock_guard lock(mutex_);
    return open_ ? static_cast<long>(output_.size()) : -1;
}

bool SimSerialDevice::Drain(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    auto done = [this] { return output_.empty() || !open_ || GoneLocked(); };
    if (timeoutMs < 0)
        changed_.wait(lock, done);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    return output_.empty() && open_ && !GoneLocked();
}

void SimSerialDevice::DiscardInput()
{
    std::lock_guard lock(mutex_);
    input_.clear();
}

void SimSerialDevice::DiscardOutput()
{
    {
        std::lock_guard lock(mutex_);
        ClearOutputLocked();
    }
    changed_.notify_all();
}

bool SimSerialDevice::SetDtr(bool on)
{
    std::lock_guard lock(mutex_);
    if (!open_ || GoneLocked())
        return false;
    dtr_ = on;
    LinesChangedLocked();
    return true;
}

bool SimSerialDevice::SetRts(bool on)
{
    std::lock_guard lock(mutex_);
    if (!open_ || GoneLocked())
        return false;
    rts_ = on;
    LinesChangedLocked();
    return true;
}

bool SimSerialDevice::SetBreak(bool on)
{
    std::lock_guard lock(mutex_);
    if (!open_ || GoneLocked())
        return false;
    break_ = on;
    LinesChangedLocked();
    return true;
}

bool SimSerialDevice::GetModemStatus(bool& dsr, bool& cts)
{
    std::lock_guard lock(mutex_);
    if (!open_ || GoneLocked())
        return false;
    const DeviceLines lines = model_->Modem();
    dsr = lines.dsr;
    cts = lines.cts;
    return true;
}

bool SimSerialDevice::ErrorCounts(SerialErrorCounts& counts)
{
    std::lock_guard lock(mutex_);
    if (!open_)
        return false;
    counts = counts_;
    errorsReported_ = ErrorTotal(counts_);
    return true;
}

void SimSerialDevice::InjectDisconnect()
{
    {
        std::lock_guard lock(mutex_);
        disconnected_ = true;
    }
    changed_.notify_all();
    lineWakeup_.notify_all();
}

bool SimSerialDevice::GoneLocked() const
{
    return disconnected_ || modelGone_;
}

PcLines SimSerialDevice::EffectiveLinesLocked() const
{
    PcLines lines;
    lines.dtr = dtr_;
    // Under RTS/CTS handshaking the driver keeps RTS on while it can take input.
    lines.rts = settings_.flow == SerialLineSettings::Flow::RtsCts ? true : rts_;
    lines.brk = break_;
    return lines;
}

void SimSerialDevice::LinesChangedLocked()
{
    // Line changes reach the model at once, so a DSR read right after a clock pulse shows
    // the device's answer to it.
    HearWrittenBeforeChangeLocked();
    model_->ChangeLines(EffectiveLinesLocked(), SimNow());
    // Waking the line thread costs two thread switches, and a programmer makes millions
    // of changes: only when the change brought the next thing to do forward.
    if (NextEventLocked() < lineThreadDue_)
        lineWakeup_.notify_all();
}

void SimSerialDevice::LineThread()
{
    std::unique_lock lock(mutex_);
    while (!stop_) {
        const SimTime now = SimNow();
        MoveBytesLocked(now);
        lineThreadDue_ = std::clamp(NextEventLocked(), now + kShortestSleep, now + kLongestSleep);
        lineWakeup_.wait_until(lock, ToSteady(lineThreadDue_));
        lineThreadDue_ = SimTime(0);
    }
}

void SimSerialDevice::MoveBytesLocked(SimTime now)
{
    if (GoneLocked())
        return;
    const size_t outputBefore = output_.size();
    const size_t inputBefore = input_.size();
    const uint64_t errorsBefore = ErrorTotal(counts_);
    MovePcBytesLocked(now);
    model_->Advance(now);
    MoveDeviceBytesLocked(now);
    modelGone_ = model_->Gone();
    if (output_.size() != outputBefore || input_.size() != inputBefore || ErrorTotal(counts_) != errorsBefore ||
        modelGone_)
        changed_.notify_all();
}

// Under RTS/CTS handshaking the PC's UART sends only while the device shows CTS.
bool SimSerialDevice::HeldLocked()
{
    return settings_.flow == SerialLineSettings::Flow::RtsCts && !model_->Modem().cts;
}

// Unpaced, what was written before a change of rate or lines was on the line before it.
void SimSerialDevice::HearWrittenBeforeChangeLocked()
{
    if (!options_.paced && !writes_.empty() && !HeldLocked())
        HearWrittenLocked();
}

void SimSerialDevice::MovePcBytesLocked(SimTime now)
{
    if (HeldLocked()) {
        nextOutputAt_ = std::max(nextOutputAt_, now);
        for (Written& write : writes_)
            write.at = std::max(write.at, now);  // held back until at least now
        return;
    }
    if (!options_.paced) {
        HearWrittenLocked();
        return;
    }
    const SimTime byteTime = ByteTime(settings_.baudRate);
    while (!output_.empty() && nextOutputAt_ <= now) {
        const uint8_t byte = output_.front();
        output_.pop_front();
        model_->Hear(&byte, 1, settings_, nextOutputAt_);
        nextOutputAt_ += byteTime;
    }
}

void SimSerialDevice::HearWrittenLocked()
{
    std::vector<uint8_t> bytes;
    for (const Written& write : writes_) {
        bytes.assign(output_.begin(), output_.begin() + static_cast<long>(write.count));
        output_.erase(output_.begin(), output_.begin() + static_cast<long>(write.count));
        model_->Hear(bytes.data(), bytes.size(), settings_, write.at);
    }
    writes_.clear();
}

void SimSerialDevice::ClearOutputLocked()
{
    output_.clear();
    writes_.clear();
}

void SimSerialDevice::MoveDeviceBytesLocked(SimTime now)
{
    std::vector<DeliveredByte> bytes;
    model_->TakeOutput(bytes, settings_, now);
    for (const DeliveredByte& byte : bytes) {
        if (input_.size() >= options_.inputRoom) {
            ++counts_.bufferOverrun;
            continue;
        }
        if (byte.lineError)
            ++counts_.framing;
        input_.push_back(byte.value);
    }
}

SimTime SimSerialDevice::NextEventLocked()
{
    SimTime next = model_->NextDue();
    if (!output_.empty())
        next = std::min(next, options_.paced ? nextOutputAt_ : SimTime(0));
    return next;
}

}  // namespace kestrum
