#include "pages/c_program_settings.h"

#include <algorithm>
#include <cstdio>

namespace kestrum {

namespace {

constexpr const char* kHistorySections[] = {"LoadPath_RAM", "LoadPath_Flash", "LoadPath_Power", "LoadPath_VDK1"};
constexpr const char* kFilterKeys[] = {"RAM_TYPE", "Flash_TYPE", "Power_TYPE"};
constexpr const char* kMethodKeys[] = {"ResetRec", "ResetPWR", "ResetVDK"};
constexpr int kMethodDefaults[] = {0, 0, 1};

std::string PathKey(int n)
{
    char key[16];
    std::snprintf(key, sizeof key, "Path%02i", n);
    return key;
}

}  // namespace

CProgramSettings::CProgramSettings() = default;

void CProgramSettings::LoadProgramSettings(const CSettingsFile& file)
{
    for (int filter = 0; filter < kFilterCount; ++filter)
        filters_[filter] = file.GetInt("LoadPath", kFilterKeys[filter], 2);
    hardwareReset_ = file.GetInt("Test", "HardwareReset", 0) != 0;
    sleep_ = file.GetText("Test", "SoftwareBreak", "Reset") == "Sleep" ? 1 : 0;
    vdkLines_ = ReadVdkLineSettings(file);
    for (int kind = 0; kind < kKindCount; ++kind)
        SetCaptureMethod(kind, file.GetInt("ProgramSettings", kMethodKeys[kind], kMethodDefaults[kind]));
    for (int history = 0; history < kHistoryCount; ++history) {
        for (int n = 1; n <= kStoredEntries; ++n) {
            const std::string path = file.GetText(kHistorySections[history], PathKey(n), "");
            if (!path.empty())
                AddToHistory(history, path, false);
        }
    }
}

void CProgramSettings::SaveProgramSettings(CSettingsFile& file) const
{
    for (int filter = 0; filter < kFilterCount; ++filter)
        file.WriteInt("LoadPath", kFilterKeys[filter], filters_[filter]);
    for (int kind = 0; kind < kKindCount; ++kind)
        file.WriteInt("ProgramSettings", kMethodKeys[kind], methods_[kind]);
    for (int history = 0; history < kHistoryCount; ++history) {
        const auto& entries = histories_[history];
        for (int n = 1; n <= kStoredEntries; ++n) {
            const size_t at = static_cast<size_t>(n - 1);
            file.WriteText(kHistorySections[history], PathKey(n), at < entries.size() ? entries[at] : "");
        }
    }
}

void CProgramSettings::AddDefaultEntries()
{
    AddToHistory(kRamHistory, "ramimage.ldr", false);
    AddToHistory(kFlashHistory, "main.ldp", false);
    AddToHistory(kPowerHistory, "powbrd.ldr", false);
}

void CProgramSettings::AddToHistory(int index, const std::string& path, bool moveToFront)
{
    if (index < 0 || index >= kHistoryCount)
        return;
    auto& entries = histories_[index];
    const auto found = std::find(entries.begin(), entries.end(), path);
    if (!moveToFront) {
        if (found == entries.end())
            entries.push_back(path);
        return;
    }
    if (found != entries.end())
        entries.erase(found);
    entries.insert(entries.begin(), path);
}

const std::vector<std::string>& CProgramSettings::Entries(int index) const
{
    static const std::vector<std::string> kNone;
    return index >= 0 && index < kHistoryCount ? histories_[index] : kNone;
}

void CProgramSettings::SetCaptureMethod(int kind, int method)
{
    if (kind >= 0 && kind < kKindCount)
        methods_[kind] = method >= 0 && method <= 3 ? method : 0;
}

int CProgramSettings::CaptureMethod(int kind) const
{
    return kind >= 0 && kind < kKindCount ? methods_[kind] : 0;
}

void CProgramSettings::ApplyCaptureOption(int kind, const std::string& option)
{
    if (const int method = CaptureMethodFromOption(option); method >= 0)
        SetCaptureMethod(kind, method);
}

}  // namespace kestrum
