#pragma once

#include <QObject>

#include <mutex>

namespace kestrum {

// The Qt side of the core's message hooks. While it exists:
// - a long wait on the GUI thread (PumpMessagesFor, every status post) runs Qt's event
//   processing, so Cancel buttons work during an exchange; on any other thread the hook
//   does nothing, since only the GUI thread may touch widgets;
// - a notification posted from any thread (the load worker's WM_LOADER_STAGE and
//   WM_CAPTURE_PROMPT) becomes a CPrivateMessageEvent posted to the target window.
// Notifications without a target are dropped, as posts to a closed window are.
class CQtMessageHooks {
public:
    CQtMessageHooks();
    ~CQtMessageHooks();
    CQtMessageHooks(const CQtMessageHooks&) = delete;
    CQtMessageHooks& operator=(const CQtMessageHooks&) = delete;

    // The window that receives posted notifications (the main window); null for none.
    // The target must set null before it is destroyed: a worker may be posting.
    void SetTarget(QObject* target);

    // The longest one pump step may spend in Qt's event processing.
    static constexpr int kPumpStepMs = 50;

private:
    void Post(int message, intptr_t wParam, intptr_t lParam);

    std::mutex mutex_;
    QObject* target_ = nullptr;
};

}  // namespace kestrum
