#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "link/c_status_channel.h"
#include "loader/c_load_session.h"
#include "platform/c_event.h"

namespace kestrum {

// The load of a receiver or of its power board, as the Program page runs it, without a
// widget: which image files a run takes, the start with its soft-break fallback, the
// capture retries, the end and the stop. The page supplies the setup of each attempt and
// shows what this object decides; the load itself runs on the session's worker thread.
//
// A run goes through steps the page calls in turn: Check...() before anything starts,
// Begin() once per run, Start() for each attempt (a capture retry is another attempt),
// and TakeOutcome() once the worker is done, which ends the run when it says Finished.
// A step that belongs once before the load goes into Begin(), one after it into the
// Finished end of TakeOutcome().
class CReceiverLoadFlow {
public:
    static constexpr int kSoftBreakRetries = 3;

    // A check of the chosen files: the complaint to show (empty: the run may start), and
    // whether the paths go to the front of their histories, which they do even when a file
    // is missing, so the technician finds the name again.
    struct FileCheck {
        std::string complaint;
        bool remember = false;
        bool Passed() const { return complaint.empty(); }
    };

    // What the page does after a poll finds the worker done.
    enum class Next { Retry, Finished };
    struct Outcome {
        Next next = Next::Finished;
        int result = 0;  // the loader's result code
    };

    // cancel: the page's "&Cancel", also the Capturing dialog's.
    CReceiverLoadFlow(CStatusChannel& pageStatus, std::shared_ptr<CEvent> cancel);
    ~CReceiverLoadFlow();
    CReceiverLoadFlow(const CReceiverLoadFlow&) = delete;
    CReceiverLoadFlow& operator=(const CReceiverLoadFlow&) = delete;

    // A receiver takes both images; the paths are remembered once both are named.
    FileCheck CheckReceiverFiles(const std::string& ram, const std::string& flash);
    // A power board takes one image, named in the RAM box; remembered only when it exists.
    FileCheck CheckPowerBoardImage(const std::string& image);

    // A run with this capture method begins (once per "&Load"): its capture retries are set.
    void Begin(int captureMethod);
    // Starts an attempt; the session's start result (CLoadSession::Start). A soft break
    // that cannot reach the receiver falls back once to power-on capture, without the
    // Capturing dialog, which only the user's own choice shows. The start may talk to the
    // receiver for a while with the window alive: the flow counts as busy meanwhile.
    int Start(int captureMethod, LoadSetup setup);
    // The loader's result a failed start ends the run with.
    static int ResultOfFailedStart(int started);
    // Once the worker is done: its result, and whether a capture failure is tried again.
    Outcome TakeOutcome();

    // Asks a running load to stop (the cancel event is the caller's to set) and waits
    // briefly; the caller asks again until Busy() is false. Never ends a thread by force.
    void RequestStop();
    // Waits for the worker thread of a run that has ended (nothing when none has).
    void JoinEnded();
    // Stops a run still going and waits for its thread.
    void StopAndWait();

    bool Busy() const { return session_.Running() || starting_; }
    bool CaptureDialogAllowed() const { return captureDialogAllowed_; }
    int ProgressSteps() const { return progressSteps_->load(); }

private:
    int Attempt(int captureMethod, LoadSetup setup);

    std::shared_ptr<CEvent> cancel_;
    CLoadSession session_;
    std::shared_ptr<std::atomic<int>> progressSteps_;
    std::string ramPath_;
    std::string flashPath_;
    int retries_ = 0;
    bool starting_ = false;
    bool captureDialogAllowed_ = false;
};

}  // namespace kestrum
