#pragma once

#include "platform/serial_device.h"
#include "sim/sim_time.h"
#include "sim/wire_log.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

namespace kestrum {

// Control lines driven by the PC.
struct PcLines {
    bool dtr = false;
    bool rts = false;
    bool brk = false;  // transmit line held in the break state

    bool operator==(const PcLines&) const = default;
};

// Control lines driven by the device.
struct DeviceLines {
    bool dsr = false;
    bool cts = false;

    bool operator==(const DeviceLines&) const = default;
};

// One character as the device's UART received it.
struct HeardByte {
    uint8_t value = 0;    // what the device made of it
    bool garbled = false; // the PC sent it at a rate or format the device was not set to
    uint8_t sent = 0;     // what the PC actually sent (for autobaud detection and power-cycle cues)
    uint32_t pcRate = 0;  // the PC's rate when it was sent
};

// One character as the PC's UART received it.
struct DeliveredByte {
    uint8_t value = 0;
    bool lineError = false;  // the PC's UART flags a framing error for it
};

// Faults on the line, chosen per run; they apply to every model. "Every Nth" counts from 1,
// from the moment the faults are set: with 5, bytes 5, 10, 15 ... are hit. 0 turns a fault off.
struct LineFaults {
    uint32_t dropToPcEvery = 0;      // a byte the device sends is lost
    uint32_t garbleToPcEvery = 0;    // a byte the device sends arrives with a bit flipped
    uint32_t dropFromPcEvery = 0;    // a byte the PC sends never reaches the device
    uint32_t garbleFromPcEvery = 0;  // a byte the PC sends reaches the device with a bit flipped
    uint32_t lineErrorEvery = 0;     // a byte the device sends arrives flagged with a framing error
    bool silent = false;             // the device sends nothing at all
    int slowReplyMs = 0;             // everything the device sends is held back this long
    int64_t disconnectAfter = -1;    // the device disappears once it has heard this many bytes
};

// A simulated device as the line sees it. Transports feed it what the PC does (bytes at the
// PC's current line settings, control-line changes, the passing of time) and take from it what
// the device does (bytes for the PC, DSR and CTS).
//
// The public operations are the transport side; each takes the model's lock, so any number of
// transport threads may call them. A model derives from this class and overrides the protected
// On... hooks, which run with the lock held; from them it uses the protected services (Send,
// WakeAt, SetLineRate, ...). A hook may use the model's own accessors, but never the
// transport side (Hear, ChangeLines, Advance, TakeOutput, ...).
//
// Rates: the device has its own line rate. Bytes the PC sends at another rate, or in a frame
// other than 8N1, reach the hook garbled; bytes the device sends are heard garbled by a PC set
// to another rate. Time is never read from a clock: every call carries the time, and a hook
// that wants to act later asks for a wake-up with WakeAt. Due wake-ups are delivered in order
// with their own times before anything newer is handled, so a model's answers do not depend on
// how often a transport happens to call it.
class DeviceModel {
public:
    DeviceModel() = default;
    virtual ~DeviceModel() = default;
    DeviceModel(const DeviceModel&) = delete;
    DeviceModel& operator=(const DeviceModel&) = delete;

    // A port has been opened on the device with these lines (no line change is reported for
    // them, so opening a port is not taken for a reset pulse), or closed again.
    void Attach(const PcLines& lines, SimTime now);
    void Detach(SimTime now);

    // The PC sends bytes with its line set as given.
    void Hear(const uint8_t* data, size_t count, const SerialLineSettings& pc, SimTime now);
    void Hear(std::string_view text, const SerialLineSettings& pc, SimTime now);
    void ChangeLines(const PcLines& lines, SimTime now);
    // The PC's line settings, as the transport learns them (Hear brings them too); only
    // the wire log looks at them.
    void ChangeSettings(const SerialLineSettings& pc, SimTime now);
    void Advance(SimTime now);

    // Earliest time at which the model has something to do or to deliver; kSimNever if none.
    SimTime NextDue();

    // Moves up to max bytes that have reached the PC by now into out, as a PC with the given
    // settings hears them. Returns the number moved.
    size_t TakeOutput(std::vector<DeliveredByte>& out, const SerialLineSettings& pc, SimTime now,
                      size_t max = SIZE_MAX);
    // Drops everything sent before now that nobody took (for a transport that attaches late).
    void DropOutput(SimTime now);

    DeviceLines Modem();
    bool Gone();
    void SetFaults(const LineFaults& faults);
    LineFaults Faults();
    // Paced: the device's bytes reach the PC one character time apart at the device's rate.
    // Unpaced: as soon as they are sent.
    void SetPaced(bool paced);
    uint64_t BytesHeard();

    // The wire log: every byte both ways and every change of the PC's rate and lines, with
    // its time (sim/wire_log.h). WireEvents copies what is kept; ClearWireLog starts afresh
    // with the PC's rate of the moment; once streaming, events
    // older than a second go to the sink instead, and FlushWireLog sends the rest.
    std::vector<WireEvent> WireEvents();
    void ClearWireLog();
    void StreamWireLog(std::function<void(const WireEvent&)> sink);
    void FlushWireLog();

protected:
    virtual void OnByte(const HeardByte& byte, SimTime now) = 0;
    virtual void OnLines(const PcLines& before, const PcLines& after, SimTime now);
    virtual void OnTime(SimTime now);
    virtual void OnAttach(SimTime now);
    virtual void OnDetach(SimTime now);

    // Services for the hooks (lock held).
    void Send(const uint8_t* data, size_t count, SimTime now, SimTime delay = SimTime(0));
    void Send(std::string_view text, SimTime now, SimTime delay = SimTime(0));
    void ClearOutput();  // bytes sent and not yet on the line are lost (power off, restart)
    void WakeAt(SimTime when);
    void CancelWakes();
    void SetLineRate(uint32_t rate);
    uint32_t LineRate() const { return lineRate_; }
    void SetModemLines(const DeviceLines& lines) { modem_ = lines; }
    // While on, the device sends only while the PC's RTS is on (RTS/CTS handshaking).
    void SetHoldWhileRtsOff(bool on) { holdWhileRtsOff_ = on; }
    const PcLines& Lines() const { return lines_; }
    bool Attached() const { return attached_; }
    bool IsPaced() const { return paced_; }

    // Accessors of derived models lock this before reading state the hooks change. It is
    // recursive, so such an accessor may also be used from a hook.
    std::recursive_mutex& ModelMutex() const { return mutex_; }

private:
    struct QueuedByte {
        uint8_t value;
        uint32_t rate;
        SimTime readyAt;
        bool lineError;
    };

    void AdvanceLocked(SimTime now);
    void HearByteLocked(uint8_t sent, const SerialLineSettings& pc, SimTime now);
    bool OutputHeldLocked() const;
    void NoteRateLocked(uint32_t rate, SimTime now);
    void NoteLinesLocked(const PcLines& before, const PcLines& after, SimTime now);

    mutable std::recursive_mutex mutex_;
    std::deque<QueuedByte> output_;
    std::multiset<SimTime> wakes_;
    SimTime lastOutputAt_{0};
    SimTime lastTime_{0};
    PcLines lines_;
    DeviceLines modem_;
    LineFaults faults_;
    uint32_t lineRate_ = 115200;
    bool holdWhileRtsOff_ = false;
    bool paced_ = true;
    bool attached_ = false;
    bool gone_ = false;
    uint64_t bytesHeard_ = 0;
    uint64_t bytesFromPc_ = 0;
    uint64_t bytesToPc_ = 0;
    WireLog wire_;
    uint32_t pcRate_ = 0;  // the PC's rate as last logged; 0 before the first since opening
};

// Whether a PC line set as given hears a device at deviceRate correctly.
bool LineMatches(const SerialLineSettings& pc, uint32_t deviceRate);

// What a UART set to one rate makes of a character sent at another: never a printable
// character, so garbage can never pass for a command or a reply.
uint8_t GarbleAcrossRates(uint8_t sent, uint32_t sendRate, uint32_t hearRate);

}  // namespace kestrum
