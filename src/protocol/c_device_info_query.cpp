#include "protocol/c_device_info_query.h"

#include "link/c_serial_port.h"
#include "platform/closing_flag.h"
#include "platform/message_pump.h"
#include "protocol/c_display_unit_link.h"
#include "protocol/tagged_exchange.h"

namespace kestrum {

namespace {

constexpr const char* kTryToOpen = "Try to open connection";
constexpr const char* kReady = "Ready ";
constexpr const char* kPowerBoardTag = "POWER_BOARD";
constexpr const char* kVersionTag = "V";
constexpr int kNoHandshake = 0;
constexpr size_t kVersionReplyLength = 6;  // hardware character, then five of firmware

// Closes the port on every way out of a query.
class PortCloser {
public:
    explicit PortCloser(std::unique_ptr<CPort> port) : port_(std::move(port)) {}
    ~PortCloser() { Close(); }
    PortCloser(const PortCloser&) = delete;
    PortCloser& operator=(const PortCloser&) = delete;

    CPort& operator*() { return *port_; }
    void Close() { ClosePort(std::move(port_)); }

private:
    std::unique_ptr<CPort> port_;
};

}  // namespace

CDeviceInfoQuery::CDeviceInfoQuery(LinkSettings linkSettings, const ProtocolTiming& timing, CEvent* cancel)
    : linkSettings_(std::move(linkSettings)), timing_(timing), cancel_(cancel != nullptr ? cancel : &ownCancel_)
{
}

QueryOutcome CDeviceInfoQuery::Run(DeviceKind kind, const PortSettings& settings)
{
    if (busy_)
        return QueryOutcome::Busy;
    busy_ = true;
    QueryOutcome outcome = QueryOutcome::Completed;
    switch (kind) {
    case DeviceKind::Receiver:
        outcome = GetReceiverInfo(settings);
        break;
    case DeviceKind::PowerBoard:
        outcome = GetPowerBoardInfo(settings);
        break;
    case DeviceKind::DisplayUnit:
        outcome = GetDisplayUnitInfo(settings);
        break;
    }
    busy_ = false;
    return outcome;
}

QueryOutcome CDeviceInfoQuery::GetReceiverInfo(const PortSettings& settings)
{
    const auto ask = [this](CDeviceLink& link, CPort& port, int timeout) {
        info_.model = Ask(link, port, "MODEL", "print,/par/rcv/model", timeout);
        info_.hardware = Ask(link, port, "BOARD", "print,/par/rcv/ver/board", timeout);
        info_.id = Ask(link, port, "IDENT", "print,/par/rcvid", timeout);
        info_.firmware = Ask(link, port, "FRMWR", "print,/par/version/main", timeout);
        info_.ramSize = Ask(link, port, "RAMSZ", "print,/par/rcv/mem", timeout);
    };
    const auto resultText = [this] {
        for (std::string* value : {&info_.model, &info_.id, &info_.firmware, &info_.hardware, &info_.ramSize})
            TrimLeadingBlanks(*value);
        return ReceiverInfoText(info_);
    };
    return AskReceiver(settings, ReceiverLabelsText(), ask, resultText);
}

QueryOutcome CDeviceInfoQuery::GetPowerBoardInfo(const PortSettings& settings)
{
    const auto ask = [this](CDeviceLink& link, CPort& port, int timeout) {
        info_.firmware = Ask(link, port, kPowerBoardTag, "print,/par/rcv/ver/pow/fw", timeout);
        info_.hardware = Ask(link, port, kPowerBoardTag, "print,/par/rcv/ver/pow/hw", timeout);
    };
    const auto resultText = [this] {
        TrimLeadingBlanks(info_.firmware);
        TrimLeadingBlanks(info_.hardware);
        return VersionInfoText(info_);
    };
    return AskReceiver(settings, VersionLabelsText(), ask, resultText);
}

// The receiver and the power board answer through the receiver's command language.
QueryOutcome CDeviceInfoQuery::AskReceiver(const PortSettings& settings, const std::string& labels, const Asker& ask,
                                           const std::function<std::string()>& resultText)
{
    cancel_->Reset();
    ShowText(labels);
    status_.SetStatus(kTryToOpen);
    const auto speed = static_cast<uint32_t>(settings.speed);
    QueryOutcome outcome = QueryOutcome::Completed;
    std::unique_ptr<CPort> opened = OpenPort(settings.port, speed, settings.handshaking, outcome);
    if (!opened)
        return outcome;
    PortCloser port(std::move(opened));
    CReceiverLink link(linkSettings_, timing_);
    link.StatusChannel().LinkTo(status_.Number());
    if (!ConnectLink(link, *port, DeviceRate(*port), settings.handshaking))
        return QueryOutcome::NotConnected;
    // Values of an earlier query stay until the device has been reached.
    info_.ClearAll();
    ask(link, *port, ReplyTimeoutFor(*port, speed, timing_));
    const bool cancelled = link.CancelSeen();
    port.Close();
    const std::string text = resultText();
    status_.SetStatus(kReady);
    ShowText(text);
    return cancelled ? QueryOutcome::Cancelled : QueryOutcome::Completed;
}

QueryOutcome CDeviceInfoQuery::GetDisplayUnitInfo(const PortSettings& settings)
{
    ShowText(VersionLabelsText());
    status_.SetStatus(kTryToOpen);
    QueryOutcome outcome = QueryOutcome::Completed;
    std::unique_ptr<CPort> opened = OpenPort(settings.port, kDisplayUnitRate, kNoHandshake, outcome);
    if (!opened)
        return outcome;
    PortCloser port(std::move(opened));
    CDisplayUnitLink link(timing_);
    link.StatusChannel().LinkTo(status_.Number());
    info_.ClearVersions();
    if (!ConnectLink(link, *port, kDisplayUnitRate, 0))
        return QueryOutcome::NotConnected;
    const std::string reply = Ask(link, *port, kVersionTag, "", timing_.vdkQueryTimeoutMs);
    if (reply.size() == kVersionReplyLength) {
        info_.hardware = reply.substr(0, 1);
        info_.firmware = reply.substr(1);
    }
    const bool cancelled = link.CancelSeen();
    const std::string text = VersionInfoText(info_);
    port.Close();
    status_.SetStatus(kReady);
    ShowText(text);
    return cancelled ? QueryOutcome::Cancelled : QueryOutcome::Completed;
}

std::unique_ptr<CPort> CDeviceInfoQuery::OpenPort(const std::string& name, uint32_t rate, int handshake,
                                                  QueryOutcome& outcome)
{
    // A network port's open takes a while: the page's Cancel and a closing window end it.
    auto port = std::make_unique<CSerialPort>(name, SerialPortTiming{}, [this] {
        MessagePump::DispatchPending();
        return ClosingFlag::IsSet() || cancel_->Test();
    });
    if (port->OpenCancelled()) {
        status_.SetStatus(port->OpenFailureDetail());
        ClosePort(std::move(port));
        outcome = QueryOutcome::Cancelled;
        return nullptr;
    }
    if (port->GetHandle() == nullptr) {
        port->PostOpenFailure(status_);
        ClosePort(std::move(port));
        outcome = QueryOutcome::PortNotOpened;
        return nullptr;
    }
    port->StatusChannel().LinkTo(status_.Number());
    if (!port->SetBaudRate(rate)) {
        ClosePort(std::move(port));
        outcome = QueryOutcome::RateRefused;
        return nullptr;
    }
    port->SetHandshake(handshake);
    port->StartReceive();
    return port;
}

bool CDeviceInfoQuery::ConnectLink(CDeviceLink& link, CPort& port, uint32_t rate, int handshake)
{
    connectResult_ = link.Connect(port, rate, handshake, cancel_, kConnectTries);
    return connectResult_ == kConnected;
}

std::string CDeviceInfoQuery::Ask(CDeviceLink& link, CPort& port, const char* tag, const char* command,
                                  int timeoutMs)
{
    std::string reply;
    return link.Query(port, tag, command, reply, timeoutMs) ? reply : std::string();
}

void CDeviceInfoQuery::ShowText(std::string text)
{
    info_.text = std::move(text);
    if (textListener_)
        textListener_(info_.text);
}

DeviceInfoResult RunDeviceInfoQuery(DeviceKind kind, const PortSettings& settings, int32_t statusChannel,
                                    LinkSettings linkSettings, CEvent* cancel, const ProtocolTiming& timing)
{
    CDeviceInfoQuery query(std::move(linkSettings), timing, cancel);
    if (statusChannel >= 0)
        query.StatusChannel().LinkTo(statusChannel);
    DeviceInfoResult result;
    result.outcome = query.Run(kind, settings);
    result.info = query.Info();
    result.connectResult = query.ConnectResult();
    result.lastStatus = query.StatusChannel().Text();
    return result;
}

}  // namespace kestrum
