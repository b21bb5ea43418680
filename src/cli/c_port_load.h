#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/c_record_file.h"
#include "app/c_settings_file.h"
#include "cli/c_port_progress.h"
#include "cli/cli_config.h"
#include "link/c_status_channel.h"
#include "loader/load_request.h"
#include "platform/c_event.h"

namespace kestrum {

// How one port's load ended, for the summary.
struct PortLoadResult {
    std::string port;
    int code = 0;                       // the loader's result code (0 completed)
    std::string text;                   // "Loading completed" or the code's text
    std::string lastStatus;             // the last status text: the reason behind a failure
    double seconds = 0;                 // from the start to the end of the port's work
    std::optional<double> flashSeconds; // the Flash image's stage, when it ran to its end
    ProductionRecord::Result outcome = ProductionRecord::Result::Failed;
    std::optional<DeviceInfo> before;   // what the device reported before the load, if asked
    std::optional<DeviceInfo> after;    // and after it
    std::vector<ImageDigest> images;    // the images the load read and sent
};

// One port's load in kestrum-cli, on a thread of its own: a receiver or power-board load
// (the port test, then the load worker) or a VDK-1 run, with the command line's images
// and options. Its status texts go to its own channel, its progress and capture prompt to
// its own CPortProgress, so loads on several ports never mix. Destruction stops a load
// still running and waits for its thread.
class CPortLoad {
public:
    // record: where the port's production record goes when it ends; null for none.
    CPortLoad(const CliConfig& config, std::string portName, CSettingsFile& stored, CStatusChannel& status,
              CPortProgress& progress, CRecordFile* record = nullptr);
    ~CPortLoad();
    CPortLoad(const CPortLoad&) = delete;
    CPortLoad& operator=(const CPortLoad&) = delete;

    void Start();
    // Ctrl-C: the load ends as aborted as soon as it notices. Any thread.
    void Stop();
    bool Done() const { return finished_; }
    // Waits at most timeoutMs for the end.
    bool WaitDone(int timeoutMs) { return done_.Wait(timeoutMs); }
    // Complete once Done; before, what is known (a load still running counts as aborted).
    PortLoadResult Result() const;
    const std::string& PortName() const { return portName_; }

private:
    // How the device's work ended, before the check and the record.
    struct WorkEnd {
        int code = 0;
        std::string text;
        std::string lastStatus;
    };

    void Run();
    WorkEnd RunReceiverLoad();
    WorkEnd RunDisplayUnit();
    std::optional<DeviceInfo> AskDevice(bool afterLoad);
    void CheckAfterLoad(WorkEnd& end);
    void Notify(int message, intptr_t wParam, intptr_t lParam);
    void WriteRecord(WorkEnd& end);
    void Finish(const WorkEnd& end);
    double SecondsSince(std::chrono::steady_clock::time_point start) const;

    const CliConfig& config_;
    const std::string portName_;
    CSettingsFile& stored_;
    CStatusChannel& status_;
    CPortProgress& progress_;
    CRecordFile* const record_;
    // Auto-reset, as the Program page's: the port test consumes it, the run's stop
    // request stays.
    const std::shared_ptr<CEvent> cancel_ = std::make_shared<CEvent>(CEvent::ResetMode::Auto);
    CEvent vdkCancel_{CEvent::ResetMode::Manual};
    CEvent queryCancel_{CEvent::ResetMode::Manual}; // the device queries around the load
    std::atomic<bool> stopAsked_{false};
    std::mutex requestMutex_;
    std::shared_ptr<LoadRequest> request_; // while the load worker runs

    mutable std::mutex resultMutex_;
    PortLoadResult result_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::system_clock::time_point startedAt_;
    std::optional<std::chrono::steady_clock::time_point> flashStarted_;
    std::atomic<bool> finished_{false};
    CEvent done_{CEvent::ResetMode::Manual, false};
    std::thread thread_;
};

} // namespace kestrum
