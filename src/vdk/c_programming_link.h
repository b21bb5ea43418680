#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/bit_bang_port.h"
#include "platform/c_bit_bang_lines.h"
#include "platform/serial_device.h"
#include "vdk/vdk_waits.h"

namespace kestrum {

// The VDK-1's SPI programming interface, driven bit by bit through the control lines of
// a serial port opened for this alone (not a CPort): DTR holds the unit in programming
// mode, RTS is the clock, the break state of the transmit line carries data to the unit
// (break = 0) and DSR carries data from it (DSR on = 0, so read bytes are inverted).
//
// A programming run makes millions of line changes, so the link remembers the state of
// every line it drives and only asks for a change when a line really changes, and it
// hands the changes to the device in batches (SerialLineBatch) rather than one by one:
// over a network port a batch costs one round trip, however many bits it reads back.
// Changes wait in the link until a read needs its answers, a pause begins, the unit is
// released, or kMaxBatchSteps have gathered; a batch returns once the unit has had every
// change in it, so a pause always holds at the unit.
//
// A line operation that fails (most often: the adapter was unplugged) is not retried:
// the link touches the device no more, every later operation fails at once, and
// LastError names the port, so a run ends there instead of clocking into nothing. A
// batch ended by the stop check ends the link's use of the device the same way, with
// Stopped set instead.
//
// On an FTDI adapter the same lines can be carried by the chip's synchronous bit-bang mode
// instead (OpenBitBang): each batch is then one USB transfer of pin states, not a USB
// control transfer per change. Everything else about the link stays as it is.
class CProgrammingLink {
public:
    using DeviceFactory = std::function<std::unique_ptr<ISerialDevice>(const std::string& name)>;

    static constexpr uint32_t kBaudRate = 115200;
    static constexpr size_t kMaxBatchSteps = 1 << 16;

    // An empty factory opens ports through the platform's CreateSerialDevice.
    explicit CProgrammingLink(DeviceFactory factory = {}, VdkWaits waits = {});
    ~CProgrammingLink();
    CProgrammingLink(const CProgrammingLink&) = delete;
    CProgrammingLink& operator=(const CProgrammingLink&) = delete;

    // Opens portName at baudRate, 8N1, without handshaking, keeping the settings found
    // so that Close puts them back. A link already open is closed first. On failure
    // OpenFailureDetail and LastError say why.
    // cancelled, when given, is asked while a slow open (a network port) waits, and ends it.
    bool Open(const std::string& portName, uint32_t baudRate = kBaudRate, std::function<bool()> cancelled = {});
    // Reaches the lines of portName through its adapter's bit-bang mode instead, the
    // adapter being at device; the serial port itself is not opened. A link already open
    // is closed first. On failure LastError says why (the adapter's own words).
    bool OpenBitBang(const std::string& portName, std::unique_ptr<IBitBangPort> port,
                     const UsbDeviceLocation& device, uint32_t statesPerSecond);
    // Drops the changes not yet carried out, puts the saved settings back (or gives the
    // adapter back to its driver) and closes; false when the settings could not be put
    // back (the port is closed all the same).
    bool Close();
    bool IsOpen() const { return device_ != nullptr || pins_ != nullptr; }
    bool IsBitBang() const { return pins_ != nullptr; }
    const std::string& PortName() const { return portName_; }

    // Asked on the calling thread while a batch runs (every few tens of milliseconds); a
    // yes ends the batch, and the operation that ran it fails with Stopped set.
    void SetStopCheck(std::function<bool()> stopped) { stopCheck_ = std::move(stopped); }

    // The system's own words for a failed open; empty when it has none to give.
    const std::string& OpenFailureDetail() const { return openFailureDetail_; }
    // What the system tells beyond LastError of a failed open, one line each.
    const std::vector<std::string>& OpenDiagnosis() const { return openDiagnosis_; }
    // The user's text for the last failure: why the port did not open, or which port
    // was lost when a line operation failed.
    const std::string& LastError() const { return lastError_; }
    // A line operation has failed since the link was opened.
    bool LineFailed() const { return lineFailed_; }
    // The stop check has ended a batch since the link was opened.
    bool Stopped() const { return stopped_; }

    // Each of the following is false when a line operation fails or the stop check ends
    // a batch (see LineFailed and Stopped).
    // Drops RTS and DTR, then raises DTR: the unit restarts in programming mode.
    bool ResetPulse();
    // Drops DTR: the unit leaves programming mode and runs its firmware.
    bool Release();
    // Programming enable until the unit echoes 0x53, shifting the bit alignment by one
    // clock after each miss; false after kVdkSyncAttempts misses.
    bool Synchronise();
    // Queues 32 bits, most significant first, for the next batch.
    bool SendCommand(uint32_t command);
    // Carries out everything queued, then waits ms.
    bool Pause(int ms);
    // Reads Flash byte n.
    bool ReadByte(uint32_t address, uint8_t& value);
    // Reads values.size() bytes from address on in one batch. Returns how many were read
    // before a failure: all of them unless LineFailed or Stopped.
    size_t ReadBytes(uint32_t address, std::span<uint8_t> values);

    const VdkWaits& Waits() const { return waits_; }
    // Line operations (changes and modem reads) handed to the device since construction.
    uint64_t LineOperations() const { return lineOperations_; }
    // Pin states handed to a bit-bang adapter since construction.
    uint64_t PinStates() const { return pinStates_ + (pins_ ? pins_->StatesWritten() : 0); }

private:
    bool FailOpen(std::unique_ptr<ISerialDevice>& device, const std::string& text);
    void StartUse(const std::string& portName);
    bool RestoreSettings();
    void QueueBits(uint32_t bits, int count);
    void QueueReadBits();
    uint8_t AssembleByte(size_t firstRead) const;
    void SetData(bool one);
    void ClockPulse();
    void SetLine(std::optional<bool>& state, bool on, SerialLineBatch::Step off,
                 SerialLineBatch::Step onStep);
    bool RunBatch();
    bool LineUsable() const;
    void NoteBatchEnd(const LineBatchResult& result);

    DeviceFactory factory_;
    VdkWaits waits_;
    std::function<bool()> stopCheck_;
    std::unique_ptr<ISerialDevice> device_;
    std::unique_ptr<CBitBangLines> pins_; // instead of device_, in bit-bang mode
    uint64_t pinStates_ = 0;
    std::string portName_;
    SerialLineSettings saved_;
    std::string openFailureDetail_;
    std::vector<std::string> openDiagnosis_;
    std::string lastError_;
    bool lineFailed_ = false;
    bool stopped_ = false;
    // The lines as they will be once the queued changes are carried out; unknown until
    // the link has set a line itself.
    std::optional<bool> dtr_;
    std::optional<bool> rts_;
    std::optional<bool> breakOn_;
    SerialLineBatch queued_;
    std::vector<ModemLines> answers_; // of the reads carried out since the reader began
    uint64_t lineOperations_ = 0;
};

}  // namespace kestrum
