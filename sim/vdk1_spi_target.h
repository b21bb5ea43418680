#pragma once

#include <array>
#include <cstdint>
#include <set>

#include "vdk/version_record.h"

namespace kestrum {

// The VDK-1's Flash and its SPI programming interface, at the level of the unit's pins:
// a reset line that holds the unit in programming mode, a clock, MOSI and MISO. It
// knows nothing of serial ports; Vdk1Model maps the PC's control lines onto it.
//
// Instructions are 32 bits, most significant first; MOSI is sampled on the rising clock
// edge. The unit counts clocks from reset to find where an instruction starts, so a
// clock it missed (SlipOnReset) shifts every instruction until the PC gives one extra
// clock. Only programming enable (0xAC 0x53 xx xx), received in place, unlocks the other
// instructions, and the unit answers 0x53 during its third byte only when the first two
// bytes stood in place. MISO idles at 1.
class Vdk1SpiTarget {
public:
    static constexpr uint32_t kPageSize = 256;
    using Flash = std::array<uint8_t, kDisplayUnitImageSize>;

    Vdk1SpiTarget();

    // Reset line asserted (programming mode entered, clock count restarted) or released.
    void SetReset(bool asserted);
    void ClockRising(bool mosi);
    bool Miso() const;

    // The next `resets` resets miss `bits` clocks (0..31) each; resets < 0: every one.
    void SlipOnReset(int bits, int resets = 1);
    // Cells at these addresses no longer program: they stay erased (read 0xFF).
    void SetStuckCells(std::set<uint32_t> addresses) { stuck_ = std::move(addresses); }
    // While busy (erasing or writing a page) the unit keeps counting clocks but carries
    // out no instruction.
    void SetBusy(bool busy) { busy_ = busy; }

    const Flash& FlashMemory() const { return flash_; }
    void LoadFlash(const Flash& image) { flash_ = image; }
    bool InReset() const { return reset_; }
    bool ProgrammingEnabled() const { return enabled_; }
    int ChipErases() const { return erases_; }
    int PagesWritten() const { return pagesWritten_; }
    // Rising clock edges seen since the last reset.
    uint64_t ClocksSinceReset() const { return clocks_; }

private:
    void ByteReceived();
    void Execute();
    void WritePage(uint32_t wordAddress);
    uint8_t ReadFlash(uint32_t address) const;

    Flash flash_;
    std::array<uint8_t, kPageSize> pageBuffer_;
    std::array<uint8_t, 4> frame_{};
    std::set<uint32_t> stuck_;
    bool reset_ = false;
    bool enabled_ = false;
    bool busy_ = false;
    uint32_t bitCount_ = 0;  // clocks counted since reset, modulo 32
    uint8_t shiftIn_ = 0;
    uint8_t shiftOut_ = 0xFF;
    int slipBits_ = 0;
    int slipResets_ = 0;
    int erases_ = 0;
    int pagesWritten_ = 0;
    uint64_t clocks_ = 0;
};

}  // namespace kestrum
