#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum {

// DSR and CTS as one modem-status read found them.
struct ModemLines {
    bool dsr = false;
    bool cts = false;
};

// A sequence of line changes and modem-status reads that does not depend on its own
// answers, so a device can carry it out in one go: a network port sends it at once and
// collects the answers afterwards instead of waiting for each read in turn.
class SerialLineBatch {
public:
    enum class Step : uint8_t { DtrOff, DtrOn, RtsOff, RtsOn, BreakOff, BreakOn, ReadModem };

    void SetDtr(bool on) { Add(on ? Step::DtrOn : Step::DtrOff); }
    void SetRts(bool on) { Add(on ? Step::RtsOn : Step::RtsOff); }
    void SetBreak(bool on) { Add(on ? Step::BreakOn : Step::BreakOff); }
    // A read sees every change queued before it, and none after it.
    void ReadModem() { Add(Step::ReadModem); }
    void Add(Step step)
    {
        steps_.push_back(step);
        reads_ += step == Step::ReadModem ? 1 : 0;
    }

    const std::vector<Step>& Steps() const { return steps_; }
    size_t Size() const { return steps_.size(); }
    size_t Reads() const { return reads_; }
    bool Empty() const { return steps_.empty(); }
    void Clear()
    {
        steps_.clear();
        reads_ = 0;
    }

private:
    std::vector<Step> steps_;
    size_t reads_ = 0;
};

// How a batch ended. Completed: every step was carried out (by the far end of a network
// port, too) and reads holds one answer per read, in the order of the reads. Otherwise
// reads holds the answers of the reads carried out before the batch ended, and error
// says why it ended.
struct LineBatchResult {
    enum class End {
        Completed,
        Refused, // the device refused a step but is still there
        Gone,    // the device has gone (unplugged, connection lost, far end silent)
        Stopped, // the stop check said so
    };

    End end = End::Completed;
    std::vector<ModemLines> reads;
    std::string error;

    bool Completed() const { return end == End::Completed; }
};

} // namespace kestrum
