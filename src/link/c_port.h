#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/c_byte_buffer.h"
#include "link/c_sliding_buffer.h"
#include "link/c_status_channel.h"
#include "link/line_error_table.h"
#include "link/port_settings.h"
#include "platform/c_event.h"
#include "platform/serial_device.h"

namespace kestrum {

class CReceiveWorker;

// Line events a port waits for.
constexpr uint32_t EV_RXCHAR = 0x01;
constexpr uint32_t EV_ERR = 0x80;

// The port interface every exchange goes through: timed and blocking writes, reads of
// what has arrived, purges, line settings and modem lines, plus a receive buffer filled
// by a worker thread, the rate table with its reply time-outs, a status channel and the
// text of the last error.
//
// Threads: the creating thread owns the port; the receive worker only calls WaitEvent
// and ReadAvailable and appends to the receive buffer.
class CPort {
public:
    static constexpr size_t kReceiveBufferSize = 8192;
    static constexpr size_t kErrorLogSize = 65536;

    CPort();
    virtual ~CPort();
    CPort(const CPort&) = delete;
    CPort& operator=(const CPort&) = delete;

    virtual uint32_t WriteTimed(const uint8_t* data, uint32_t count, int timeoutMs) = 0;
    virtual uint32_t Write(const uint8_t* data, uint32_t count) = 0;
    virtual uint32_t ReadAvailable(uint8_t* buffer, uint32_t max) = 0;
    virtual void PurgeInput() = 0;
    virtual void PurgeOutput() = 0;
    // Blocks until a received byte, a line error, a release by ClosePort, or the loss of
    // the device. false when the port cannot wait any more (not open, device gone).
    virtual bool WaitEvent(uint32_t& mask) = 0;
    // The device, for direct line control (SetDtr, SetRts, SetBreak); null when not open.
    virtual ISerialDevice* GetHandle() = 0;
    virtual uint32_t SendLine(const std::string& text);
    virtual void WaitReceiveStopped() = 0;
    virtual void IsOpen(bool& open) = 0;
    virtual bool SetBaudRate(uint32_t rate);
    virtual int SetHandshake(int mode);
    virtual uint32_t GetBaudRate();
    virtual int GetHandshake();
    virtual bool SetWordLength(int bits);
    virtual bool SetParity(int code);
    virtual bool SetStopBits(int count);
    virtual bool ToggleRts();
    virtual bool ToggleDtr();
    virtual bool ReservedQuery();
    virtual bool ReadSettings();
    virtual int32_t ReservedValue();
    virtual std::string GetPortName();
    virtual std::string SecondName();

    // Starts the receive worker; once, after the rate and handshake are set.
    void StartReceive();
    // The reply time-out of a rate in the rate table; 300 for any other rate.
    uint32_t ReplyTimeout(uint32_t rate) const;
    std::string LastError() const;
    // Counts a line-error report, logs it, signals the error event; returns its text.
    std::string DescribeLineErrors(uint32_t flags);

    // Set by ClosePort; reply waits stop when it is set.
    bool Aborted() const { return abort_; }
    uint32_t LastActivity() const { return lastActivity_; }
    void TouchActivity();

    CByteBuffer& ReceiveBuffer() { return receiveBuffer_; }
    CSlidingBuffer& ErrorLog() { return errorLog_; }
    CStatusChannel& StatusChannel() { return status_; }
    CEvent& ErrorEvent() { return errorEvent_; }
    const PortSettings& Settings() const { return settings_; }
    const std::vector<uint32_t>& Rates() const { return rates_; }

    friend void ClosePort(std::unique_ptr<CPort> port);

protected:
    // Stores the text as the last error and posts it on the status channel.
    void ReportError(const std::string& text);
    // Stops and joins the worker; the derived destructor calls it while the device is
    // still open, since the worker calls the derived WaitEvent.
    void StopReceiveWorker(ISerialDevice* device);
    CReceiveWorker* Worker() { return worker_.get(); }

    std::atomic<uint32_t> lastActivity_;
    CByteBuffer receiveBuffer_{kReceiveBufferSize};
    CSlidingBuffer errorLog_{kErrorLogSize};
    std::unique_ptr<CReceiveWorker> worker_;
    std::atomic<bool> abort_{false};
    PortSettings settings_;
    CEvent errorEvent_{CEvent::ResetMode::Auto};
    std::vector<uint32_t> rates_;
    uint32_t eventMask_ = EV_RXCHAR | EV_ERR;
    std::atomic<uint32_t> currentRate_{115200};
    std::string secondName_;
    std::string portName_;
    std::vector<uint32_t> replyTimeouts_;
    CStatusChannel status_;

private:
    mutable std::mutex lastErrorMutex_;
    std::string lastError_;
    std::mutex lineErrorMutex_; // keeps count and log line of one report together
    LineErrorPortCounts lineErrorCounts_;
};

// Stops reception and destroys the port: abort flag, worker stop, release of the event
// wait, a 200 ms settle, then WaitReceiveStopped. A null port is ignored.
void ClosePort(std::unique_ptr<CPort> port);

} // namespace kestrum
