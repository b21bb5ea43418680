#include "vdk/vdk_line_settings.h"

#include "platform/c_bit_bang_lines.h"

namespace kestrum {

namespace {

constexpr const char* kSection = "ProgramSettings";
constexpr int kSlowestRate = 1000;
constexpr int kFastestRate = 3000000;

} // namespace

VdkLineSettings::VdkLineSettings() : bitBangRate(CBitBangLines::kDefaultStatesPerSecond) {}

bool ParseVdkLines(const std::string& word, VdkLines& lines)
{
    if (word == "auto")
        lines = VdkLines::Auto;
    else if (word == "bitbang")
        lines = VdkLines::BitBang;
    else if (word == "control")
        lines = VdkLines::Control;
    else
        return false;
    return true;
}

VdkLineSettings ReadVdkLineSettings(const CSettingsFile& file)
{
    VdkLineSettings settings;
    ParseVdkLines(file.GetText(kSection, "VdkLines", "auto"), settings.lines);
    const int rate = file.GetInt(kSection, "VdkBitBangRate", static_cast<int>(settings.bitBangRate));
    if (rate >= kSlowestRate && rate <= kFastestRate)
        settings.bitBangRate = static_cast<uint32_t>(rate);
    return settings;
}

} // namespace kestrum
