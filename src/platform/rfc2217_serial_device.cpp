// The network port's open and close: the name, the connection, the cancel check, the reason
// a port failed or was lost.
#include "platform/rfc2217_serial_device.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/rfc2217_serial_device_internals.h"

namespace kestrum {

using namespace rfc2217;

namespace {

bool AllDigits(const std::string& text)
{
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

Rfc2217SerialDevice::Rfc2217SerialDevice(Timing timing) : timing_(timing) {}

Rfc2217SerialDevice::~Rfc2217SerialDevice()
{
    Close();
}

bool Rfc2217SerialDevice::ParseName(const std::string& name, std::string& host, std::string& port)
{
    if (!name.starts_with(kPrefix))
        return false;
    std::string rest = name.substr(std::strlen(kPrefix));
    if (rest.ends_with("/"))
        rest.pop_back();
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const bool portValid = AllDigits(port) && std::stoul(port) > 0 && std::stoul(port) <= 65535;
    return !host.empty() && host.find_first_of("/[]") == std::string::npos && portValid;
}

SerialOpenError Rfc2217SerialDevice::OpenError() const
{
    std::lock_guard lock(mutex_);
    return openError_;
}

std::string Rfc2217SerialDevice::OpenErrorText() const
{
    std::lock_guard lock(mutex_);
    return failText_;
}

uint64_t Rfc2217SerialDevice::RoundTrips() const
{
    std::lock_guard lock(mutex_);
    return roundTrips_;
}

bool Rfc2217SerialDevice::FailOpen(SerialOpenError error, const std::string& text)
{
    Close();
    std::lock_guard lock(mutex_);
    openError_ = error;
    failText_ = text;
    return false;
}

bool Rfc2217SerialDevice::FailOpenLocked(std::unique_lock<std::mutex>& lock, SerialOpenError error,
                                         const std::string& text)
{
    lock.unlock();
    return FailOpen(error, text);
}

void Rfc2217SerialDevice::SetCancelCheck(std::function<bool()> cancelled)
{
    cancelCheck_ = std::move(cancelled);
    cancelSeen_ = false;
}

// Remembers a yes: the check may consume what it looks at (an auto-reset event).
bool Rfc2217SerialDevice::CancelSeen()
{
    if (!cancelSeen_ && cancelCheck_ && cancelCheck_())
        cancelSeen_ = true;
    return cancelSeen_;
}

// The check may take locks of its own or dispatch messages, so never with ours held.
bool Rfc2217SerialDevice::CancelSeenLocked(std::unique_lock<std::mutex>& lock)
{
    if (cancelSeen_ || !cancelCheck_)
        return cancelSeen_;
    lock.unlock();
    const bool seen = CancelSeen();
    lock.lock();
    return seen;
}

std::string Rfc2217SerialDevice::CancelledText() const
{
    return "cancelled while opening the network port at " + peer_;
}

bool Rfc2217SerialDevice::Open(const std::string& name)
{
    Close();
    {
        std::lock_guard lock(mutex_);
        openError_ = SerialOpenError::None;
        failText_.clear();
        stop_ = gone_ = released_ = wakePending_ = comPortRefused_ = false;
        queued_.clear();
        queuedData_ = inFlightData_ = 0;
        input_.clear();
        localBinary_ = localSga_ = localComPort_ = remoteBinary_ = remoteSga_ = OptionState{};
        rateAsks_ = rateReplies_ = roundTrips_ = bytesReceived_ = 0;
        replyRate_ = 0;
        modemState_ = 0;
        counts_ = countsSeen_ = SerialErrorCounts{};
        settings_ = SerialLineSettings{};
    }
    codec_ = Rfc2217TelnetCodec{};
    inFlight_.clear();
    inFlightSent_ = 0;
    ownerReading_ = ioReading_ = ioTicking_ = dataUnconfirmed_ = watching_ = false;
    confirmingAsk_ = checkpointAsk_ = controlsSinceCheckpoint_ = 0;
    stopDeadline_ = std::chrono::steady_clock::time_point::max();
    std::string host;
    std::string port;
    if (!ParseName(name, host, port))
        return FailOpen(SerialOpenError::NotFound, "a network port is named rfc2217://host:port");
    // As the name gives it: an IPv6 address keeps its brackets.
    peer_ = (host.find(':') == std::string::npos ? host : "[" + host + "]") + ":" + port;
    if (!Connect(host, port))
        return false;
    connectedAt_ = std::chrono::steady_clock::now();
    io_ = std::thread([this] { IoThread(); });
    if (!Negotiate() || !ReadServerSettings())
        return false;
    std::lock_guard lock(mutex_);
    watching_ = true;
    return true;
}

bool Rfc2217SerialDevice::Connect(const std::string& host, const std::string& port)
{
    std::string detail;
    const CTcpSocket::Failure failure =
        socket_.Connect(host, port, timing_.connectMs, kCancelLookMs, [this] { return CancelSeen(); }, detail);
    switch (failure) {
    case CTcpSocket::Failure::None:
        return true;
    case CTcpSocket::Failure::NoHost:
        return FailOpen(SerialOpenError::NotFound, "cannot find host " + host + ": " + detail);
    case CTcpSocket::Failure::Cancelled:
        return FailOpen(SerialOpenError::Cancelled, CancelledText());
    case CTcpSocket::Failure::Refused:
        return FailOpen(SerialOpenError::NotFound, "connection refused by " + peer_ + " (no server listening there)");
    case CTcpSocket::Failure::TimedOut:
        return FailOpen(SerialOpenError::NotFound, "no answer from " + peer_ + " within " + Seconds(timing_.connectMs));
    default:
        return FailOpen(SerialOpenError::NotFound, "cannot connect to " + peer_ + ": " + detail);
    }
}

void Rfc2217SerialDevice::Close()
{
    if (io_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        socket_.Wake();
        io_.join();
    }
    socket_.Close();
    std::lock_guard lock(mutex_);
    gone_ = true;
    changed_.notify_all();
}

void Rfc2217SerialDevice::MarkGoneLocked(const std::string& text)
{
    if (!gone_) {
        gone_ = true;
        failText_ = text;
    }
    changed_.notify_all();
}

} // namespace kestrum
