#include "sim/vdk1_model.h"

#include <algorithm>

namespace kestrum {

namespace {

constexpr char kFrameStart = '#';
constexpr char kQueryVersion = 'V';
constexpr const char* kAnnounce = "@0p";
constexpr const char* kReplyPrefix = "@2";
constexpr const char* kFailurePrefix = "@3";
constexpr const char* kUnknownFirmware = "?????";
constexpr size_t kFactoryCodeSize = 0x4000;

uint8_t UnitChecksum(const std::string& body)
{
    unsigned sum = 0;
    for (char c : body)
        sum += static_cast<uint8_t>(c);
    return static_cast<uint8_t>((sum & 0x7F) | 0x80);
}

}  // namespace

Vdk1Model::Vdk1Model() : Vdk1Model(Options{}) {}

Vdk1Model::Vdk1Model(Options options) : options_(std::move(options))
{
    if (!options_.firmwareVersion.empty())
        spi_.LoadFlash(FactoryImage(options_.firmwareVersion));
    UpdateDsr();
}

Vdk1SpiTarget::Flash Vdk1Model::FactoryImage(const std::string& firmwareVersion)
{
    Vdk1SpiTarget::Flash image;
    image.fill(0xFF);
    for (size_t n = 0; n < kFactoryCodeSize; ++n)
        image[n] = static_cast<uint8_t>(n * 7 + 3);
    WriteVersionRecord(image, firmwareVersion);
    return image;
}

void Vdk1Model::SlipOnReset(int bits, int resets)
{
    std::lock_guard lock(ModelMutex());
    spi_.SlipOnReset(bits, resets);
}

void Vdk1Model::SetStuckCells(std::set<uint32_t> addresses)
{
    std::lock_guard lock(ModelMutex());
    spi_.SetStuckCells(std::move(addresses));
}

void Vdk1Model::LoadFlash(std::span<const uint8_t, kDisplayUnitImageSize> image)
{
    std::lock_guard lock(ModelMutex());
    Vdk1SpiTarget::Flash flash;
    std::copy(image.begin(), image.end(), flash.begin());
    spi_.LoadFlash(flash);
}

Vdk1SpiTarget::Flash Vdk1Model::FlashMemory() const
{
    std::lock_guard lock(ModelMutex());
    return spi_.FlashMemory();
}

std::optional<std::string> Vdk1Model::ReportedFirmware() const
{
    std::lock_guard lock(ModelMutex());
    return ReportedFirmwareLocked();
}

bool Vdk1Model::InProgrammingMode() const
{
    std::lock_guard lock(ModelMutex());
    return spi_.InReset();
}

int Vdk1Model::ChipErases() const
{
    std::lock_guard lock(ModelMutex());
    return spi_.ChipErases();
}

int Vdk1Model::PagesWritten() const
{
    std::lock_guard lock(ModelMutex());
    return spi_.PagesWritten();
}

uint64_t Vdk1Model::ClocksSinceReset() const
{
    std::lock_guard lock(ModelMutex());
    return spi_.ClocksSinceReset();
}

std::optional<std::string> Vdk1Model::ReportedFirmwareLocked() const
{
    const auto& flash = spi_.FlashMemory();
    if (std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }))
        return std::nullopt;
    return ReadVersionRecord(flash).value_or(kUnknownFirmware);
}

bool Vdk1Model::RunningLocked() const
{
    return options_.present && !spi_.InReset() && nextAnnounce_ != kSimNever;
}

void Vdk1Model::OnLines(const PcLines& before, const PcLines& after, SimTime now)
{
    if (!options_.present)
        return;
    if (after.dtr && !before.dtr) {
        StopFirmware();
        spi_.SetReset(true);
    } else if (!after.dtr && before.dtr && spi_.InReset()) {
        spi_.SetReset(false);
        StartFirmware(now);
    }
    if (after.rts && !before.rts)
        Clock(!after.brk, now);
    UpdateDsr();
}

void Vdk1Model::Clock(bool mosi, SimTime now)
{
    spi_.SetBusy(options_.enforceBusyTimes && now < busyUntil_);
    const int erases = spi_.ChipErases();
    const int pages = spi_.PagesWritten();
    spi_.ClockRising(mosi);
    if (spi_.ChipErases() != erases)
        busyUntil_ = now + options_.eraseBusy;
    else if (spi_.PagesWritten() != pages)
        busyUntil_ = now + options_.pageWriteBusy;
}

void Vdk1Model::OnAttach(SimTime now)
{
    if (!spi_.InReset())
        StartFirmware(now);
}

void Vdk1Model::OnDetach(SimTime)
{
    CancelWakes();
    nextAnnounce_ = kSimNever;
    frameState_ = FrameState::Idle;
}

void Vdk1Model::StartFirmware(SimTime now)
{
    frameState_ = FrameState::Idle;
    nextAnnounce_ = kSimNever;
    if (!options_.present || !ReportedFirmwareLocked())
        return;
    nextAnnounce_ = now + options_.bootTime;
    WakeAt(nextAnnounce_);
}

void Vdk1Model::StopFirmware()
{
    CancelWakes();
    ClearOutput();
    nextAnnounce_ = kSimNever;
    frameState_ = FrameState::Idle;
}

void Vdk1Model::OnTime(SimTime now)
{
    if (!RunningLocked() || now < nextAnnounce_)
        return;
    SendFrame(kAnnounce, now);
    nextAnnounce_ += options_.announcePeriod;
    WakeAt(nextAnnounce_);
}

void Vdk1Model::OnByte(const HeardByte& byte, SimTime now)
{
    if (!RunningLocked() || byte.garbled) {
        frameState_ = FrameState::Idle;
        return;
    }
    switch (frameState_) {
    case FrameState::Idle:
        if (byte.value == kFrameStart)
            frameState_ = FrameState::Command;
        break;
    case FrameState::Command:
        command_ = byte.value;
        if (command_ == kQueryVersion) {
            frameState_ = FrameState::Checksum;
        } else {
            frameState_ = FrameState::Idle;
            SendFrame(std::string(kFailurePrefix) + static_cast<char>(command_), now, options_.replyDelay);
        }
        break;
    case FrameState::Checksum:
        frameState_ = FrameState::Idle;
        Answer(byte.value, now);
        break;
    }
}

void Vdk1Model::Answer(uint8_t checksum, SimTime now)
{
    const uint8_t expected = static_cast<uint8_t>(kFrameStart + command_);
    const std::string letter(1, static_cast<char>(command_));
    if (checksum != expected) {
        SendFrame(kFailurePrefix + letter, now, options_.replyDelay);
        return;
    }
    SendFrame(kReplyPrefix + letter + options_.hardwareVersion + ReportedFirmwareLocked().value_or(kUnknownFirmware),
              now, options_.replyDelay);
}

void Vdk1Model::SendFrame(const std::string& body, SimTime now, SimTime delay)
{
    std::string frame = body;
    frame.push_back(static_cast<char>(UnitChecksum(body)));
    Send(frame, now, delay);
}

void Vdk1Model::UpdateDsr()
{
    const bool dsr = options_.present ? (spi_.InReset() && !spi_.Miso()) : options_.absentDsr;
    SetModemLines(DeviceLines{dsr, false});
}

}  // namespace kestrum
