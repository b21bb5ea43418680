#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "vdk/vdk_waits.h"

namespace kestrum {

// The VDK-1's SPI programming interface, driven bit by bit through the control lines of
// a serial port opened for this alone (not a CPort): DTR holds the unit in programming
// mode, RTS is the clock, the break state of the transmit line carries data to the unit
// (break = 0) and DSR carries data from it (DSR on = 0, so read bytes are inverted).
//
// Each line change costs a call into the driver, and a programming run makes millions
// of them, so the link remembers the state of every line it drives and only calls when
// a line really changes; the modem status is read only when a bit comes back.
//
// A line operation that fails (most often: the adapter was unplugged) is not retried:
// the link touches the device no more, every later operation fails at once, and
// LastError names the port, so a run ends there instead of clocking into nothing.
class CProgrammingLink {
public:
    using DeviceFactory = std::function<std::unique_ptr<ISerialDevice>(const std::string& name)>;

    static constexpr uint32_t kBaudRate = 115200;

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
    // Puts the saved settings back and closes; false when the settings could not be
    // put back (the port is closed all the same).
    bool Close();
    bool IsOpen() const { return device_ != nullptr; }
    const std::string& PortName() const { return portName_; }

    // The system's own words for a failed open; empty when it has none to give.
    const std::string& OpenFailureDetail() const { return openFailureDetail_; }
    // What the system tells beyond LastError of a failed open, one line each.
    const std::vector<std::string>& OpenDiagnosis() const { return openDiagnosis_; }
    // The user's text for the last failure: why the port did not open, or which port
    // was lost when a line operation failed.
    const std::string& LastError() const { return lastError_; }
    // A line operation has failed since the link was opened.
    bool LineFailed() const { return lineFailed_; }

    // Each of the following is false when a line operation fails (see LineFailed).
    // Drops RTS and DTR, then raises DTR: the unit restarts in programming mode.
    bool ResetPulse();
    // Drops DTR: the unit leaves programming mode and runs its firmware.
    bool Release();
    // Programming enable until the unit echoes 0x53, shifting the bit alignment by one
    // clock after each miss; false after kVdkSyncAttempts misses.
    bool Synchronise();
    // Sends 32 bits, most significant first.
    bool SendCommand(uint32_t command);
    // Reads Flash byte n.
    bool ReadByte(uint32_t address, uint8_t& value);

    const VdkWaits& Waits() const { return waits_; }
    // Calls made to the device's line operations since construction.
    uint64_t LineOperations() const { return lineOperations_; }

private:
    bool FailOpen(std::unique_ptr<ISerialDevice>& device, const std::string& text);
    bool RestoreSettings();
    bool SendBits(uint32_t bits, int count);
    bool ReadBits(uint8_t& value);
    bool SetData(bool one);
    bool ClockPulse();
    bool SetDtr(bool on);
    bool SetRts(bool on);
    bool SetLine(std::optional<bool>& state, bool on, bool (ISerialDevice::*setLine)(bool));
    bool LineUsable() const;
    bool LineDone(bool succeeded);

    DeviceFactory factory_;
    VdkWaits waits_;
    std::unique_ptr<ISerialDevice> device_;
    std::string portName_;
    SerialLineSettings saved_;
    std::string openFailureDetail_;
    std::vector<std::string> openDiagnosis_;
    std::string lastError_;
    bool lineFailed_ = false;
    // Unknown until the link has set the line itself.
    std::optional<bool> dtr_;
    std::optional<bool> rts_;
    std::optional<bool> breakOn_;
    uint64_t lineOperations_ = 0;
};

}  // namespace kestrum
