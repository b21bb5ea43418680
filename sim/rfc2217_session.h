#pragma once

#include "platform/rfc2217_telnet_codec.h"
#include "sim/delay_line.h"
#include "sim/device_model.h"
#include "sim/sim_serial_device.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace kestrum {

// Counters a server keeps over all its connections.
struct Rfc2217ServerCounters {
    std::atomic<uint64_t> roundTrips{0};  // rate questions answered: each is a client's round trip
    std::atomic<uint64_t> lineChanges{0}; // DTR, RTS and break commands applied
    std::atomic<uint64_t> clients{0};     // connections served
};

// One client connection of the simulator's COM-port-control server, over a simulated
// serial device attached to the model. The reading side applies the client's data,
// settings and line changes in the order they came and answers each command; after every
// line change it reads DSR and CTS and reports a change at once, so an answer always
// comes after the report of every change that came before it. A second thread carries
// the device's bytes to the client and reports changes the device makes on its own
// (looked at every few milliseconds) and line errors.
//
// With a delay, what the client sends reaches the reading side that much later, and
// what the session sends reaches the client that much later: a slow network, both ways.
// Silent after the open: the session answers the client's open (up to the first rate
// question) and then sends nothing more and ignores what comes, as a hung server does.
class Rfc2217Session : private Rfc2217TelnetCodec::Sink {
public:
    Rfc2217Session(int socket, std::shared_ptr<DeviceModel> model, bool paced,
                   Rfc2217ServerCounters& counters, std::chrono::microseconds delay = {},
                   bool silentAfterOpen = false);
    ~Rfc2217Session() override;
    Rfc2217Session(const Rfc2217Session&) = delete;
    Rfc2217Session& operator=(const Rfc2217Session&) = delete;

    // Serves until the client goes, the device goes, Drop is called or stop becomes true.
    void Run(const std::atomic<bool>& stop);
    // Closes the connection (from any thread): the client sees the server hang up.
    void Drop();

private:
    void Pump();
    void PumpDeviceBytes();
    void ReportLineErrorsLocked();
    void ReportModemLocked(bool always);
    void Append(const std::vector<uint8_t>& bytes);
    void Reply(uint8_t command, uint8_t value);
    void FlushLocked();
    void Flush();
    bool SendNow(const uint8_t* data, size_t count);
    void HearFromClient(const uint8_t* data, size_t count);
    void HearData(const uint8_t* data, size_t count);

    void OnData(const uint8_t* data, size_t count) override;
    void OnOption(uint8_t verb, uint8_t option) override;
    void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) override;
    void OnComPort(uint8_t command, std::span<const uint8_t> value);
    void OnSetBaudRate(std::span<const uint8_t> value);
    void OnLineSetting(uint8_t command, uint8_t value);
    void OnSetControl(uint8_t value);
    void OnPurge(uint8_t value);
    void ApplyLine(bool& line, bool on, bool (ISerialDevice::*set)(bool), uint8_t answer);

    const int socket_;
    Rfc2217ServerCounters& counters_;
    SimSerialDevice device_;
    Rfc2217TelnetCodec codec_;
    std::atomic<bool> ending_{false};
    const bool silentAfterOpen_;
    bool openAnswered_ = false;        // reading side only
    std::atomic<bool> silent_{false};
    bool dtr_ = true;
    bool rts_ = true;
    bool break_ = false;

    std::mutex outMutex_;          // the outgoing stream and what has been reported on it
    std::vector<uint8_t> out_;
    std::atomic<bool> sendFailed_{false};
    // Present only with a delay; stopped before the session ends.
    std::unique_ptr<DelayLine> inbound_;
    std::unique_ptr<DelayLine> outbound_;
    uint8_t modemMask_ = 0;
    uint8_t lineMask_ = 0;
    uint8_t modemReported_ = 0;
    SerialErrorCounts countsReported_;
};

}  // namespace kestrum
