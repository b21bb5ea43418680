#pragma once

#include <functional>
#include <memory>
#include <string>

#include "link/c_status_channel.h"
#include "link/port_settings.h"
#include "platform/c_event.h"
#include "protocol/c_receiver_link.h"
#include "protocol/device_info.h"
#include "protocol/protocol_timing.h"

namespace kestrum {

class CPort;

// How a device query ended.
enum class QueryOutcome {
    Completed,      // the device was reached and asked; unanswered values stay empty
    Busy,           // another query was running: nothing was done
    PortNotOpened,  // the status holds the port's own error text
    RateRefused,    // the port reported the refusal on its channel
    NotConnected,   // the link's Connect failed (ConnectResult tells why)
    Cancelled,      // connected, but Cancel ended the questions early; unasked values are empty
};

// The device-information queries behind "Get from Device": they own the state a Device
// page shows (five values, the information text, the busy flag), the cancel event its
// Cancel button signals, and the status channel the page links to the main window. They
// run on the calling thread, dispatching its messages while they wait, and open and close
// their own port, so the line is free before and after.
class CDeviceInfoQuery {
public:
    static constexpr int kConnectTries = 3;
    static constexpr uint32_t kDisplayUnitRate = 115200;

    // cancel: an event owned by the caller that stops the connection search; null gives
    // the query its own.
    explicit CDeviceInfoQuery(LinkSettings linkSettings = {}, const ProtocolTiming& timing = {},
                              CEvent* cancel = nullptr);
    CDeviceInfoQuery(const CDeviceInfoQuery&) = delete;
    CDeviceInfoQuery& operator=(const CDeviceInfoQuery&) = delete;

    // Runs the query for kind with the connection settings; Busy while one is running.
    QueryOutcome Run(DeviceKind kind, const PortSettings& settings);
    QueryOutcome GetReceiverInfo(const PortSettings& settings);
    QueryOutcome GetPowerBoardInfo(const PortSettings& settings);
    // Uses only the port name: the unit always talks at 115200 without handshaking.
    QueryOutcome GetDisplayUnitInfo(const PortSettings& settings);

    const DeviceInfo& Info() const { return info_; }
    DeviceInfo& Info() { return info_; }
    bool Busy() const { return busy_; }
    // The last Connect's result code; meaningful after NotConnected or Completed.
    int ConnectResult() const { return connectResult_; }
    CEvent& CancelEvent() { return *cancel_; }
    CStatusChannel& StatusChannel() { return status_; }

    // Called with the information text each time it changes, so it can be shown at once.
    void SetTextListener(std::function<void(const std::string&)> listener) { textListener_ = std::move(listener); }

private:
    // Asks the connected receiver its parameters with the reply time-out given.
    using Asker = std::function<void(CDeviceLink& link, CPort& port, int timeoutMs)>;

    QueryOutcome AskReceiver(const PortSettings& settings, const std::string& labels, const Asker& ask,
                             const std::function<std::string()>& resultText);
    std::unique_ptr<CPort> OpenPort(const std::string& name, uint32_t rate, int handshake, QueryOutcome& outcome);
    bool ConnectLink(CDeviceLink& link, CPort& port, uint32_t rate, int handshake);
    void ShowText(std::string text);
    std::string Ask(CDeviceLink& link, CPort& port, const char* tag, const char* command, int timeoutMs);

    const LinkSettings linkSettings_;
    const ProtocolTiming timing_;
    DeviceInfo info_;
    bool busy_ = false;
    int connectResult_ = 0;
    CEvent ownCancel_{CEvent::ResetMode::Auto};
    CEvent* const cancel_;
    CStatusChannel status_;
    std::function<void(const std::string&)> textListener_;
};

// One query as the command-line program runs it: status texts go on to the channel
// numbered statusChannel (when not -1), cancel (when given) stops the connection
// search. Returns the values and the information text, and how the query ended.
struct DeviceInfoResult {
    DeviceInfo info;
    QueryOutcome outcome = QueryOutcome::NotConnected;
    int connectResult = 0;
    std::string lastStatus;  // the last status text the query set
};
DeviceInfoResult RunDeviceInfoQuery(DeviceKind kind, const PortSettings& settings, int32_t statusChannel = -1,
                                    LinkSettings linkSettings = {}, CEvent* cancel = nullptr,
                                    const ProtocolTiming& timing = {});

}  // namespace kestrum
