#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/serial_line_batch.h"

namespace kestrum {

// Line settings of a serial device.
struct SerialLineSettings {
    enum class Parity { None, Odd, Even };
    enum class Flow { None, RtsCts, XonXoff };

    uint32_t baudRate = 115200;
    int dataBits = 8;       // 5..8
    Parity parity = Parity::None;
    int stopBits = 1;       // 1 or 2
    Flow flow = Flow::None;
};

// Cumulative line-error counters as the driver keeps them.
struct SerialErrorCounts {
    uint32_t framing = 0;
    uint32_t parity = 0;
    uint32_t overrun = 0;        // hardware overrun
    uint32_t bufferOverrun = 0;  // driver input buffer overrun
    uint32_t breaks = 0;
};

// Why an open failed; the port turns this into the user's text. Cancelled: the cancel
// check (SetCancelCheck) said so while the open waited.
enum class SerialOpenError { None, NotFound, Busy, Permission, Other, Cancelled };

// What became of the low-latency mode a device asks its driver for when it opens: a USB
// adapter then passes received bytes on at once instead of holding them for its latency
// timer. NotAsked: the device has no such mode (a network port, a simulated device).
enum class LowLatencyMode { NotAsked, Granted, AlreadyOn, Refused };

// One serial device, whatever carries it: a termios device, a network serial port, or
// an in-process simulated device in tests. CSerialPort is written once over this.
//
// Threading: one owner thread calls everything, except that a receive thread may call
// Wait, Read, InputQueued and ErrorCounts concurrently with the owner's writes and line
// changes, and any thread may call Release. Implementations must allow exactly that.
class ISerialDevice {
public:
    // Bits of Wait's request and result.
    static constexpr int kReadable = 1;     // input bytes are waiting
    static constexpr int kWritable = 2;     // room in the output queue
    static constexpr int kLineError = 4;    // an error counter moved
    static constexpr int kReleased = 8;     // Release was called (the request is consumed)
    static constexpr int kGone = 16;        // the device has disappeared or the peer closed
    static constexpr int kTimeout = 0;

    virtual ~ISerialDevice() = default;

    // Opens exclusively. On failure returns false; OpenError and OpenErrorText tell why.
    virtual bool Open(const std::string& name) = 0;
    virtual SerialOpenError OpenError() const = 0;
    virtual std::string OpenErrorText() const = 0;  // the system's own words, for logs
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;
    // Since the last successful Open; a granted mode is taken back by Close.
    virtual LowLatencyMode LowLatency() const { return LowLatencyMode::NotAsked; }

    // Until a new check is set (an empty one ends it), every wait for the far end (an
    // open that negotiates, a settings change the far end confirms) gives up once
    // cancelled() has returned true: the device remembers that answer, so an auto-reset
    // event can be the source. Called on the waiting owner thread, every few tens of
    // milliseconds, never with a lock of the device held. Devices that never wait for a
    // far end ignore it.
    virtual void SetCancelCheck(std::function<bool()> cancelled) { (void)cancelled; }

    virtual bool GetSettings(SerialLineSettings& settings) = 0;
    virtual bool ApplySettings(const SerialLineSettings& settings) = 0;

    // Never block. Write returns the bytes accepted (0 when the queue is full), Read the
    // bytes delivered (0 when none); both return -1 when the device has gone.
    virtual long Write(const uint8_t* data, size_t count) = 0;
    virtual long Read(uint8_t* data, size_t room) = 0;

    // Blocks until one of the requested conditions holds, the device goes, or timeoutMs
    // passes (negative: no limit). Returns the bits that hold. kGone is always watched.
    // kLineError holds while the counters differ from what ErrorCounts last returned.
    // Only a request that includes kReleased is ended by Release, so a second thread's
    // short wait (a blocking write on the owner thread) cannot swallow the release meant
    // for the receive thread.
    virtual int Wait(int request, int timeoutMs) = 0;
    // Ends a pending Wait that watches kReleased (or the next such one) with kReleased;
    // callable from any thread.
    virtual void Release() = 0;

    virtual long InputQueued() = 0;   // bytes received and not read; -1 on failure
    virtual long OutputQueued() = 0;  // bytes written and not yet sent; -1 on failure
    // Waits until every written byte has left, at most timeoutMs; true when it has.
    virtual bool Drain(int timeoutMs) = 0;
    // Discard bytes not yet read / not yet sent. Bytes already sent are never affected.
    virtual void DiscardInput() = 0;
    virtual void DiscardOutput() = 0;

    virtual bool SetDtr(bool on) = 0;
    virtual bool SetRts(bool on) = 0;
    virtual bool SetBreak(bool on) = 0;
    // Current DSR and CTS; reflects every line change made before the call.
    virtual bool GetModemStatus(bool& dsr, bool& cts) = 0;

    // Carries out the batch's steps in order and returns once all of them have reached
    // the device, at the first one that fails, or when stopped (may be empty; asked on
    // the calling thread every few tens of milliseconds, never with a lock of the device
    // held) says so. A fixed wait begun after it returns therefore holds at the device.
    // This one makes the calls above one by one; a device whose calls each wait for a far
    // end sends the whole batch at once instead.
    virtual LineBatchResult RunLineBatch(const SerialLineBatch& batch, const std::function<bool()>& stopped);

    // false when the device keeps no counters.
    virtual bool ErrorCounts(SerialErrorCounts& counts) = 0;
};

// "Lost connection with port NAME: " and the reason, once the device has gone and says why
// (a network server that stopped answering); empty while it is there or when it does not.
std::string LostConnectionText(ISerialDevice& device, const std::string& portName);

}  // namespace kestrum
