#pragma once

#include <optional>
#include <set>
#include <span>
#include <string>

#include "sim/device_model.h"
#include "sim/vdk1_spi_target.h"

namespace kestrum {

// The VDK-1 control/display unit as the PC's serial port sees it.
//
// Running (DTR not raised since the port opened, or dropped again): it announces itself
// with the frame "@0p" about once a second and answers the query frame "#V" with "@2V",
// its hardware version (1 character) and the firmware version found in its Flash (5
// characters). Frames it sends end with a checksum byte: the sum of the frame's other
// bytes with bit 7 set, so it can never be taken for the "@" that starts a frame.
// An unknown command or a wrong checksum gets "@3" and the command letter.
//
// Programming: raising DTR holds the unit in programming mode; RTS is the SPI clock, the
// break state of the PC's transmit line is MOSI inverted (break = 0), and DSR shows MISO
// inverted (DSR on = 0). Dropping DTR restarts the firmware from the Flash as it is then.
// Erased Flash holds no firmware: the unit stays silent.
class Vdk1Model : public DeviceModel {
public:
    struct Options {
        char hardwareVersion = '2';
        // Firmware in Flash at start: a filler image carrying this version record.
        std::string firmwareVersion = "01.00";
        SimTime bootTime = SimMs(100);       // from release (or the port opening) to the first announce
        SimTime announcePeriod = SimMs(1000);
        SimTime replyDelay = SimMs(2);
        // When on, instructions that arrive while the Flash is still erasing or writing a
        // page are lost, as on the real unit; off lets tests skip the programmer's waits.
        bool enforceBusyTimes = false;
        SimTime eraseBusy = SimMs(100);
        SimTime pageWriteBusy = SimMs(50);
        // No unit on the cable: lines are ignored, DSR stays at absentDsr, nothing is sent.
        bool present = true;
        bool absentDsr = false;
    };

    Vdk1Model();
    explicit Vdk1Model(Options options);

    // Faults of the programming interface (see Vdk1SpiTarget).
    void SlipOnReset(int bits, int resets = 1);
    void SetStuckCells(std::set<uint32_t> addresses);

    void LoadFlash(std::span<const uint8_t, kDisplayUnitImageSize> image);
    Vdk1SpiTarget::Flash FlashMemory() const;
    // The version the unit reports; nothing while its Flash holds no firmware.
    std::optional<std::string> ReportedFirmware() const;
    bool InProgrammingMode() const;
    int ChipErases() const;
    int PagesWritten() const;
    uint64_t ClocksSinceReset() const;

    // A filler image with the given version record, as the unit leaves the factory.
    static Vdk1SpiTarget::Flash FactoryImage(const std::string& firmwareVersion);

protected:
    void OnByte(const HeardByte& byte, SimTime now) override;
    void OnLines(const PcLines& before, const PcLines& after, SimTime now) override;
    void OnTime(SimTime now) override;
    void OnAttach(SimTime now) override;
    void OnDetach(SimTime now) override;

private:
    enum class FrameState { Idle, Command, Checksum };

    bool RunningLocked() const;
    std::optional<std::string> ReportedFirmwareLocked() const;
    void StartFirmware(SimTime now);
    void StopFirmware();
    void SendFrame(const std::string& body, SimTime now, SimTime delay = SimTime(0));
    void Answer(uint8_t checksum, SimTime now);
    void UpdateDsr();
    void Clock(bool mosi, SimTime now);

    Options options_;
    Vdk1SpiTarget spi_;
    FrameState frameState_ = FrameState::Idle;
    uint8_t command_ = 0;
    SimTime nextAnnounce_ = kSimNever;
    SimTime busyUntil_{0};
};

}  // namespace kestrum
