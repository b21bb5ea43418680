#pragma once

#include <cstdint>
#include <string>

#include "app/c_settings_file.h"

namespace kestrum {

// Which way a VDK-1 run's line operations reach the unit: chosen by the adapter (auto),
// or forced to an FTDI adapter's bit-bang mode or to the serial driver's control lines.
enum class VdkLines { Auto, BitBang, Control };

struct VdkLineSettings {
    VdkLines lines = VdkLines::Auto;
    uint32_t bitBangRate; // pin states a second in bit-bang mode

    VdkLineSettings();
};

// "auto", "bitbang" or "control"; false for anything else.
bool ParseVdkLines(const std::string& word, VdkLines& lines);

// [ProgramSettings] VdkLines (auto, bitbang or control) and VdkBitBangRate (pin states a
// second, 1000 to 3000000); a missing or unknown value gives the default. The program
// only reads them: they are for the technician to set.
VdkLineSettings ReadVdkLineSettings(const CSettingsFile& file);

} // namespace kestrum
