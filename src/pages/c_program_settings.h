#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/c_settings_file.h"
#include "app/command_line_options.h"
#include "vdk/vdk_line_settings.h"

namespace kestrum {

// The Program page's lasting choices, without a widget: the capture method of each device
// kind, the filter index of each file dialog, the two test switches, the way a VDK-1 run
// reaches the unit, and four histories of image paths (most recent first). Read from the
// settings file, changed by the page and the command line, and written back at exit.
class CProgramSettings {
public:
    enum History { kRamHistory = 0, kFlashHistory = 1, kPowerHistory = 2, kVdkHistory = 3, kHistoryCount = 4 };
    enum Filter { kRamFilter = 0, kFlashFilter = 1, kPowerFilter = 2, kFilterCount = 3 };
    static constexpr int kStoredEntries = 10;
    static constexpr int kKindCount = 3;

    CProgramSettings();

    // Reads every key, then adds the stored history entries that are not there yet.
    void LoadProgramSettings(const CSettingsFile& file);
    // Writes the keys that are kept between runs (the test switches and the VDK-1's line
    // settings, which the technician sets in the file, are never written).
    void SaveProgramSettings(CSettingsFile& file) const;
    // "ramimage.ldr", "main.ldp" and "powbrd.ldr", after any stored paths.
    void AddDefaultEntries();

    // Adds a path: moved (or put) to the front, or else appended when it is new. An index
    // outside the histories does nothing.
    void AddToHistory(int index, const std::string& path, bool moveToFront);
    const std::vector<std::string>& Entries(int index) const;

    // A method outside 0..3 is stored as 0.
    void SetCaptureMethod(int kind, int method);
    int CaptureMethod(int kind) const;
    // The option -c: "pwr", "soft" or "hard"; anything else changes nothing.
    void ApplyCaptureOption(int kind, const std::string& option);

    int FilterIndex(Filter filter) const { return filters_[filter]; }
    void SetFilterIndex(Filter filter, int index) { filters_[filter] = index; }
    bool HardwareResetAvailable() const { return hardwareReset_; }
    // 1 when the soft break sends the sleep command instead of the reset command.
    int SoftBreakVariant() const { return sleep_; }
    const VdkLineSettings& DisplayUnitLines() const { return vdkLines_; }

private:
    std::array<std::vector<std::string>, kHistoryCount> histories_;
    std::array<int, kKindCount> methods_{0, 0, 1};
    std::array<int, kFilterCount> filters_{2, 2, 2};
    bool hardwareReset_ = false;
    int sleep_ = 0;
    VdkLineSettings vdkLines_;
};

}  // namespace kestrum
