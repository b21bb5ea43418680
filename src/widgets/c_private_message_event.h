#pragma once

#include <QEvent>

#include <cstdint>

namespace kestrum {

// A private notification (WM_LOADER_STAGE, WM_CAPTURE_PROMPT, WM_AUTO_LOAD, ...) as a Qt
// event, so it can be posted from any thread and handled in order on the GUI thread.
class CPrivateMessageEvent : public QEvent {
public:
    CPrivateMessageEvent(int message, intptr_t wParam, intptr_t lParam)
        : QEvent(TypeOf(message)), message_(message), wParam_(wParam), lParam_(lParam)
    {
    }

    // Each private message has its own event type, above QEvent::User.
    static QEvent::Type TypeOf(int message) { return static_cast<QEvent::Type>(QEvent::User + message); }

    int Message() const { return message_; }
    intptr_t WParam() const { return wParam_; }
    intptr_t LParam() const { return lParam_; }

private:
    int message_;
    intptr_t wParam_;
    intptr_t lParam_;
};

}  // namespace kestrum
