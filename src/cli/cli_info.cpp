#include <string>

#include "cli/c_cli_reporter.h"
#include "cli/c_interrupt_watcher.h"
#include "cli/cli_commands.h"
#include "app/json_text.h"
#include "protocol/c_device_info_query.h"

namespace kestrum {

namespace {

const char* OutcomeName(QueryOutcome outcome)
{
    switch (outcome) {
    case QueryOutcome::Completed: return "completed";
    case QueryOutcome::Busy: return "busy";
    case QueryOutcome::PortNotOpened: return "port not opened";
    case QueryOutcome::RateRefused: return "rate refused";
    case QueryOutcome::NotConnected: return "not connected";
    case QueryOutcome::Cancelled: return "cancelled";
    }
    return "unknown";
}

void PrintJson(const CliConfig& config, DeviceKind kind, const DeviceInfoResult& result, std::FILE* out)
{
    const DeviceInfo& info = result.info;
    std::fprintf(out,
                 "{\"device\": %s, \"port\": %s, \"outcome\": %s, \"status\": %s, \"model\": %s, \"id\": %s, "
                 "\"firmware\": %s, \"hardware\": %s, \"ramSize\": %s, \"text\": %s}\n",
                 JsonString(std::string(DeviceKindName(kind))).c_str(), JsonString(config.portName).c_str(),
                 JsonString(OutcomeName(result.outcome)).c_str(), JsonString(result.lastStatus).c_str(),
                 JsonString(info.model).c_str(), JsonString(info.id).c_str(), JsonString(info.firmware).c_str(),
                 JsonString(info.hardware).c_str(), JsonString(info.ramSize).c_str(),
                 JsonString(info.text).c_str());
}

// The information text as the Device page shows it, with the terminal's line ends.
void PrintText(const std::string& text, std::FILE* out)
{
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        lines += text[i];
    }
    std::fputs(lines.c_str(), out);
    if (!lines.empty() && lines.back() != '\n')
        std::fputs("\n", out);
}

}  // namespace

int RunInfoCommand(const CliConfig& config, CSettingsFile& stored, bool json, std::FILE* out, std::FILE* err)
{
    CEvent cancel(CEvent::ResetMode::Manual);
    CInterruptWatcher interrupts([&cancel] { cancel.Set(); });
    const auto kind = static_cast<DeviceKind>(config.deviceKind);
    PortSettings settings;
    settings.port = config.portName;
    settings.speed = static_cast<int32_t>(config.speed);
    settings.handshaking = config.handshake;
    DeviceInfoResult result;
    {
        CCliReporter reporter(err);
        result = RunDeviceInfoQuery(kind, settings, reporter.Channel().Number(),
                                    LinkSettings{&stored, [] { return false; }}, &cancel);
    }
    if (json)
        PrintJson(config, kind, result, out);
    else if (result.outcome == QueryOutcome::Completed)
        PrintText(result.info.text, out);
    if (result.outcome == QueryOutcome::Completed)
        return 0;
    if (!json)
        std::fprintf(err, "%s\n", result.lastStatus.empty() ? OutcomeName(result.outcome) : result.lastStatus.c_str());
    return interrupts.Interrupted() || result.outcome == QueryOutcome::Cancelled ? 2 : 1;
}

}  // namespace kestrum
