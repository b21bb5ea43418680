#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "link/c_serial_port.h"
#include "link/c_status_channel.h"
#include "loader/load_request.h"
#include "protocol/c_receiver_link.h"

namespace kestrum {

// What the Program page (or kestrum-cli) hands over to start a load.
struct LoadSetup {
    std::string portName;
    uint32_t baudRate = 115200;
    int flowControl = 0;
    std::string ramPath;    // empty: no RAM image
    std::string flashPath;  // empty: no Flash image
    int deviceKind = kLoadReceiver;
    int softBreakVariant = 0;
    CaptureArea captureArea;
    int32_t statusLink = -1;
    std::shared_ptr<CEvent> cancel;           // the caller's cancel event; one is made when null
    std::function<void()> progress;           // one progress step
    std::function<void(int steps)> setRange;  // the progress range is 0..steps
    std::function<void(int message, intptr_t wParam, intptr_t lParam)> notify; // see LoadRequest
    LoadTiming timing;
    SerialPortTiming portTiming;
    LinkSettings receiverSettings;  // where the receiver link keeps its echo-off string
    ProtocolTiming protocolTiming;
};

// Starts loads on a worker thread and keeps that thread; the run's request is shared
// with the worker, so either side may finish first. Destroying the session stops a run
// still going and waits for its thread: no thread is ever killed or left behind.
class CLoadSession {
public:
    // StartLoad's results.
    enum Start { kStarted = 0, kConnectAborted = 2, kConnectFailed = 3, kPortNotOpen = 4, kRateRefused = 5 };

    explicit CLoadSession(CStatusChannel& pageStatus);
    ~CLoadSession();
    CLoadSession(const CLoadSession&) = delete;
    CLoadSession& operator=(const CLoadSession&) = delete;

    int StartLoad(int captureMethod, const LoadSetup& setup);

    // The progress steps of a load with these images: one, plus Flash size / 512 + 1
    // and RAM size / 1024 + 1 for each image whose size can be read.
    static int ProgressSteps(const std::string& ramPath, const std::string& flashPath);

    std::shared_ptr<LoadRequest> Request() const { return request_; }
    bool Running() const { return request_ && !request_->Done(); }
    // Asks a running load to stop and waits for its thread.
    void Stop();
    // Waits for the worker thread after the run has ended.
    void Join();

private:
    std::shared_ptr<LoadRequest> FillRequest(int captureMethod, const LoadSetup& setup) const;
    int TestPort(int captureMethod, const LoadSetup& setup, CEvent& cancel);

    CStatusChannel& pageStatus_;
    std::shared_ptr<LoadRequest> request_;
    std::thread worker_;
};

}  // namespace kestrum
