#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/c_event.h"

namespace kestrum {

// The latest status text of one reporting object, with an event that announces a new
// text and a forwarding link to another channel. Channels are numbered in a process-wide
// registry and link by number, so a link to a destroyed channel is simply skipped.
//
// A worker thread may post while the GUI thread reads: the text is guarded, and a
// channel is only ever reached through the registry's lock.
class CStatusChannel {
public:
    CStatusChannel();
    virtual ~CStatusChannel();
    CStatusChannel(const CStatusChannel&) = delete;
    CStatusChannel& operator=(const CStatusChannel&) = delete;

    // Stores the text; unless quiet, signals the event, forwards down the chain and
    // dispatches the calling thread's pending messages.
    void SetStatus(const std::string& text, bool quiet = false);
    // SetStatus(text held now, false).
    void SignalStatus();
    // Only the forwarding step, with this channel's text.
    void ForwardStatus();
    // false (link unchanged) for an unknown, own, destroyed or back-linking number.
    bool LinkTo(int32_t number);

    int32_t Number() const { return number_; }
    int32_t Link() const;
    std::string Text() const;
    CEvent& Event() { return event_; }

private:
    void Forward(const std::string& text);

    CEvent event_{CEvent::ResetMode::Auto};
    const int32_t number_;
    mutable std::mutex mutex_;
    std::string text_;
    int32_t link_ = -1;
};

}  // namespace kestrum
