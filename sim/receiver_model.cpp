#include "sim/receiver_model.h"

#include "loader/boot_protocol.h"
#include "sim/image_layout.h"

#include <algorithm>

namespace kestrum {

namespace {

// A run this long of 0x55 is the loader's capture stream, not a stray 'U' in a command.
constexpr int kCaptureRunBytes = 32;
// While captured and still hearing the stream, the request byte is repeated at most this
// often, in case the first one was lost.
constexpr SimTime kRequestRepeat = SimMs(50);
// Delays of the device's own making.
constexpr int kRamProgramStartMs = 20;
constexpr int kRestartAfterWriteMs = 10;
constexpr SimTime kQuietGap = SimMs(300);
constexpr SimTime kDtrPulseLongest = SimMs(500);
constexpr const char* kUnknownVersion = "unknown";

}  // namespace

ReceiverModel::ReceiverModel(const ReceiverConfig& config)
    : config_(config), info_(config.info), firmwareValid_(config.firmwareValid)
{
    config_.rateMultiple = std::max<uint32_t>(config_.rateMultiple, 1);
    SetModemLines(DeviceLines{true, true});
    if (firmwareValid_) {
        StartFirmware();
    } else {
        mode_ = Mode::BootWindow;
        SetLineRate(config_.commands.rate / config_.rateMultiple);
    }
}

// ---- accessors -------------------------------------------------------------------------

ReceiverModel::Mode ReceiverModel::CurrentMode()
{
    std::lock_guard lock(ModelMutex());
    return mode_;
}

ReceiverInfo ReceiverModel::Info()
{
    std::lock_guard lock(ModelMutex());
    return info_;
}

std::string ReceiverModel::FirmwareVersion()
{
    std::lock_guard lock(ModelMutex());
    return info_.firmware;
}

std::string ReceiverModel::PowerBoardFirmware()
{
    std::lock_guard lock(ModelMutex());
    return info_.powerFirmware;
}

uint32_t ReceiverModel::CommandRate()
{
    std::lock_guard lock(ModelMutex());
    return commands_ ? commands_->Rate() : config_.commands.rate;
}

bool ReceiverModel::EchoOn()
{
    std::lock_guard lock(ModelMutex());
    return commands_ && commands_->Echo();
}

bool ReceiverModel::RtsCtsOn()
{
    std::lock_guard lock(ModelMutex());
    return commands_ && commands_->RtsCts();
}

bool ReceiverModel::FirmwareValid()
{
    std::lock_guard lock(ModelMutex());
    return firmwareValid_;
}

int ReceiverModel::LoadsCompleted()
{
    std::lock_guard lock(ModelMutex());
    return loadsCompleted_;
}

int ReceiverModel::ResendsRequested()
{
    std::lock_guard lock(ModelMutex());
    return resends_ + (flash_ ? flash_->ResendsRequested() : 0);
}

std::vector<uint8_t> ReceiverModel::FlashContents()
{
    std::lock_guard lock(ModelMutex());
    return flashContents_;
}

std::vector<uint8_t> ReceiverModel::LastRamImage()
{
    std::lock_guard lock(ModelMutex());
    return lastRamImage_;
}

std::string ReceiverModel::LastError()
{
    std::lock_guard lock(ModelMutex());
    return lastError_;
}

void ReceiverModel::PowerCycle(SimTime now)
{
    Advance(now);
    std::lock_guard lock(ModelMutex());
    mode_ = Mode::Off;
    timers_.clear();
    ClearOutput();
    SetModemLines(DeviceLines{});
    Arm(Timer::PowerOn, now + SimMs(config_.powerOffMs));
}

// ---- state changes ---------------------------------------------------------------------

const BootLoaderSettings& ReceiverModel::Boot() const
{
    return config_.loadTarget == LoadTarget::PowerBoard ? config_.powerBoardBoot : config_.receiverBoot;
}

SimTime ReceiverModel::FrameGap() const
{
    // Generous against a loader that is merely slow, short against one that has stopped.
    return std::max(SimMs(200), ByteTime(LineRate()) * 64);
}

void ReceiverModel::Arm(Timer timer, SimTime at)
{
    timers_[timer] = at;
    WakeAt(at);
}

void ReceiverModel::Restart(SimTime now)
{
    if (flash_ && !flash_->Done() && flash_->BlocksAccepted() > 0)
        lastError_ = "load broken off after " + std::to_string(flash_->BlocksAccepted()) + " blocks";
    if (flash_)
        resends_ += flash_->ResendsRequested();
    session_.reset();
    flash_.reset();
    commands_.reset();
    timers_.clear();
    captureRun_ = 0;
    SetHoldWhileRtsOff(false);
    mode_ = Mode::BootWindow;
    // Without a valid firmware there is nothing to start: the boot loader waits for ever.
    if (firmwareValid_)
        Arm(Timer::WindowEnd, now + SimMs(config_.captureWindowMs));
}

void ReceiverModel::StartFirmware()
{
    mode_ = Mode::Firmware;
    commands_ = std::make_unique<ReceiverCommandMode>(config_.commands, &info_);
    SetLineRate(commands_->Rate() / config_.rateMultiple);
    SetHoldWhileRtsOff(commands_->RtsCts());
}

void ReceiverModel::Send1(uint8_t byte, SimTime now, int delayMs)
{
    Send(&byte, 1, now, SimMs(delayMs));
}

void ReceiverModel::SendAll(const std::vector<uint8_t>& bytes, SimTime now)
{
    Send(bytes.data(), bytes.size(), now);
}

void ReceiverModel::Fail(const std::string& why, SimTime now)
{
    lastError_ = why;
    session_.reset();
    if (flash_)
        resends_ += flash_->ResendsRequested();
    flash_.reset();
    timers_.clear();
    mode_ = Mode::Quiet;
    Arm(Timer::QuietEnd, now + kQuietGap);
}

void ReceiverModel::Fire(Timer timer, SimTime now)
{
    switch (timer) {
    case Timer::WindowEnd:
        if (mode_ == Mode::BootWindow && firmwareValid_)
            StartFirmware();
        break;
    case Timer::PowerOn:
        SetModemLines(DeviceLines{true, true});
        Restart(now);
        break;
    case Timer::PowerCycle:
        mode_ = Mode::Off;
        timers_.clear();
        ClearOutput();
        SetModemLines(DeviceLines{});
        Arm(Timer::PowerOn, now + SimMs(config_.powerOffMs));
        break;
    case Timer::Idle:
        if (now - lastHeard_ >= SimMs(config_.sessionIdleMs)) {
            lastError_ = "boot-loader session idle";
            Restart(now);
        } else {
            Arm(Timer::Idle, lastHeard_ + SimMs(config_.sessionIdleMs));
        }
        break;
    case Timer::FrameGap:
        if (mode_ != Mode::FlashBlocks || !flash_ || !flash_->FrameInProgress())
            break;
        if (now - lastHeard_ >= FrameGap()) {
            std::vector<uint8_t> reply;
            flash_->AbandonFrame(reply);
            SendAll(reply, now);
        } else {
            Arm(Timer::FrameGap, lastHeard_ + FrameGap());
        }
        break;
    case Timer::QuietEnd:
        if (now - lastHeard_ >= kQuietGap)
            Restart(now);
        else
            Arm(Timer::QuietEnd, lastHeard_ + kQuietGap);
        break;
    case Timer::Written:
        ImageWritten(now);
        break;
    }
}

void ReceiverModel::OnTime(SimTime now)
{
    for (;;) {
        auto due = std::min_element(timers_.begin(), timers_.end(),
                                    [](const auto& a, const auto& b) { return a.second < b.second; });
        if (due == timers_.end() || due->second > now)
            return;
        const Timer timer = due->first;
        timers_.erase(due);
        Fire(timer, now);
    }
}

void ReceiverModel::OnLines(const PcLines& before, const PcLines& after, SimTime now)
{
    if (!before.dtr && after.dtr) {
        dtrRoseAt_ = now;
        return;
    }
    if (before.dtr && !after.dtr && dtrRoseAt_) {
        const bool pulse = now - *dtrRoseAt_ <= kDtrPulseLongest;
        dtrRoseAt_.reset();
        if (pulse && config_.resetOnDtrPulse && mode_ != Mode::Off)
            Restart(now);
    }
}

// ---- what the device hears -------------------------------------------------------------

void ReceiverModel::OnByte(const HeardByte& byte, SimTime now)
{
    lastHeard_ = now;
    switch (mode_) {
    case Mode::Off:
    case Mode::Writing:
    case Mode::Quiet:
        break;
    case Mode::BootWindow:
        WatchCaptureStream(byte, now);
        HearInWindow(byte, now);
        break;
    case Mode::BootLoader:
        HearInBootLoader(byte, now);
        break;
    case Mode::FlashBlocks:
        HearFlashBlock(byte, now);
        break;
    case Mode::Firmware:
        WatchCaptureStream(byte, now);
        HearCommand(byte, now);
        break;
    }
}

void ReceiverModel::WatchCaptureStream(const HeardByte& byte, SimTime now)
{
    // Power-on capture: the user sees the prompt and switches the device off and on. What
    // starts the stopwatch is the stream itself, at whatever rate it comes.
    captureRun_ = byte.sent == boot::kCaptureFill ? captureRun_ + 1 : 0;
    if (captureRun_ == kCaptureRunBytes && config_.powerCycleAfterMs >= 0 && !timers_.count(Timer::PowerCycle))
        Arm(Timer::PowerCycle, now + SimMs(config_.powerCycleAfterMs));
}

void ReceiverModel::HearInWindow(const HeardByte& byte, SimTime now)
{
    if (byte.sent != boot::kCaptureFill)
        return;
    // The boot loader times the capture byte's bits and takes the PC's rate from it.
    SetLineRate(byte.pcRate);
    Disarm(Timer::WindowEnd);
    mode_ = Mode::BootLoader;
    session_ = std::make_unique<BootLoaderSession>(Boot());
    lastRequestSent_ = now;
    Send1(boot::kRequest, now);
    Arm(Timer::Idle, now + SimMs(config_.sessionIdleMs));
}

void ReceiverModel::HearInBootLoader(const HeardByte& byte, SimTime now)
{
    if (session_->CurrentStage() == BootLoaderSession::Stage::Handshake && session_->HandshakesHeard() == 0 &&
        byte.value == boot::kCaptureFill) {
        if (now - lastRequestSent_ >= kRequestRepeat) {
            lastRequestSent_ = now;
            Send1(boot::kRequest, now);
        }
        return;
    }
    std::vector<uint8_t> reply;
    const BootLoaderSession::Outcome outcome = session_->Feed(byte.value, reply);
    SendAll(reply, now);
    switch (outcome) {
    case BootLoaderSession::Outcome::None:
        break;
    case BootLoaderSession::Outcome::RamLoaded:
        RamImageLoaded(now);
        break;
    case BootLoaderSession::Outcome::Refused:
        lastError_ = "loader refused the device";
        Restart(now);
        break;
    case BootLoaderSession::Outcome::Failed:
        Fail(session_->Error(), now);
        break;
    }
}

void ReceiverModel::RamImageLoaded(SimTime now)
{
    lastRamImage_ = session_->RamImage();
    finalAck_ = session_->FinalAckRequested();
    session_.reset();
    if (config_.loadTarget == LoadTarget::PowerBoard) {
        // The power board's image is its firmware: it writes it and restarts.
        mode_ = Mode::Writing;
        Disarm(Timer::Idle);
        Arm(Timer::Written, now + SimMs(config_.flashWriteMs));
        return;
    }
    // The RAM image runs the Flash block receiver, which asks for the first block.
    mode_ = Mode::FlashBlocks;
    flash_ = std::make_unique<FlashBlockReceiver>(config_.flashLimit, config_.flashFaults);
    Send1(boot::kRequest, now, kRamProgramStartMs);
}

void ReceiverModel::HearFlashBlock(const HeardByte& byte, SimTime now)
{
    const bool started = flash_->FrameInProgress();
    std::vector<uint8_t> reply;
    const FlashBlockReceiver::Outcome outcome = flash_->Feed(byte.value, reply);
    heldEndReply_.clear();
    if (outcome == FlashBlockReceiver::Outcome::Finished && config_.endAckWithFinal)
        heldEndReply_.swap(reply);
    SendAll(reply, now);
    // The first accepted block erases the old firmware.
    if (flash_->BlocksAccepted() > 0 || outcome == FlashBlockReceiver::Outcome::Finished)
        firmwareValid_ = false;
    if (!started && flash_->FrameInProgress())
        Arm(Timer::FrameGap, now + FrameGap());
    if (outcome == FlashBlockReceiver::Outcome::Failed) {
        Fail(flash_->Error(), now);
    } else if (outcome == FlashBlockReceiver::Outcome::Finished) {
        // The image is written before the final acknowledgement, so that byte never shares
        // a burst with the end frame's acceptance.
        mode_ = Mode::Writing;
        timers_.clear();
        Arm(Timer::Written, now + SimMs(config_.flashWriteMs));
    }
}

void ReceiverModel::ImageWritten(SimTime now)
{
    ++loadsCompleted_;
    if (config_.loadTarget == LoadTarget::PowerBoard) {
        if (!lastRamImage_.empty()) {
            const std::string version = RamImageVersion(lastRamImage_);
            info_.powerFirmware = version.empty() ? kUnknownVersion : version;
        }
        firmwareValid_ = !config_.noStartAfterLoad;
        Restart(now);
        return;
    }
    flashContents_ = flash_->Image();
    const std::string version = FlashImageVersion(flashContents_);
    info_.firmware = version.empty() ? kUnknownVersion : version;
    firmwareValid_ = !config_.noStartAfterLoad;
    if (finalAck_)
        heldEndReply_.push_back(boot::kAcknowledge);
    SendAll(heldEndReply_, now);
    heldEndReply_.clear();
    Restart(now + SimMs(kRestartAfterWriteMs));
}

void ReceiverModel::HearCommand(const HeardByte& byte, SimTime now)
{
    if (commands_->Echo())
        Send(&byte.value, 1, now);
    const std::optional<ReceiverCommandMode::Outcome> outcome = commands_->Feed(byte.value, byte.garbled);
    if (!outcome)
        return;
    Send(outcome->reply, now, SimMs(config_.replyDelayMs));
    // The reply goes out at the old rate; what follows is at the new one.
    SetLineRate(commands_->Rate() / config_.rateMultiple);
    SetHoldWhileRtsOff(commands_->RtsCts());
    if (outcome->action == ReceiverCommandMode::Action::Restart)
        Restart(now);
}

}  // namespace kestrum
