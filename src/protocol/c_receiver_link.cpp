#include "protocol/c_receiver_link.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "app/c_settings_file.h"
#include "link/c_port.h"
#include "protocol/tagged_exchange.h"

namespace kestrum {

namespace {

constexpr long kHighestReceiverRate = 460800;
constexpr int kReceiverRtsCts = 1;
constexpr int kNoHandshake = 0;

}  // namespace

CReceiverLink::CReceiverLink(LinkSettings settings, const ProtocolTiming& timing)
    : CDeviceLink(timing), settings_(std::move(settings)), echoOff_(kDefaultEchoOff)
{
    if (settings_.file != nullptr)
        echoOff_ = settings_.file->GetText(kSection, kEchoOffKey, kDefaultEchoOff);
}

CReceiverLink::~CReceiverLink()
{
    if (settings_.file != nullptr && settings_.saveOnExit && settings_.saveOnExit())
        settings_.file->WriteText(kSection, kEchoOffKey, echoOff_);
}

std::vector<uint32_t> CReceiverLink::BuildRateList(uint32_t startRate, const std::vector<uint32_t>& portRates)
{
    std::vector<uint32_t> rates{startRate};
    std::vector<uint32_t> table = portRates;
    std::sort(table.begin(), table.end(), std::greater<>());
    rates.insert(rates.end(), table.begin(), table.end());
    return rates;
}

long CReceiverLink::ReadRate(const std::string& reply)
{
    size_t i = 0;
    while (i < reply.size() && std::isspace(static_cast<unsigned char>(reply[i])))
        ++i;
    bool negative = false;
    if (i < reply.size() && (reply[i] == '+' || reply[i] == '-'))
        negative = reply[i++] == '-';
    long value = 0;
    for (; i < reply.size() && std::isdigit(static_cast<unsigned char>(reply[i])); ++i)
        value = std::min<long>(value * 10 + (reply[i] - '0'), INT_MAX);  // saturates: out of range anyway
    return negative ? -value : value;
}

int CReceiverLink::ReplyTimeoutNow(CPort& port)
{
    return ReplyTimeoutFor(port, DeviceRate(port), timing_);
}

bool CReceiverLink::Query(CPort& port, const std::string& tag, const std::string& command, std::string& reply,
                          int timeoutMs)
{
    TaggedStatus status = TaggedStatus::NoFrame;
    return TaggedExchange(port, tag, command, reply, timeoutMs, status, StopFor(port), timing_);
}

int CReceiverLink::Fail(CPort& port, const char* text, int result)
{
    if (StopIfCancelled(port))
        return kConnectCancelled;
    Post(text);
    return result;
}

int CReceiverLink::Connect(CPort& port, uint32_t, int, CEvent* cancel, int tries)
{
    if (cancel == nullptr)
        return kConnectNoCancelEvent;
    RememberCancelEvent(cancel);

    const uint32_t startRate = DeviceRate(port);
    const bool handshakeWasOn = port.GetHandshake() == kReceiverRtsCts;
    if (handshakeWasOn)
        port.SetHandshake(kNoHandshake);

    const std::vector<uint32_t> rates = BuildRateList(startRate, port.Rates());
    if (StopIfCancelled(port))
        return kConnectCancelled;
    uint32_t foundRate = 0;
    if (const int result = Search(port, rates, tries, foundRate); result != kConnected)
        return result;
    if (StopIfCancelled(port))
        return kConnectCancelled;
    Post(FormatStatus("Found receiver at %u", foundRate));

    uint32_t receiverRate = 0;
    if (const int result = ReadReceiverRate(port, receiverRate); result != kConnected)
        return result;
    if (startRate != receiverRate) {
        if (const int result = MoveReceiverTo(port, startRate, foundRate, receiverRate); result != kConnected)
            return result;
    }
    std::string reply;
    if (!Query(port, "SPEED", "", reply, ReplyTimeoutNow(port)))
        return Fail(port, "Can't connect with receiver", kConnectNoAnswer);
    if (handshakeWasOn) {
        if (const int result = CheckHandshake(port); result != kConnected)
            return result;
    }
    if (!Query(port, "CONNECT", "", reply, ReplyTimeoutNow(port)))
        return Fail(port, "Can't connect with receiver", kConnectNoAnswer);
    Post("Receiver connected");
    port.PurgeInput();
    return kConnected;
}

// One attempt per pass over the list, tries passes in all; the first receiver that
// answers "dm" ends the search.
int CReceiverLink::Search(CPort& port, const std::vector<uint32_t>& rates, int tries, uint32_t& found)
{
    // Fewer than one pass would never reach the attempt limit.
    const long limit = static_cast<long>(std::max(tries, 1)) * static_cast<long>(rates.size());
    size_t index = 0;
    for (long attempt = 1;; ++attempt) {
        if (StopIfCancelled(port))
            return kConnectCancelled;
        const uint32_t rate = rates[index];
        Post(FormatStatus("Try %u", rate));
        if (port.SetBaudRate(rate)) {
            Settle(port);
            Post(FormatStatus("Looking for receiver at %u", rate));
            SendEchoOffAndProbe(port);
            const int timeout = ReplyTimeoutNow(port);
            Pause(port, timeout);
            port.PurgeInput();
            std::string reply;
            if (Query(port, "DM", "dm", reply, timeout)) {
                found = rate;
                return kConnected;
            }
        }
        index = (index + 1) % rates.size();
        if (attempt == limit) {
            Post("Can't connect with receiver");
            return kConnectNoAnswer;
        }
    }
}

// Untagged: whatever the receiver says to these is purged before the next exchange.
void CReceiverLink::SendEchoOffAndProbe(CPort& port)
{
    const std::string echoOffAndNoHandshake = "##\n" + echoOff_ + "\n" + "set,cur/term/rtscts,off\n";
    WriteText(port, echoOffAndNoHandshake);
    Settle(port);
    WriteText(port, echoOff_ + "\n" + "dm\n");
    WriteText(port, echoOffAndNoHandshake);
}

int CReceiverLink::ReadReceiverRate(CPort& port, uint32_t& receiverRate)
{
    constexpr const char* kNoSpeed = "Can't get receiver speed";
    std::string reply;
    if (!Query(port, "RATE", "print,/par/cur/term/rate", reply, ReplyTimeoutNow(port)))
        return Fail(port, kNoSpeed, kConnectSpeedUnreadable);
    const long rate = ReadRate(reply);
    if (reply.empty() || rate < 1 || rate > kHighestReceiverRate) {
        Post(kNoSpeed);
        return kConnectSpeedUnreadable;
    }
    receiverRate = static_cast<uint32_t>(rate);
    return kConnected;
}

// The receiver may run at a multiple q of the rate the port hears it at; the port then
// runs at the starting rate divided by q while the receiver is told the starting rate.
int CReceiverLink::MoveReceiverTo(CPort& port, uint32_t startRate, uint32_t foundRate, uint32_t receiverRate)
{
    uint32_t ratio = foundRate == 0 ? 1 : receiverRate / foundRate;
    if (ratio <= 1)
        ratio = 1;
    const uint32_t portRate = startRate / ratio;
    Post(FormatStatus("Change speed on %i", static_cast<int>(portRate)));
    if (!port.SetBaudRate(portRate)) {
        if (StopIfCancelled(port))
            return kConnectCancelled;
        Post(FormatStatus("Port %s does not support %i rate", port.GetPortName().c_str(), static_cast<int>(portRate)));
        return kConnectRateRefused;
    }
    Settle(port);
    if (!port.SetBaudRate(foundRate))
        return kConnectRateRefused;
    Settle(port);
    std::string reply;
    const std::string command = FormatStatus("set,cur/term/rate,%i", static_cast<int>(startRate));
    if (!Query(port, "NEWSPEED", command, reply, ReplyTimeoutNow(port)))
        return Fail(port, "Can't change receiver speed", kConnectSpeedNotChanged);
    port.SetBaudRate(portRate);
    Settle(port);
    return kConnected;
}

int CReceiverLink::CheckHandshake(CPort& port)
{
    WriteText(port, "##\nset,cur/term/rtscts,on\n");
    Settle(port);
    port.SetHandshake(kReceiverRtsCts);
    Settle(port);
    const int timeout = ReplyTimeoutNow(port);
    Pause(port, timeout);
    std::string reply;
    if (Query(port, "CONNECT", "", reply, timeout))
        return kConnected;
    if (StopIfCancelled(port))
        return kConnectCancelled;
    Post("Can't connect with receiver using Hadshaking");
    port.SetHandshake(kNoHandshake);
    return kConnectHandshakeFailed;
}

}  // namespace kestrum
