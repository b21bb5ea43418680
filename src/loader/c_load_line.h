#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/c_serial_port.h"
#include "link/c_status_channel.h"
#include "loader/load_request.h"

namespace kestrum {

// The load's view of its port: one-byte reads that sleep until a byte, their deadline or
// a stop request; direct control of DTR and RTS; and the knowledge that the device has
// gone, so that no stage keeps waiting on a dead line.
class CLoadLine {
public:
    enum class ReadResult { Byte, None, Stopped };

    CLoadLine(CSerialPort& port, LoadRequest& request, CStatusChannel& status);

    CSerialPort& Port() { return port_; }
    LoadRequest& Request() { return request_; }
    const LoadTiming& Timing() const { return request_.timing; }
    CStatusChannel& Status() { return status_; }

    // Reads one byte, waiting at most ms; at least one read is always tried. Bytes handed
    // back with PutBack come first.
    ReadResult ReadByte(int ms, uint8_t& byte);
    // Takes every byte that has arrived (handed-back ones first) without waiting.
    std::vector<uint8_t> TakeArrived();
    // Returns bytes taken but not meant for the taker, so the next read sees them first.
    void PutBack(const uint8_t* data, size_t count);

    bool Stopped() const { return request_.StopRequested(); }
    bool Gone() const { return gone_; }
    // After a write that failed: a device found gone is named as lost, as a read would.
    void NoteIfGone();
    // Sleeps ms unless a stop comes first; false when stopped.
    bool Pause(int ms) { return request_.PauseUnlessStopped(ms); }

    // Line changes straight on the device, each issued twice as the boot loaders expect.
    void DropDtr() { SetLineTwice(&ISerialDevice::SetDtr, false); }
    void RaiseDtr() { SetLineTwice(&ISerialDevice::SetDtr, true); }
    void DropRts() { SetLineTwice(&ISerialDevice::SetRts, false); }

    void SetStatus(const std::string& text) { status_.SetStatus(text); }

private:
    void SetLineTwice(bool (ISerialDevice::*setLine)(bool), bool on);
    void NoteGone();

    CSerialPort& port_;
    LoadRequest& request_;
    CStatusChannel& status_;
    std::deque<uint8_t> held_;  // put back by a reader, read before the port
    bool gone_ = false;
};

}  // namespace kestrum
