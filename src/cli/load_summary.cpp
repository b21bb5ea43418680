#include "cli/load_summary.h"

#include <algorithm>
#include <cstdio>

#include "app/json_text.h"
#include "loader/load_result.h"

namespace kestrum {

namespace {

std::string OneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

size_t Completed(const std::vector<PortLoadResult>& results)
{
    return static_cast<size_t>(std::count_if(results.begin(), results.end(),
                                             [](const PortLoadResult& r) { return r.code == LOAD_OK; }));
}

// Devices left alone because they run the expected firmware already (counted as completed).
size_t Skipped(const std::vector<PortLoadResult>& results)
{
    return static_cast<size_t>(std::count_if(results.begin(), results.end(), [](const PortLoadResult& r) {
        return r.code == LOAD_OK && r.outcome == ProductionRecord::Result::Skipped;
    }));
}

const char* OutcomeName(const PortLoadResult& result)
{
    if (result.code != LOAD_OK)
        return "failed";
    return result.outcome == ProductionRecord::Result::Skipped ? "skipped" : "completed";
}

std::string FirmwareJson(const std::optional<DeviceInfo>& info)
{
    return info ? JsonString(info->firmware) : "null";
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

} // namespace

std::string LoadSummaryText(const std::vector<PortLoadResult>& results)
{
    const size_t completed = Completed(results);
    const size_t skipped = Skipped(results);
    std::string text = std::to_string(results.size()) + (results.size() == 1 ? " port: " : " ports: ") +
                       std::to_string(completed - skipped) + " completed, " +
                       (skipped > 0 ? std::to_string(skipped) + " already current, " : "") +
                       std::to_string(results.size() - completed) + " failed\n";
    size_t width = 0;
    for (const PortLoadResult& result : results)
        width = std::max(width, result.port.size());
    for (const PortLoadResult& result : results) {
        std::string port = result.port;
        port.resize(width, ' ');
        const std::string shown = OneLine(result.text);
        const std::string reason = OneLine(result.lastStatus);
        text += "  " + port + "  " + std::to_string(result.code) + "  " + shown;
        if (!reason.empty() && reason != shown)
            text += " (" + reason + ")";
        text += "\n";
    }
    return text;
}

std::string LoadSummaryJson(const std::vector<PortLoadResult>& results)
{
    std::string json = "{\"ports\": [";
    for (size_t i = 0; i < results.size(); ++i) {
        const PortLoadResult& result = results[i];
        json += i == 0 ? "\n  " : ",\n  ";
        json += "{\"port\": " + JsonString(result.port) + ", \"code\": " + std::to_string(result.code) +
                ", \"result\": " + JsonString(result.text) +
                ", \"status\": " + JsonString(result.lastStatus) +
                ", \"seconds\": " + Seconds(result.seconds) +
                ", \"flashSeconds\": " + (result.flashSeconds ? Seconds(*result.flashSeconds) : "null") +
                ", \"outcome\": " + JsonString(OutcomeName(result)) +
                ", \"firmwareBefore\": " + FirmwareJson(result.before) +
                ", \"firmwareAfter\": " + FirmwareJson(result.after) + "}";
    }
    const size_t completed = Completed(results);
    json += "],\n \"completed\": " + std::to_string(completed - Skipped(results)) +
            ", \"skipped\": " + std::to_string(Skipped(results)) +
            ", \"failed\": " + std::to_string(results.size() - completed) +
            ", \"exitStatus\": " + std::to_string(LoadExitStatus(results)) + "}\n";
    return json;
}

int LoadExitStatus(const std::vector<PortLoadResult>& results)
{
    for (const PortLoadResult& result : results)
        if (result.code != LOAD_OK)
            return result.code;
    return LOAD_OK;
}

} // namespace kestrum
