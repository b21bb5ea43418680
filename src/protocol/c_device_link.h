#pragma once

#include <cstdint>
#include <string>

#include "link/c_status_channel.h"
#include "platform/c_event.h"
#include "protocol/link_wait.h"
#include "protocol/protocol_timing.h"

namespace kestrum {

class CPort;

// Result codes of Connect.
enum ConnectResult : int {
    kConnected = 0,
    kConnectNoAnswer = 1,
    kConnectNoCancelEvent = 2,
    kConnectCancelled = 3,
    kConnectRateRefused = 5,
    kConnectSpeedNotChanged = 7,
    kConnectSpeedUnreadable = 8,
    kConnectHandshakeFailed = 9,
};

inline constexpr const char* kConnectingAborted = "Connecting aborted by User";

// The base of the device protocol objects: a status channel the creator links to its own,
// and the caller's cancel event, remembered by Connect.
class CDeviceLink {
public:
    explicit CDeviceLink(const ProtocolTiming& timing = {});
    virtual ~CDeviceLink() = default;
    CDeviceLink(const CDeviceLink&) = delete;
    CDeviceLink& operator=(const CDeviceLink&) = delete;

    // Finds the device on the port. The cancel event is owned by the caller and must
    // outlive the link; without one the result is kConnectNoCancelEvent.
    virtual int Connect(CPort& port, uint32_t rate, int handshake, CEvent* cancel, int tries) = 0;
    virtual bool Query(CPort& port, const std::string& tag, const std::string& command, std::string& reply,
                       int timeoutMs) = 0;

    // True when the program is closing or the cancel event is signalled (consuming the
    // signal); then "Connecting aborted by User" is posted.
    bool IsCancelled();

    CStatusChannel& StatusChannel() { return status_; }
    // A cancel has been seen since Connect; every later wait of this link ends at once.
    bool CancelSeen() const { return cancelSeen_; }

protected:
    void Post(const std::string& text) { status_.SetStatus(text); }
    // Connect's "stop if cancelled": cancelled, or the port has been closed.
    bool StopIfCancelled(CPort& port);
    // Whether a wait on the port should end early. A cancel seen here is remembered, so
    // the following IsCancelled still reports it.
    bool StopRequested(CPort& port);
    StopCheck StopFor(CPort& port)
    {
        return [this, &port] { return StopRequested(port); };
    }
    // A pause that dispatches messages and ends early on a stop; false when stopped.
    bool Pause(CPort& port, int ms) { return WaitUnlessStopped(ms, StopFor(port)); }
    void RememberCancelEvent(CEvent* cancel);

    const ProtocolTiming timing_;

private:
    bool CancelSignalled();

    CStatusChannel status_;
    CEvent* cancel_ = nullptr;
    bool cancelSeen_ = false;
};

// printf-style formatting for status texts.
std::string FormatStatus(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kestrum
