#pragma once

#include "sim/device_model.h"

#include <atomic>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestrum {

// Serves one device model on a pseudo-terminal: the slave side is the port a program opens;
// the server sits on the master side. It carries data and the line settings: before every
// exchange it reads the slave's settings (a termios request on the master acts on the slave),
// so a program set to another rate than the device hears garbage and is heard as garbage.
// A pseudo-terminal has no control lines; DTR, RTS and break do not reach the model here.
class PtyServer {
public:
    // Paced: the PC's bytes reach the model one character time apart at the terminal's rate
    // (the rest waits in the terminal's buffer); unpaced: as soon as they are written.
    // Real time: the serving thread runs at a real-time priority where the process may
    // (as root), so that no other program delays the device; for measurements.
    explicit PtyServer(std::shared_ptr<DeviceModel> model, bool paced = true, bool realTime = false);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Creates the pseudo-terminal. On failure returns false with the reason in error.
    bool Open(std::string& error);
    const std::string& PortPath() const { return portPath_; }

    // Serves until stop becomes true (looked at every few milliseconds).
    void Serve(const std::atomic<bool>& stop);
    // Serves on a thread of its own until Stop (or destruction).
    void Start();
    void Stop();

private:
    bool ReadLine(SerialLineSettings& settings) const;
    void Exchange(SimTime now);
    void HearFromTerminal(const SerialLineSettings& line, SimTime now);
    void FlushPending();
    timespec PollTimeout() const;
    void CloseFds();

    std::shared_ptr<DeviceModel> model_;
    const bool paced_;
    const bool realTime_;
    SimTime lineFreeAt_{0};  // paced: when the last byte taken from the terminal has crossed
    bool backlog_ = false;   // paced: the terminal may hold more than was due
    uint32_t lastRate_ = 115200;  // the line rate of the last exchange
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up between programs
    std::string portPath_;
    std::vector<uint8_t> pending_;  // device bytes the terminal had no room for yet
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kestrum
