#include "sim/ft232r_model.h"

#include <algorithm>
#include <thread>

#include "sim/sim_serial_device.h"

namespace kestrum {

namespace {

constexpr uint8_t kTxd = 1 << 0;
constexpr uint8_t kRtsN = 1 << 2;
constexpr uint8_t kCtsN = 1 << 3;
constexpr uint8_t kDtrN = 1 << 4;
constexpr uint8_t kDsrN = 1 << 5;

constexpr const char* kNotFound = "device not found";

bool SameDevice(const UsbDeviceLocation& a, const UsbDeviceLocation& b)
{
    return a.bus == b.bus && a.address == b.address && a.interfaceNumber == b.interfaceNumber;
}

} // namespace

Ft232rModel::Ft232rModel(std::shared_ptr<DeviceModel> unit, Options options)
    : unit_(std::move(unit)), options_(std::move(options))
{
}

// The order of libftdi's open: claim the device (the driver goes), then the mode.
bool Ft232rModel::Open(const UsbDeviceLocation& device, uint8_t outputs, uint32_t statesPerSecond,
                       std::string& error)
{
    Close();
    if (unplugged_ || !SameDevice(device, options_.location)) {
        error = kNotFound;
        return false;
    }
    if (!options_.openRefusal.empty()) {
        error = options_.openRefusal;
        return false;
    }
    if (!HoldSimModel(unit_.get())) {
        error = "unable to claim usb device: its serial port is in use";
        return false;
    }
    driverAttached_ = false;
    ++detaches_;
    if (!options_.synchronousBitBang || statesPerSecond == 0) {
        error = "unable to configure bitbang mode";
        UnholdSimModel(unit_.get());
        driverAttached_ = true;
        return false;
    }
    bitBang_ = true;
    outputs_ = outputs;
    latch_ = 0xFF; // the levels the UART left: TXD idle, RTS# and DTR# off
    statesPerSecond_ = statesPerSecond;
    clock_ = SimNow();
    lines_ = CableLines(Levels());
    unit_->Attach(lines_, clock_);
    return true;
}

void Ft232rModel::Close()
{
    if (!bitBang_)
        return;
    bitBang_ = false;
    unit_->Detach(std::max(SimNow(), clock_));
    UnholdSimModel(unit_.get());
    driverAttached_ = !unplugged_;
}

void Ft232rModel::Unplug()
{
    unplugged_ = true;
}

// Output pins show the latch; the others what drives them from outside.
uint8_t Ft232rModel::Levels() const
{
    return static_cast<uint8_t>((latch_ & outputs_) | (0xFF & ~outputs_));
}

PcLines Ft232rModel::CableLines(uint8_t levels) const
{
    return PcLines{(levels & kDtrN) == 0, (levels & kRtsN) == 0, (levels & kTxd) == 0};
}

uint8_t Ft232rModel::Sample() const
{
    const DeviceLines far = unit_->Modem();
    uint8_t levels = Levels();
    if (far.dsr && !(outputs_ & kDsrN))
        levels = static_cast<uint8_t>(levels & ~kDsrN);
    if (far.cts && !(outputs_ & kCtsN))
        levels = static_cast<uint8_t>(levels & ~kCtsN);
    return levels;
}

SimTime Ft232rModel::TickTime(SimTime start, size_t index) const
{
    if (!options_.paced)
        return start;
    return start + SimTime(static_cast<int64_t>((index + 1) * 1000000ULL / statesPerSecond_));
}

IBitBangPort::Transfer Ft232rModel::Exchange(std::span<const uint8_t> states, std::span<uint8_t> samples,
                                             std::string& error)
{
    if (!bitBang_) {
        error = "not in bit-bang mode";
        return IBitBangPort::Transfer::Failed;
    }
    ++transfers_;
    const size_t count = std::min(states.size(), samples.size());
    const SimTime start = std::max(SimNow(), clock_);
    for (size_t i = 0; i < count; ++i) {
        if (i == count / 2 && midway_)
            midway_();
        if (unplugged_) {
            error = "the adapter has gone";
            return IBitBangPort::Transfer::Gone;
        }
        samples[i] = Sample();
        latch_ = states[i];
        clock_ = TickTime(start, i);
        const PcLines lines = CableLines(Levels());
        if (lines != lines_)
            unit_->ChangeLines(lines, clock_);
        lines_ = lines;
        ++statesClocked_;
    }
    if (options_.paced)
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(clock_)));
    return IBitBangPort::Transfer::Done;
}

} // namespace kestrum
