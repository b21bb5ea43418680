// The FTDI bit-bang port through libftdi1 (CMake picks this file when libftdi1 is found).
#include "platform/ftdi_bit_bang_port.h"

#include <ftdi.h>
#include <libusb.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace kestrum {

namespace {

using Clock = std::chrono::steady_clock;

// Each USB request's own bound; a transfer as a whole is bounded by its length (below).
constexpr int kUsbTimeoutMs = 1000;
// The chip holds back the samples of a transfer's last, short packet for its latency
// timer: 1 ms instead of the usual 16 keeps that from adding up over hundreds of transfers.
constexpr unsigned char kLatencyMs = 1;
// A transfer may take this many times its length at the pin rate, plus the margin, before
// it counts as failed: USB shares the bus and the host with other work.
constexpr int kTransferSlack = 4;
constexpr auto kTransferMargin = std::chrono::seconds(2);
constexpr auto kEventStep = std::chrono::milliseconds(20);
constexpr timeval kCancelWait{1, 0};

class FtdiBitBangPort : public IBitBangPort {
public:
    ~FtdiBitBangPort() override { Close(); }

    bool Open(const UsbDeviceLocation& device, uint8_t outputs, uint32_t statesPerSecond) override;
    Transfer Exchange(std::span<const uint8_t> states, std::span<uint8_t> samples) override;
    void Close() override;
    std::string LastError() const override { return error_; }

private:
    bool Claim(const UsbDeviceLocation& device);
    bool Fail(const std::string& what);
    Transfer FailTransfer(const std::string& what, bool gone);
    bool WaitFor(ftdi_transfer_control* transfer, Clock::time_point deadline);
    static bool DeviceGone(const ftdi_transfer_control* transfer);
    int Finish(ftdi_transfer_control* transfer, bool completed, bool& gone);

    ftdi_context* context_ = nullptr;
    bool claimed_ = false;
    bool bitBang_ = false;
    bool latencyKept_ = false;
    unsigned char latencyFound_ = 0;
    uint32_t statesPerSecond_ = 1;
    std::string error_;
};

std::string DeviceNode(const UsbDeviceLocation& device)
{
    char node[40];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", device.bus, device.address);
    return node;
}

bool FtdiBitBangPort::Fail(const std::string& what)
{
    error_ = what;
    if (context_ != nullptr)
        error_ += std::string(" (") + ftdi_get_error_string(context_) + ")";
    Close();
    return false;
}

// The node is checked first: libftdi's own words for a node the user may not open do not
// say that this is the cause.
bool FtdiBitBangPort::Claim(const UsbDeviceLocation& device)
{
    const std::string node = DeviceNode(device);
    if (::access(node.c_str(), F_OK) != 0) {
        error_ = "the USB device " + node + " is not there";
        return false;
    }
    if (::access(node.c_str(), R_OK | W_OK) != 0) {
        error_ = "no permission to use " + node + " (the README's udev rule gives it to the group plugdev)";
        return false;
    }
    if (device.interfaceNumber < 0 || device.interfaceNumber > INTERFACE_D - INTERFACE_A) {
        error_ =
            "the adapter's interface " + std::to_string(device.interfaceNumber) + " has no bit-bang mode";
        return false;
    }
    context_ = ftdi_new();
    if (context_ == nullptr) {
        error_ = "libftdi1 could not start";
        return false;
    }
    context_->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    context_->usb_read_timeout = kUsbTimeoutMs;
    context_->usb_write_timeout = kUsbTimeoutMs;
    if (ftdi_set_interface(context_, static_cast<ftdi_interface>(INTERFACE_A + device.interfaceNumber)) < 0 ||
        ftdi_usb_open_bus_addr(context_, static_cast<uint8_t>(device.bus),
                               static_cast<uint8_t>(device.address)) < 0)
        return Fail("the USB device " + node + " cannot be opened");
    claimed_ = true;
    return true;
}

bool FtdiBitBangPort::Open(const UsbDeviceLocation& device, uint8_t outputs, uint32_t statesPerSecond)
{
    Close();
    error_.clear();
    if (!Claim(device))
        return false;
    latencyKept_ = ftdi_get_latency_timer(context_, &latencyFound_) == 0;
    if (ftdi_set_latency_timer(context_, kLatencyMs) < 0)
        return Fail("the adapter's latency timer cannot be set");
    if (ftdi_set_bitmode(context_, outputs, BITMODE_SYNCBB) < 0)
        return Fail("the adapter refuses synchronous bit-bang mode");
    bitBang_ = true;
    // libftdi takes the rate of a bit-bang mode in states per second and scales it for the chip.
    statesPerSecond_ = std::max<uint32_t>(statesPerSecond, 1);
    if (ftdi_set_baudrate(context_, static_cast<int>(statesPerSecond_)) < 0)
        return Fail("the adapter refuses a pin rate of " + std::to_string(statesPerSecond_) +
                    " states a second");
    if (ftdi_tcioflush(context_) < 0)
        return Fail("the adapter's buffers cannot be emptied");
    return true;
}

void FtdiBitBangPort::Close()
{
    if (context_ == nullptr)
        return;
    if (bitBang_)
        ftdi_set_bitmode(context_, 0, BITMODE_RESET);
    if (latencyKept_)
        ftdi_set_latency_timer(context_, latencyFound_);
    // Releasing the interface is what attaches the kernel driver again.
    if (claimed_)
        ftdi_usb_close(context_);
    ftdi_free(context_);
    context_ = nullptr;
    claimed_ = bitBang_ = latencyKept_ = false;
}

bool FtdiBitBangPort::DeviceGone(const ftdi_transfer_control* transfer)
{
    return transfer->transfer != nullptr && transfer->transfer->status == LIBUSB_TRANSFER_NO_DEVICE;
}

// libftdi's own wait polls without sleeping; this one sleeps in the USB event loop and
// gives up at the deadline.
bool FtdiBitBangPort::WaitFor(ftdi_transfer_control* transfer, Clock::time_point deadline)
{
    while (!transfer->completed) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return false;
        const auto step = std::chrono::duration_cast<std::chrono::microseconds>(
            std::min<Clock::duration>(left, kEventStep));
        timeval wait{0, static_cast<suseconds_t>(step.count())};
        const int handled =
            libusb_handle_events_timeout_completed(context_->usb_ctx, &wait, &transfer->completed);
        if (handled < 0 && handled != LIBUSB_ERROR_INTERRUPTED)
            return false;
    }
    return true;
}

// Frees the transfer; the bytes it moved, or -1.
int FtdiBitBangPort::Finish(ftdi_transfer_control* transfer, bool completed, bool& gone)
{
    gone = gone || DeviceGone(transfer);
    if (completed)
        return ftdi_transfer_data_done(transfer);
    timeval wait = kCancelWait;
    ftdi_transfer_data_cancel(transfer, &wait);
    return -1;
}

IBitBangPort::Transfer FtdiBitBangPort::FailTransfer(const std::string& what, bool gone)
{
    error_ = gone ? "the adapter has gone" : what;
    return gone ? Transfer::Gone : Transfer::Failed;
}

// The read of the samples is under way before the first state goes out: the chip moves
// pins only while it has room to return their samples.
IBitBangPort::Transfer FtdiBitBangPort::Exchange(std::span<const uint8_t> states, std::span<uint8_t> samples)
{
    if (context_ == nullptr || !bitBang_)
        return FailTransfer("the adapter is not in bit-bang mode", false);
    const int count = static_cast<int>(std::min(states.size(), samples.size()));
    if (count == 0)
        return Transfer::Done;
    const auto deadline =
        Clock::now() + kTransferMargin +
        std::chrono::microseconds(int64_t{count} * 1000000 * kTransferSlack / statesPerSecond_);
    ftdi_transfer_control* read = ftdi_read_data_submit(context_, samples.data(), count);
    if (read == nullptr)
        return FailTransfer("the adapter's samples cannot be asked for", false);
    ftdi_transfer_control* write =
        ftdi_write_data_submit(context_, const_cast<uint8_t*>(states.data()), count);
    if (write == nullptr) {
        bool gone = false;
        Finish(read, false, gone);
        return FailTransfer("the pin states cannot be sent", gone);
    }
    const bool written = WaitFor(write, deadline);
    const bool sampled = written && WaitFor(read, deadline);
    bool gone = false;
    const int sent = Finish(write, written, gone);
    const int got = Finish(read, sampled, gone);
    if (sent != count || got != count)
        return FailTransfer("the adapter did not return the samples in time", gone);
    return Transfer::Done;
}

} // namespace

std::unique_ptr<IBitBangPort> CreateFtdiBitBangPort()
{
    return std::make_unique<FtdiBitBangPort>();
}

} // namespace kestrum
