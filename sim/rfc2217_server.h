#pragma once

#include "sim/device_model.h"
#include "sim/rfc2217_session.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kestrum {

// Serves one device model as a network serial port with Telnet COM-port control
// (RFC 2217): data, line settings, DTR, RTS and break reach the model; DSR and CTS
// changes are reported to the client at once. One client at a time: a second connection
// is hung up on while the first lasts (after a moment's grace, in case the first is just
// going). Listens on loopback unless told otherwise, since
// anyone who can connect can drive the device.
class Rfc2217Server {
public:
    struct Options {
        bool paced = true;                      // bytes take their character time on the line
        std::string bindAddress = "127.0.0.1";  // numeric IPv4 or IPv6 address
        uint16_t port = 0;                      // 0: a free port chosen by the system
        // Added to every round trip, half on the way in and half on the way out, as a
        // slower network would.
        std::chrono::microseconds roundTripDelay{0};
        // Each client's open is answered, then nothing more (see Rfc2217Session).
        bool silentAfterOpen = false;
    };

    Rfc2217Server(std::shared_ptr<DeviceModel> model, Options options);
    ~Rfc2217Server();
    Rfc2217Server(const Rfc2217Server&) = delete;
    Rfc2217Server& operator=(const Rfc2217Server&) = delete;

    // Starts listening. On failure returns false with the reason in error.
    bool Open(std::string& error);
    uint16_t Port() const { return port_; }
    // The port name a client opens: rfc2217://ADDRESS:PORT.
    std::string Url() const;

    // Serves until stop becomes true (looked at every few milliseconds).
    void Serve(const std::atomic<bool>& stop);
    // Serves on a thread of its own until Stop (or destruction).
    void Start();
    void Stop();

    // Hangs up on the present client, as a device server that fails would.
    void DropClient();

    const Rfc2217ServerCounters& Counters() const { return counters_; }

private:
    void AcceptOne(const std::atomic<bool>& stop);
    void EndSession();
    bool HasSession();

    const std::shared_ptr<DeviceModel> model_;
    const Options options_;
    int listener_ = -1;
    uint16_t port_ = 0;
    Rfc2217ServerCounters counters_;

    std::mutex sessionMutex_;
    std::unique_ptr<Rfc2217Session> session_;
    int sessionSocket_ = -1;
    std::thread sessionThread_;
    std::atomic<bool> sessionEnded_{false};

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kestrum
