#include <algorithm>
#include <memory>
#include <optional>

#include "cli/c_cli_reporter.h"
#include "cli/c_interrupt_watcher.h"
#include "cli/c_port_load.h"
#include "cli/cli_commands.h"
#include "cli/load_summary.h"
#include "loader/image_header.h"
#include "loader/load_result.h"
#include "platform/c_stopwatch.h"

namespace kestrum {

namespace {

constexpr int kRefreshMs = 100;
// After Ctrl-C the loads have this long to end; one stuck in the kernel is then reported
// as aborted and the program ends without it, before the interrupt watcher gives up.
constexpr uint32_t kStopGraceMs = InterruptGiveUp::kAfterMs - 1000;

using PortLoads = std::vector<std::unique_ptr<CPortLoad>>;

// One port: its result line, as it always was; several, or --json: the summary.
std::string OutcomeText(const std::vector<PortLoadResult>& results, bool json)
{
    if (json)
        return LoadSummaryJson(results);
    if (results.size() == 1)
        return results.front().text + "\n";
    return LoadSummaryText(results);
}

// Every port ended with the same result code, before or without running.
std::vector<PortLoadResult> EveryPortEnded(const std::vector<std::string>& ports, int code,
                                           const std::string& lastStatus = "")
{
    std::vector<PortLoadResult> results;
    for (const std::string& port : ports) {
        PortLoadResult result;
        result.port = port;
        result.code = code;
        GetLoadResultText(code, result.text);
        result.lastStatus = lastStatus;
        results.push_back(result);
    }
    return results;
}

// What the interrupt watcher writes when even the main thread does not get to: every
// port as aborted.
CInterruptWatcher::GiveUp AbortedGiveUp(const std::vector<std::string>& ports, bool json)
{
    std::string text = OutcomeText(EveryPortEnded(ports, LOAD_ABORTED), json);
    if (!text.empty() && text.back() == '\n')
        text.pop_back(); // the watcher ends the line
    return {text, LOAD_ABORTED, InterruptGiveUp::kAfterMs};
}

bool AllDone(const PortLoads& loads)
{
    return std::all_of(loads.begin(), loads.end(), [](const auto& load) { return load->Done(); });
}

// Waits for every load, redrawing meanwhile; Ctrl-C stops them all. False when some
// load has not ended kStopGraceMs after the stop.
bool AwaitLoads(PortLoads& loads, CEvent& interrupted, CCliReporter& reporter)
{
    std::optional<CStopwatch> sinceStop;
    while (!AllDone(loads)) {
        if (!sinceStop && interrupted.Test()) {
            for (auto& load : loads)
                load->Stop();
            sinceStop.emplace();
        }
        if (sinceStop && sinceStop->Elapsed() >= kStopGraceMs)
            return false;
        const auto running =
            std::find_if(loads.begin(), loads.end(), [](const auto& load) { return !load->Done(); });
        (*running)->WaitDone(kRefreshMs);
        reporter.Refresh();
    }
    return true;
}

// A load stuck in the kernel cannot be waited for (its thread cannot be ended either):
// say how every port ended and leave without running the destructors that would wait.
[[noreturn]] void EndWithoutStuckLoads(const std::vector<PortLoadResult>& results, bool json, std::FILE* out,
                                       std::FILE* err)
{
    std::fputs("kestrum-cli: a load did not stop in time; ending without it\n", err);
    std::fputs(OutcomeText(results, json).c_str(), out);
    std::fflush(out);
    std::fflush(err);
    ::_exit(LoadExitStatus(results));
}

// Both images must be usable before a port is opened: a missing or cut-short image is
// found at once, without first talking to the devices for seconds. Each load opens them
// again for itself.
bool ImagesUsable(const CliConfig& config, std::string& problem)
{
    CImageFile image;
    if (!config.ramPath.empty() && !OpenImage(ImageKind::Ram, config.ramPath, image, problem))
        return false;
    return config.flashPath.empty() || OpenImage(ImageKind::Flash, config.flashPath, image, problem);
}

// Every port ends with the image-file result, the reason being the status it never got to.
std::vector<PortLoadResult> RefuseImages(const std::vector<std::string>& ports, const std::string& problem,
                                         std::FILE* err)
{
    std::fprintf(err, "%s\n", problem.c_str());
    return EveryPortEnded(ports, LOAD_FILE_ERROR, problem);
}

// Loads every port at once and waits for them; a load stuck in the kernel after Ctrl-C
// ends the program here.
std::vector<PortLoadResult> LoadEveryPort(const CliConfig& config, CSettingsFile& stored, bool json,
                                          std::FILE* out, std::FILE* err)
{
    CEvent interrupted(CEvent::ResetMode::Manual);
    CInterruptWatcher interrupts([&interrupted] { interrupted.Set(); },
                                 AbortedGiveUp(config.portNames, json));
    std::vector<PortLoadResult> results;
    {
        const bool several = config.portNames.size() > 1;
        CCliReporter reporter(err, several ? config.portNames : std::vector<std::string>{});
        PortLoads loads;
        for (size_t i = 0; i < config.portNames.size(); ++i)
            loads.push_back(std::make_unique<CPortLoad>(config, config.portNames[i], stored,
                                                        reporter.Channel(i), reporter.Display().Port(i)));
        for (auto& load : loads)
            load->Start();
        const bool allEnded = AwaitLoads(loads, interrupted, reporter);
        for (const auto& load : loads)
            results.push_back(load->Result());
        if (!allEnded) {
            reporter.Display().Finish();
            EndWithoutStuckLoads(results, json, out, err);
        }
    }
    return results;
}

} // namespace

int RunLoadCommand(const CliConfig& config, CSettingsFile& stored, bool json, std::FILE* out, std::FILE* err)
{
    std::string problem;
    const std::vector<PortLoadResult> results = ImagesUsable(config, problem)
                                                    ? LoadEveryPort(config, stored, json, out, err)
                                                    : RefuseImages(config.portNames, problem, err);
    std::fputs(OutcomeText(results, json).c_str(), out);
    return LoadExitStatus(results);
}

} // namespace kestrum
