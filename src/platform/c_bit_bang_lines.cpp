#include "platform/c_bit_bang_lines.h"

namespace kestrum {

namespace {

using Step = SerialLineBatch::Step;

enum class Signal { Break, Rts, Dtr, Cts, Dsr };

struct PinOfSignal {
    Signal signal;
    uint8_t pin; // bit of the pin byte
    bool output;
    bool onLevel;
};

// The pins D0..D7 are the UART's TXD, RXD, RTS#, CTS#, DTR#, DSR#, DCD# and RI#. In UART
// mode the chip drives RTS# and DTR# low for "on", holds TXD low for a break, and reads
// DSR# and CTS# low as "on"; the cable's RS-232 transceiver inverts each of them onto the
// line. Writing and reading the same levels here keeps the same signals on the cable, so
// every "on" is the low level and the far end cannot tell this path from the driver's.
constexpr PinOfSignal kPins[] = {
    {Signal::Break, 1 << 0, true, false}, // TXD
    {Signal::Rts, 1 << 2, true, false},   // RTS#
    {Signal::Cts, 1 << 3, false, false},  // CTS#
    {Signal::Dtr, 1 << 4, true, false},   // DTR#
    {Signal::Dsr, 1 << 5, false, false},  // DSR#
};

constexpr const PinOfSignal& PinOf(Signal signal)
{
    for (const PinOfSignal& entry : kPins)
        if (entry.signal == signal)
            return entry;
    return kPins[0];
}

constexpr uint8_t Outputs()
{
    uint8_t mask = 0;
    for (const PinOfSignal& entry : kPins)
        mask = static_cast<uint8_t>(mask | (entry.output ? entry.pin : 0));
    return mask;
}

constexpr uint8_t WithSignal(uint8_t pins, Signal signal, bool on)
{
    const PinOfSignal& entry = PinOf(signal);
    const bool high = on == entry.onLevel;
    return static_cast<uint8_t>(high ? pins | entry.pin : pins & ~entry.pin);
}

constexpr bool SignalOn(uint8_t pins, Signal signal)
{
    const PinOfSignal& entry = PinOf(signal);
    return ((pins & entry.pin) != 0) == entry.onLevel;
}

// Every output line off: the level each driven pin has before anything is asked of it.
constexpr uint8_t AllOff()
{
    uint8_t pins = 0xFF;
    for (const PinOfSignal& entry : kPins)
        if (entry.output)
            pins = WithSignal(pins, entry.signal, false);
    return pins;
}

uint8_t Applied(uint8_t pins, Step step)
{
    switch (step) {
    case Step::DtrOff:
    case Step::DtrOn:
        return WithSignal(pins, Signal::Dtr, step == Step::DtrOn);
    case Step::RtsOff:
    case Step::RtsOn:
        return WithSignal(pins, Signal::Rts, step == Step::RtsOn);
    case Step::BreakOff:
    case Step::BreakOn:
        return WithSignal(pins, Signal::Break, step == Step::BreakOn);
    default:
        return pins;
    }
}

} // namespace

// Sustained synchronous bit-bang through full-speed USB moves a few hundred thousand
// states a second at best, since every state's sample must come back too; asking the pins
// for more would only bunch the clock edges closer together within a USB packet, at no
// gain. Data sheets and errata disagree on how the chip scales the rate it is given, so
// the rate is the pin rate in states per second (a setting, to go slower where a unit or
// cable needs it), and the default is well inside what the adapter can keep up: 4 us per
// state, so every clock phase on the cable lasts at least that long, and a VDK-1 run
// stays under a minute with the unit's own erase and write times.
const uint32_t CBitBangLines::kDefaultStatesPerSecond = 250000;

CBitBangLines::CBitBangLines(std::unique_ptr<IBitBangPort> port) : port_(std::move(port)) {}

CBitBangLines::~CBitBangLines()
{
    Close();
}

bool CBitBangLines::Open(const UsbDeviceLocation& device, uint32_t statesPerSecond)
{
    Close();
    error_.clear();
    if (!port_->Open(device, Outputs(), statesPerSecond))
        return false;
    open_ = true;
    pins_ = AllOff();
    if (!Transfer({pins_}, {}).Completed()) {
        Close();
        return false;
    }
    return true;
}

void CBitBangLines::Close()
{
    if (open_)
        port_->Close();
    open_ = false;
}

std::string CBitBangLines::LastError() const
{
    return error_.empty() ? port_->LastError() : error_;
}

// A read answers with the sample taken just before the next state, which shows every
// change made before it; a read at the end of the batch gets one more state (the same
// pins again) to bring its sample back.
LineBatchResult CBitBangLines::Run(const SerialLineBatch& batch, const std::function<bool()>& stopped)
{
    if (stopped && stopped()) {
        LineBatchResult result;
        result.end = LineBatchResult::End::Stopped;
        result.error = "stopped";
        return result;
    }
    std::vector<uint8_t> states;
    std::vector<size_t> readAt;
    states.reserve(batch.Size() - batch.Reads() + 1);
    readAt.reserve(batch.Reads());
    uint8_t pins = pins_;
    for (const Step step : batch.Steps()) {
        if (step == Step::ReadModem) {
            readAt.push_back(states.size());
        } else {
            pins = Applied(pins, step);
            states.push_back(pins);
        }
    }
    if (!readAt.empty() && readAt.back() == states.size())
        states.push_back(pins);
    return Transfer(states, readAt);
}

LineBatchResult CBitBangLines::Transfer(const std::vector<uint8_t>& states, const std::vector<size_t>& readAt)
{
    LineBatchResult result;
    if (!open_) {
        result.end = LineBatchResult::End::Refused;
        result.error = error_ = "the adapter is not in bit-bang mode";
        return result;
    }
    if (states.empty())
        return result;
    std::vector<uint8_t> samples(states.size());
    const IBitBangPort::Transfer done = port_->Exchange(states, samples);
    statesWritten_ += states.size();
    if (done != IBitBangPort::Transfer::Done) {
        result.end =
            done == IBitBangPort::Transfer::Gone ? LineBatchResult::End::Gone : LineBatchResult::End::Refused;
        result.error = port_->LastError();
        return result;
    }
    pins_ = states.back();
    result.reads.reserve(readAt.size());
    for (const size_t at : readAt)
        result.reads.push_back(
            ModemLines{SignalOn(samples[at], Signal::Dsr), SignalOn(samples[at], Signal::Cts)});
    return result;
}

} // namespace kestrum
