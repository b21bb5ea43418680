#pragma once

#include "platform/serial_device.h"
#include "sim/device_model.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kestrum {

// A model is held by one open port at a time (a simulated serial device, or the
// simulated adapter's bit-bang mode); a second holder is refused. false: already held.
bool HoldSimModel(const DeviceModel* model);
void UnholdSimModel(const DeviceModel* model);

// An in-process serial device with a simulated device at its far end, so the real port
// code runs against a model in tests. Data, rate, DTR, RTS, break, DSR and CTS all reach the
// model. A line thread moves the PC's bytes to the model and the model's bytes back, paced at
// the character time of the line's rate or, unpaced, as fast as they come.
//
// A model can be attached to one open device at a time; a second open of the same model
// fails as busy, like a port held by another program.
class SimSerialDevice : public ISerialDevice {
public:
    struct Options {
        bool paced = true;           // both sides' bytes take one character time each
        size_t outputRoom = 4096;    // driver output queue
        size_t inputRoom = 65536;    // driver input queue; further bytes are lost as overruns
    };

    // model may be null: the device then never opens ("not found").
    explicit SimSerialDevice(std::shared_ptr<DeviceModel> model);
    SimSerialDevice(std::shared_ptr<DeviceModel> model, Options options);
    ~SimSerialDevice() override;

    bool Open(const std::string& name) override;
    SerialOpenError OpenError() const override;
    std::string OpenErrorText() const override;
    bool IsOpen() const override;
    void Close() override;

    bool GetSettings(SerialLineSettings& settings) override;
    bool ApplySettings(const SerialLineSettings& settings) override;

    long Write(const uint8_t* data, size_t count) override;
    long Read(uint8_t* data, size_t room) override;
    int Wait(int request, int timeoutMs) override;
    void Release() override;

    long InputQueued() override;
    long OutputQueued() override;
    bool Drain(int timeoutMs) override;
    void DiscardInput() override;
    void DiscardOutput() override;

    bool SetDtr(bool on) override;
    bool SetRts(bool on) override;
    bool SetBreak(bool on) override;
    bool GetModemStatus(bool& dsr, bool& cts) override;
    bool ErrorCounts(SerialErrorCounts& counts) override;

    // The cable is pulled: every wait reports kGone, reads and writes fail.
    void InjectDisconnect();

private:
    void LineThread();
    void MoveBytesLocked(SimTime now);
    bool HeldLocked();
    void HearWrittenLocked();
    void HearWrittenBeforeChangeLocked();
    void ClearOutputLocked();
    void MovePcBytesLocked(SimTime now);
    void MoveDeviceBytesLocked(SimTime now);
    SimTime NextEventLocked();
    int ConditionsLocked(int request);
    bool GoneLocked() const;
    PcLines EffectiveLinesLocked() const;
    void LinesChangedLocked();
    void Fail(SerialOpenError error, const std::string& text);

    const std::shared_ptr<DeviceModel> model_;
    const Options options_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;     // waiters: data, room, errors, release, gone
    std::condition_variable lineWakeup_;  // the line thread: new bytes, lines, settings, stop
    std::thread line_;

    bool open_ = false;
    bool stop_ = false;
    bool released_ = false;
    bool disconnected_ = false;
    bool modelGone_ = false;
    SerialOpenError openError_ = SerialOpenError::None;
    std::string openErrorText_;
    SerialLineSettings settings_;
    bool dtr_ = false;
    bool rts_ = false;
    bool break_ = false;
    std::deque<uint8_t> output_;   // written by the PC, not yet on the line
    // Unpaced: when each write's bytes left the PC, so the device hears them then and not
    // when the line thread next runs (late on a busy machine, which shortened pauses).
    struct Written {
        SimTime at;
        size_t count;
    };
    std::deque<Written> writes_;
    SimTime nextOutputAt_{0};       // when the first queued byte has been heard by the device
    SimTime lineThreadDue_{0};      // when the waiting line thread looks again (0: not waiting)
    std::deque<uint8_t> input_;    // received, not yet read
    SerialErrorCounts counts_;
    uint64_t errorsReported_ = 0;
};

}  // namespace kestrum
