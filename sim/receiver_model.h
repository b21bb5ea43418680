#pragma once

#include "sim/boot_loader_session.h"
#include "sim/device_model.h"
#include "sim/flash_block_receiver.h"
#include "sim/receiver_command_mode.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrum {

// Which boot loader answers a capture: the receiver's own (RAM image, then Flash blocks) or
// its power board's (one image, taken as the RAM image).
enum class LoadTarget { Receiver, PowerBoard };

struct ReceiverConfig {
    CommandModeSettings commands;   // rate, echo, RTS/CTS and answers at power-on
    ReceiverInfo info;              // what the parameter prints report until a load changes it
    uint32_t rateMultiple = 1;      // the line runs at the commanded rate divided by this
    LoadTarget loadTarget = LoadTarget::Receiver;
    BootLoaderSettings receiverBoot{20, 0, 0x1E, 1u << 20};
    BootLoaderSettings powerBoardBoot{22, 0, 0x1E, 256u << 10};
    FlashFaults flashFaults;
    size_t flashLimit = 8u << 20;
    bool firmwareValid = true;      // false: nothing to start, the boot loader waits for ever
    bool noStartAfterLoad = false;  // a loaded image never starts (a device that does not come back)

    int captureWindowMs = 1500;     // after a restart the boot loader listens this long for 0x55
    int powerCycleAfterMs = -1;     // >= 0: the user power-cycles the device this long after the
                                    // capture stream starts (power-on capture)
    int powerOffMs = 300;
    bool resetOnDtrPulse = true;    // a short DTR pulse restarts the device (hardware reset)
    int replyDelayMs = 2;           // command mode's time to answer
    int flashWriteMs = 200;         // writing the received image after the end frame
    bool endAckWithFinal = false;   // the end frame's 0x06 waits for the write and goes out
                                    // with the final 0x1E in one write
    int sessionIdleMs = 5000;       // a boot-loader session with no byte for this long is dropped
};

// A receiver with its boot loader and power board. After a restart (reset or sleep command,
// DTR pulse, power cycle) the boot loader listens for the 0x55 capture stream for a while,
// adopting the rate it hears it at; without it the firmware starts in command mode. A
// completed load restarts the device into the new firmware, whose version (read from the
// image) the parameter prints then report.
class ReceiverModel : public DeviceModel {
public:
    enum class Mode {
        Off,        // powered down during a power cycle
        BootWindow, // just restarted, listening for the capture stream
        BootLoader, // captured: handshake, version check, RAM image
        FlashBlocks,// the receiver's RAM image takes the Flash image
        Writing,    // writing a received image
        Quiet,      // after a protocol error: ignores the line until it falls silent
        Firmware,   // command mode
    };

    explicit ReceiverModel(const ReceiverConfig& config = {});

    // Switches the device off now and on again after the configured pause.
    void PowerCycle(SimTime now);

    Mode CurrentMode();
    ReceiverInfo Info();                  // what the parameter prints would answer now
    std::string FirmwareVersion();        // receiver firmware
    std::string PowerBoardFirmware();
    uint32_t CommandRate();               // the rate command mode believes it runs at
    bool EchoOn();
    bool RtsCtsOn();
    bool FirmwareValid();
    int LoadsCompleted();
    int ResendsRequested();               // by the Flash block receiver, over all loads
    std::vector<uint8_t> FlashContents(); // the last complete Flash image
    std::vector<uint8_t> LastRamImage();
    std::string LastError();              // the last protocol error the device saw

protected:
    void OnByte(const HeardByte& byte, SimTime now) override;
    void OnLines(const PcLines& before, const PcLines& after, SimTime now) override;
    void OnTime(SimTime now) override;

private:
    enum class Timer { WindowEnd, PowerOn, PowerCycle, Idle, FrameGap, QuietEnd, Written };

    void Arm(Timer timer, SimTime at);
    void Disarm(Timer timer) { timers_.erase(timer); }
    void Fire(Timer timer, SimTime now);
    void Restart(SimTime now);
    void StartFirmware();
    void Send1(uint8_t byte, SimTime now, int delayMs = 0);
    void SendAll(const std::vector<uint8_t>& bytes, SimTime now);
    void Fail(const std::string& why, SimTime now);
    void WatchCaptureStream(const HeardByte& byte, SimTime now);

    void HearInWindow(const HeardByte& byte, SimTime now);
    void HearInBootLoader(const HeardByte& byte, SimTime now);
    void HearFlashBlock(const HeardByte& byte, SimTime now);
    void HearCommand(const HeardByte& byte, SimTime now);
    void RamImageLoaded(SimTime now);
    void ImageWritten(SimTime now);

    const BootLoaderSettings& Boot() const;
    SimTime FrameGap() const;

    ReceiverConfig config_;
    ReceiverInfo info_;
    Mode mode_ = Mode::Firmware;
    bool firmwareValid_;
    std::map<Timer, SimTime> timers_;
    std::unique_ptr<ReceiverCommandMode> commands_;
    std::unique_ptr<BootLoaderSession> session_;
    std::unique_ptr<FlashBlockReceiver> flash_;
    bool finalAck_ = true;
    std::vector<uint8_t> heldEndReply_;  // the end frame's answer, kept for endAckWithFinal
    SimTime lastHeard_{0};
    SimTime lastRequestSent_{0};
    std::optional<SimTime> dtrRoseAt_;
    int captureRun_ = 0;
    int loadsCompleted_ = 0;
    int resends_ = 0;
    std::vector<uint8_t> flashContents_;
    std::vector<uint8_t> lastRamImage_;
    std::string lastError_;
};

}  // namespace kestrum
