#include "platform/rfc2217_serial_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

namespace kestrum {

using namespace rfc2217;

namespace {

// Data received and not read; beyond it bytes are lost as a driver's buffer overrun.
constexpr size_t kInputRoom = 1 << 20;
// Bytes queued for the I/O thread; Write takes no more, line changes wait for room.
constexpr size_t kOutputRoom = 256 * 1024;
constexpr size_t kReceiveChunk = 64 * 1024;
// While a caller reads the input itself the I/O thread looks again this often.
constexpr int kIoSliceMs = 20;
// While the open waits it looks at the cancel check this often.
constexpr int kCancelLookMs = 20;
// While line changes keep coming the I/O thread sends them this often; after this many
// ticks without any it sleeps until woken.
constexpr int kTickMs = 1;
constexpr int kTicksBeforeIdle = 20;
// Line changes between two checkpoint questions; see WaitForControlWindow.
constexpr uint64_t kCheckpointEvery = 512;
// A question waits at most this many answer times while the server keeps sending.
constexpr int kAnswerStretch = 20;
// Close's last hand-over looks this often whether time is up.
constexpr int kStopSliceMs = 10;
// An idle I/O thread looks this often whether the server has gone silent.
constexpr int kWatchSliceMs = 100;

constexpr uint8_t kModemMask = kModemDsr | kModemCts | kModemDeltaDsr | kModemDeltaCts;
constexpr uint8_t kLineMask = kLineBreak | kLineFraming | kLineParity | kLineOverrun;

// Deviation (per mille) of a rate the server reports from the one asked for that still
// counts as taken; a UART's divider rarely makes a rate exactly.
constexpr uint32_t kRateTolerancePerMille = 30;

bool RateClose(uint32_t wanted, uint32_t actual)
{
    const uint64_t difference = wanted > actual ? wanted - actual : actual - wanted;
    return difference * 1000 <= static_cast<uint64_t>(wanted) * kRateTolerancePerMille;
}

uint8_t ParityCode(SerialLineSettings::Parity parity)
{
    switch (parity) {
    case SerialLineSettings::Parity::Odd:
        return kParityOdd;
    case SerialLineSettings::Parity::Even:
        return kParityEven;
    default:
        return kParityNone;
    }
}

uint8_t FlowCode(SerialLineSettings::Flow flow)
{
    switch (flow) {
    case SerialLineSettings::Flow::RtsCts:
        return kControlFlowRtsCts;
    case SerialLineSettings::Flow::XonXoff:
        return kControlFlowXonXoff;
    default:
        return kControlFlowNone;
    }
}

std::vector<uint8_t> ComPort(uint8_t command, uint8_t value)
{
    std::vector<uint8_t> bytes;
    Rfc2217TelnetCodec::AppendComPort(bytes, command, value);
    return bytes;
}

std::vector<uint8_t> ComPort32(uint8_t command, uint32_t value)
{
    std::vector<uint8_t> bytes;
    Rfc2217TelnetCodec::AppendComPort32(bytes, command, value);
    return bytes;
}

std::vector<uint8_t> Option(uint8_t verb, uint8_t option)
{
    std::vector<uint8_t> bytes;
    Rfc2217TelnetCodec::AppendOption(bytes, verb, option);
    return bytes;
}

bool AllDigits(const std::string& text)
{
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Seconds(int ms)
{
    return std::to_string((ms + 999) / 1000) + " s";
}

// The real time since start, for texts that say how long was waited.
std::string SecondsSince(std::chrono::steady_clock::time_point start)
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
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

std::chrono::steady_clock::time_point Rfc2217SerialDevice::NegotiationDue() const
{
    return connectedAt_ + std::chrono::milliseconds(timing_.negotiationMs);
}

// What a server that did not complete the negotiation in time did, in the real time
// since the connection: whether it said nothing or talked without giving the answer.
std::string Rfc2217SerialDevice::UnfinishedNegotiationTextLocked(const std::string& missing,
                                                                 uint64_t bytesBefore) const
{
    const uint64_t sent = bytesReceived_ - bytesBefore;
    const std::string what =
        sent == 0 ? "it sent nothing" : "it sent " + std::to_string(sent) + " bytes, none of them the answer";
    return "the server at " + peer_ + " " + missing + " within " + SecondsSince(connectedAt_) + ": " + what;
}

// We offer COM-port control and binary data both ways and no go-aheads; only COM-port
// control is required. Servers that start their own offers get answers in OnOption.
bool Rfc2217SerialDevice::Negotiate()
{
    std::unique_lock lock(mutex_);
    for (OptionState* option : {&localComPort_, &localBinary_, &localSga_, &remoteBinary_, &remoteSga_})
        option->requested = true;
    std::vector<uint8_t> offer;
    for (uint8_t local : {kOptionComPort, kOptionBinary, kOptionSuppressGoAhead})
        Rfc2217TelnetCodec::AppendOption(offer, kWill, local);
    for (uint8_t remote : {kOptionBinary, kOptionSuppressGoAhead})
        Rfc2217TelnetCodec::AppendOption(offer, kDo, remote);
    EnqueueLocked(false, offer);
    const uint64_t bytesBefore = bytesReceived_;
    auto settled = [this] { return gone_ || localComPort_.enabled || comPortRefused_; };
    while (!settled() && std::chrono::steady_clock::now() < NegotiationDue() && !CancelSeenLocked(lock))
        changed_.wait_until(lock,
                            std::min(NegotiationDue(), std::chrono::steady_clock::now() +
                                                           std::chrono::milliseconds(kCancelLookMs)),
                            settled);
    if (gone_)
        return FailOpenLocked(lock, SerialOpenError::Busy,
                              "the server at " + peer_ +
                                  " closed the connection at once (port in use by another client?)");
    if (comPortRefused_)
        return FailOpenLocked(lock, SerialOpenError::NotFound,
                              "the server at " + peer_ + " does not offer COM-port control (RFC 2217)");
    if (cancelSeen_)
        return FailOpenLocked(lock, SerialOpenError::Cancelled, CancelledText());
    if (!localComPort_.enabled)
        return FailOpenLocked(
            lock, SerialOpenError::NotFound,
            UnfinishedNegotiationTextLocked("did not take up COM-port control (RFC 2217)", bytesBefore));
    return true;
}

// The line as the server has it, so GetSettings before any change tells the truth; the
// notifications we want; and nothing left over in the server from an earlier client.
bool Rfc2217SerialDevice::ReadServerSettings()
{
    std::unique_lock lock(mutex_);
    EnqueueLocked(false, ComPort(kSetModemStateMask, kModemMask));
    EnqueueLocked(false, ComPort(kSetLineStateMask, kLineMask));
    EnqueueLocked(false, ComPort(kPurgeData, kPurgeBoth));
    EnqueueLocked(false, ComPort(kSetControl, kControlAskFlow));
    EnqueueLocked(false, ComPort(kSetDataSize, 0));
    EnqueueLocked(false, ComPort(kSetParity, 0));
    EnqueueLocked(false, ComPort(kSetStopSize, 0));
    replyDataSize_.reset();
    replyParity_.reset();
    replyStopSize_.reset();
    replyFlow_.reset();
    const uint64_t bytesBefore = bytesReceived_;
    if (!ReadUntilAnswered(lock, QueueQuestionLocked(0), [this] { return NegotiationDue(); })) {
        if (cancelSeen_)
            return FailOpenLocked(lock, SerialOpenError::Cancelled, CancelledText());
        const std::string text =
            gone_ ? failText_
                  : UnfinishedNegotiationTextLocked(
                        "took up COM-port control but did not report its line settings", bytesBefore);
        return FailOpenLocked(lock, SerialOpenError::NotFound, text);
    }
    ++roundTrips_;
    if (replyRate_ > 0)
        settings_.baudRate = replyRate_;
    if (replyDataSize_ && *replyDataSize_ >= 5 && *replyDataSize_ <= 8)
        settings_.dataBits = *replyDataSize_;
    if (replyParity_ == kParityOdd)
        settings_.parity = SerialLineSettings::Parity::Odd;
    if (replyParity_ == kParityEven)
        settings_.parity = SerialLineSettings::Parity::Even;
    if (replyStopSize_ == 2)
        settings_.stopBits = 2;
    if (replyFlow_ == kControlFlowRtsCts)
        settings_.flow = SerialLineSettings::Flow::RtsCts;
    if (replyFlow_ == kControlFlowXonXoff)
        settings_.flow = SerialLineSettings::Flow::XonXoff;
    return true;
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

template <typename Predicate>
bool Rfc2217SerialDevice::WaitFor(std::unique_lock<std::mutex>& lock, int timeoutMs, Predicate predicate)
{
    auto done = [&] { return gone_ || predicate(); };
    if (timeoutMs < 0)
        changed_.wait(lock, done);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    return !gone_ && predicate();
}

size_t Rfc2217SerialDevice::QueuedBytesLocked() const
{
    size_t total = 0;
    for (const Segment& segment : queued_)
        total += segment.bytes.size();
    return total;
}

// Consecutive pieces of one kind share a segment, so discarding data keeps commands.
// Data wakes the I/O thread at once. Line changes wake it only when it is idle: while
// they keep coming it looks every kTickMs anyway, so a burst costs one send per tick and
// not one per change, and a single change after a pause still goes out at once.
void Rfc2217SerialDevice::EnqueueLocked(bool data, const std::vector<uint8_t>& bytes, bool wake)
{
    if (queued_.empty() || queued_.back().data != data)
        queued_.push_back(Segment{data, {}});
    queued_.back().bytes.insert(queued_.back().bytes.end(), bytes.begin(), bytes.end());
    if (data)
        queuedData_ += bytes.size();
    if (wake && !wakePending_ && (data || !ioTicking_)) {
        wakePending_ = true;
        socket_.Wake();
    }
}

void Rfc2217SerialDevice::Enqueue(bool data, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(mutex_);
    if (!gone_)
        EnqueueLocked(data, bytes);
}

bool Rfc2217SerialDevice::EnqueueControl(uint8_t value)
{
    std::unique_lock lock(mutex_);
    if (gone_)
        return false;
    if (QueuedBytesLocked() >= kOutputRoom &&
        !WaitFor(lock, timing_.answerMs, [this] { return QueuedBytesLocked() < kOutputRoom; })) {
        MarkGoneLocked("the server at " + peer_ + " stopped taking data for " + Seconds(timing_.answerMs));
        return false;
    }
    EnqueueControlLocked(value);
    return WaitForControlWindow(lock);
}

void Rfc2217SerialDevice::EnqueueControlLocked(uint8_t value)
{
    EnqueueLocked(false, ComPort(kSetControl, value));
    ++controlsSinceCheckpoint_;
}

// Line changes are not answered by every server (one serving a pseudo-terminal says
// nothing), so every kCheckpointEvery of them a question follows, unawaited. Before the
// next one goes, the one before must have been answered: this side then never runs more
// than two checkpoints ahead of the line, and a fixed wait made here (a Flash page's
// write time) still holds at the server.
bool Rfc2217SerialDevice::WaitForControlWindow(std::unique_lock<std::mutex>& lock)
{
    if (controlsSinceCheckpoint_ < kCheckpointEvery)
        return true;
    controlsSinceCheckpoint_ = 0;
    const uint64_t previous = checkpointAsk_;
    checkpointAsk_ = QueueQuestionLocked(0);
    if (rateReplies_ >= previous)
        return true;
    const auto start = std::chrono::steady_clock::now();
    const auto answerTime = std::chrono::milliseconds(timing_.answerMs);
    if (ReadUntilAnswered(lock, previous, [&] { return std::max(start, lastReceived_) + answerTime; }))
        return true;
    if (!gone_ && !cancelSeen_)
        MarkGoneLocked(NoAnswerTextLocked(start));
    return false;
}

// Asks the current rate and waits for the answer: everything sent before has then been
// applied by the server, and every notification it made on the way has arrived.
bool Rfc2217SerialDevice::AskServer(std::unique_lock<std::mutex>& lock)
{
    if (gone_)
        return false;
    return AwaitAnswer(lock, QueueQuestionLocked(0));
}

// The question is the rate request (0 asks); its answer comes after the server has dealt
// with everything sent before, data included.
uint64_t Rfc2217SerialDevice::QueueQuestionLocked(uint32_t rate)
{
    NoteQuestionLocked();
    const uint64_t ask = ++rateAsks_;
    EnqueueLocked(false, ComPort32(kSetBaudRate, rate), false);
    dataUnconfirmed_ = false;
    confirmingAsk_ = ask;
    confirmingAskedAt_ = std::chrono::steady_clock::now();
    return ask;
}

// When the answer to the newest question is overdue: answerMs after it was asked, moved
// on while the server keeps sending (working through queued line changes, say), up to
// kAnswerStretch answer times.
std::chrono::steady_clock::time_point Rfc2217SerialDevice::AnswerDueLocked() const
{
    const auto answerTime = std::chrono::milliseconds(timing_.answerMs);
    return std::min(std::max(confirmingAskedAt_, lastReceived_) + answerTime,
                    confirmingAskedAt_ + answerTime * kAnswerStretch);
}

bool Rfc2217SerialDevice::AwaitAnswer(std::unique_lock<std::mutex>& lock, uint64_t ask)
{
    if (ReadUntilAnswered(lock, ask, [this] { return AnswerDueLocked(); })) {
        ++roundTrips_;
        return true;
    }
    if (!gone_ && !cancelSeen_)
        MarkGoneLocked(NoAnswerTextLocked(confirmingAskedAt_));
    return false;
}

// The real time waited, and whether the server talked meanwhile (one working through
// queued line changes does, and gets more time: see AnswerDueLocked).
std::string Rfc2217SerialDevice::NoAnswerTextLocked(std::chrono::steady_clock::time_point askedAt) const
{
    return "the server at " + peer_ + " stopped answering: it did not answer within " + SecondsSince(askedAt) +
           (lastReceived_ > askedAt ? " (it kept sending other bytes)" : "");
}

// Called before a question is counted: one asked while none waits starts the wait.
void Rfc2217SerialDevice::NoteQuestionLocked()
{
    if (rateReplies_ >= rateAsks_)
        questionWaitingSince_ = std::chrono::steady_clock::now();
}

// On the I/O thread: a server silent for silenceMs is asked a question, and one that
// then stays silent for answerMs after it counts as gone, so every wait on it ends.
void Rfc2217SerialDevice::WatchServerLocked()
{
    if (!watching_ || gone_ || stop_)
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto heard = std::max(lastReceived_, connectedAt_);
    if (rateReplies_ >= rateAsks_) {
        if (now - heard >= std::chrono::milliseconds(timing_.silenceMs))
            QueueQuestionLocked(0);
        return;
    }
    const auto silentSince = std::max(heard, questionWaitingSince_);
    if (now - silentSince >= std::chrono::milliseconds(timing_.answerMs))
        MarkGoneLocked("the server at " + peer_ + " stopped answering: nothing came from it for " +
                       SecondsSince(heard));
}

// The caller sends and reads the socket itself while it waits for an answer, so a round
// trip costs no hand-over between threads; the I/O thread keeps off the input meanwhile.
// The lock is held on entry and on return; deadline() is read with it held. A cancel
// ends the wait too.
template <typename Deadline>
bool Rfc2217SerialDevice::ReadUntilAnswered(std::unique_lock<std::mutex>& lock, uint64_t ask, Deadline deadline)
{
    ownerReading_ = true;
    lock.unlock();
    SendQueued();
    lock.lock();
    auto answered = [&] { return gone_ || rateReplies_ >= ask; };
    while (!answered() && std::chrono::steady_clock::now() < deadline()) {
        // The I/O thread may have started a read before we took over: let it finish.
        if (ioReading_) {
            changed_.wait_until(lock, deadline(), [&] { return !ioReading_ || answered(); });
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline() - std::chrono::steady_clock::now());
        lock.unlock();
        const int sliceMs = static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, kIoSliceMs));
        if (socket_.Wait(true, false, false, sliceMs) > 0)
            ReceiveSome();
        const bool cancelled = CancelSeen();
        lock.lock();
        if (cancelled)
            break;
    }
    ownerReading_ = false;
    changed_.notify_all();
    // An idle I/O thread is not watching the input: let it take over now.
    if (!ioTicking_)
        socket_.Wake();
    return !gone_ && rateReplies_ >= ask;
}

bool Rfc2217SerialDevice::GetSettings(SerialLineSettings& settings)
{
    std::lock_guard lock(mutex_);
    if (!socket_.IsOpen())
        return false;
    settings = settings_;
    return true;
}

// The rate goes last: its answer shows that the server has dealt with the rest.
bool Rfc2217SerialDevice::ApplySettings(const SerialLineSettings& settings)
{
    if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8 ||
        (settings.stopBits != 1 && settings.stopBits != 2))
        return false;
    std::unique_lock lock(mutex_);
    if (gone_)
        return false;
    replyDataSize_.reset();
    replyParity_.reset();
    replyStopSize_.reset();
    EnqueueLocked(false, ComPort(kSetDataSize, static_cast<uint8_t>(settings.dataBits)));
    EnqueueLocked(false, ComPort(kSetParity, ParityCode(settings.parity)));
    EnqueueLocked(false, ComPort(kSetStopSize, static_cast<uint8_t>(settings.stopBits)));
    EnqueueLocked(false, ComPort(kSetControl, FlowCode(settings.flow)));
    if (!AwaitAnswer(lock, QueueQuestionLocked(settings.baudRate)))
        return false;
    // A server that does not answer a size, parity or stop size is taken at its word.
    const bool taken = RateClose(settings.baudRate, replyRate_) &&
                       replyDataSize_.value_or(settings.dataBits) == settings.dataBits &&
                       replyParity_.value_or(ParityCode(settings.parity)) == ParityCode(settings.parity) &&
                       replyStopSize_.value_or(settings.stopBits) == settings.stopBits;
    if (taken) {
        settings_ = settings;
        settings_.baudRate = replyRate_;
    }
    return taken;
}

long Rfc2217SerialDevice::Write(const uint8_t* data, size_t count)
{
    std::lock_guard lock(mutex_);
    if (!socket_.IsOpen() || gone_)
        return -1;
    const size_t queued = QueuedBytesLocked();
    const size_t room = queued < kOutputRoom ? kOutputRoom - queued : 0;
    std::vector<uint8_t> encoded;
    size_t accepted = 0;
    // Each byte may go out doubled, so taking half the room always fits.
    accepted = std::min(count, room / 2);
    if (accepted == 0)
        return 0;
    Rfc2217TelnetCodec::AppendData(encoded, data, accepted);
    EnqueueLocked(true, encoded);
    dataUnconfirmed_ = true;
    return static_cast<long>(accepted);
}

long Rfc2217SerialDevice::Read(uint8_t* data, size_t room)
{
    std::lock_guard lock(mutex_);
    if (!socket_.IsOpen() || (input_.empty() && gone_))
        return -1;
    const size_t count = std::min(room, input_.size());
    std::copy_n(input_.begin(), count, data);
    input_.erase(input_.begin(), input_.begin() + static_cast<long>(count));
    return static_cast<long>(count);
}

int Rfc2217SerialDevice::ConditionsLocked(int request) const
{
    int bits = 0;
    if (!input_.empty())
        bits |= kReadable;
    if (QueuedBytesLocked() < kOutputRoom)
        bits |= kWritable;
    if (counts_.framing != countsSeen_.framing || counts_.parity != countsSeen_.parity ||
        counts_.overrun != countsSeen_.overrun || counts_.bufferOverrun != countsSeen_.bufferOverrun ||
        counts_.breaks != countsSeen_.breaks)
        bits |= kLineError;
    bits &= request;
    if (gone_)
        bits |= kGone;
    return bits;
}

int Rfc2217SerialDevice::Wait(int request, int timeoutMs)
{
    std::unique_lock lock(mutex_);
    auto ready = [&] { return (released_ && (request & kReleased)) || ConditionsLocked(request) != 0; };
    if (timeoutMs < 0)
        changed_.wait(lock, ready);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (released_ && (request & kReleased)) {
        released_ = false;
        return kReleased;
    }
    return ConditionsLocked(request);
}

void Rfc2217SerialDevice::Release()
{
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

long Rfc2217SerialDevice::InputQueued()
{
    std::lock_guard lock(mutex_);
    return !socket_.IsOpen() ? -1 : static_cast<long>(input_.size());
}

long Rfc2217SerialDevice::OutputQueued()
{
    std::lock_guard lock(mutex_);
    return !socket_.IsOpen() || gone_ ? -1 : static_cast<long>(queuedData_ + inFlightData_);
}

// Handed over is not yet gone: the socket and the server may hold far more than a line
// carries in the time a caller allows for it. So once everything is handed over, a
// question follows the data, and the data counts as sent when it is answered.
bool Rfc2217SerialDevice::Drain(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    const auto end = timeoutMs < 0 ? std::chrono::steady_clock::time_point::max()
                                   : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!WaitFor(lock, timeoutMs, [this] { return queuedData_ + inFlightData_ == 0; }))
        return false;
    if (dataUnconfirmed_)
        QueueQuestionLocked(0);
    if (rateReplies_ >= confirmingAsk_)
        return true;
    if (ReadUntilAnswered(lock, confirmingAsk_, [&] { return std::min(end, AnswerDueLocked()); }))
        return true;
    if (!gone_ && !cancelSeen_ && std::chrono::steady_clock::now() >= AnswerDueLocked())
        MarkGoneLocked(NoAnswerTextLocked(confirmingAskedAt_));
    return false;
}

void Rfc2217SerialDevice::DiscardInput()
{
    std::lock_guard lock(mutex_);
    input_.clear();
}

void Rfc2217SerialDevice::DiscardOutput()
{
    std::lock_guard lock(mutex_);
    std::erase_if(queued_, [](const Segment& segment) { return segment.data; });
    queuedData_ = 0;
}

bool Rfc2217SerialDevice::SetDtr(bool on)
{
    return EnqueueControl(on ? kControlDtrOn : kControlDtrOff);
}

bool Rfc2217SerialDevice::SetRts(bool on)
{
    return EnqueueControl(on ? kControlRtsOn : kControlRtsOff);
}

bool Rfc2217SerialDevice::SetBreak(bool on)
{
    return EnqueueControl(on ? kControlBreakOn : kControlBreakOff);
}

bool Rfc2217SerialDevice::GetModemStatus(bool& dsr, bool& cts)
{
    std::unique_lock lock(mutex_);
    if (!AskServer(lock))
        return false;
    dsr = (modemState_ & kModemDsr) != 0;
    cts = (modemState_ & kModemCts) != 0;
    return true;
}

// Line changes as SET-CONTROL commands and each read as a question, numbered on from
// the questions asked so far, with one more question when the batch does not end with a
// read; returns the number of the last question.
uint64_t Rfc2217SerialDevice::EncodeBatchLocked(const SerialLineBatch& batch, std::vector<uint8_t>& bytes)
{
    using Step = SerialLineBatch::Step;
    static constexpr uint8_t kControls[] = {kControlDtrOff, kControlDtrOn,    kControlRtsOff,
                                            kControlRtsOn,  kControlBreakOff, kControlBreakOn};
    bytes.reserve(batch.Size() * 7 + (batch.Reads() + 1) * 10);
    for (const Step step : batch.Steps()) {
        if (step == Step::ReadModem) {
            Rfc2217TelnetCodec::AppendComPort32(bytes, kSetBaudRate, 0);
            ++rateAsks_;
        } else {
            Rfc2217TelnetCodec::AppendComPort(bytes, kSetControl, kControls[static_cast<size_t>(step)]);
        }
    }
    if (batch.Empty() || batch.Steps().back() != Step::ReadModem) {
        Rfc2217TelnetCodec::AppendComPort32(bytes, kSetBaudRate, 0);
        ++rateAsks_;
    }
    return rateAsks_;
}

LineBatchResult Rfc2217SerialDevice::RunLineBatch(const SerialLineBatch& batch,
                                                  const std::function<bool()>& stopped)
{
    LineBatchResult result;
    // The batch's stop check stands in for the device's cancel check while it runs.
    std::function<bool()> ownCheck = std::exchange(cancelCheck_, stopped);
    const bool ownSeen = std::exchange(cancelSeen_, false);
    std::unique_lock lock(mutex_);
    if (!socket_.IsOpen() || gone_) {
        result.end = LineBatchResult::End::Gone;
        result.error = failText_.empty() ? "the network port is not open" : failText_;
    } else {
        std::vector<uint8_t> bytes;
        NoteQuestionLocked();
        batchFirstAsk_ = rateAsks_ + 1;
        batchAnswers_.assign(batch.Reads(), ModemLines{});
        const uint64_t lastAsk = EncodeBatchLocked(batch, bytes);
        EnqueueLocked(false, bytes, false);
        controlsSinceCheckpoint_ = 0;
        dataUnconfirmed_ = false;
        confirmingAsk_ = lastAsk;
        confirmingAskedAt_ = std::chrono::steady_clock::now();
        result.end = AwaitBatchLocked(lock, lastAsk);
        const uint64_t answered = rateReplies_ >= batchFirstAsk_ ? rateReplies_ - batchFirstAsk_ + 1 : 0;
        result.reads.assign(batchAnswers_.begin(),
                            batchAnswers_.begin() +
                                static_cast<long>(std::min<uint64_t>(answered, batch.Reads())));
        if (result.end == LineBatchResult::End::Gone)
            result.error = failText_;
        else if (result.end == LineBatchResult::End::Stopped)
            result.error = "stopped while the server at " + peer_ + " worked through the batch";
        batchAnswers_.clear();
    }
    lock.unlock();
    cancelCheck_ = std::move(ownCheck);
    cancelSeen_ = ownSeen;
    return result;
}

LineBatchResult::End Rfc2217SerialDevice::AwaitBatchLocked(std::unique_lock<std::mutex>& lock,
                                                           uint64_t lastAsk)
{
    if (ReadUntilAnswered(lock, lastAsk, [this] { return AnswerDueLocked(); })) {
        ++roundTrips_;
        return LineBatchResult::End::Completed;
    }
    if (gone_)
        return LineBatchResult::End::Gone;
    if (cancelSeen_)
        return LineBatchResult::End::Stopped;
    MarkGoneLocked(NoAnswerTextLocked(confirmingAskedAt_));
    return LineBatchResult::End::Gone;
}

bool Rfc2217SerialDevice::ErrorCounts(SerialErrorCounts& counts)
{
    std::lock_guard lock(mutex_);
    if (!socket_.IsOpen())
        return false;
    counts = counts_;
    countsSeen_ = counts_;
    return true;
}

// ---- socket ------------------------------------------------------------------------

// Moves everything queued behind what is in flight (send lock held); true when there
// was something.
bool Rfc2217SerialDevice::TakeQueued()
{
    std::lock_guard lock(mutex_);
    wakePending_ = false;
    const bool any = !queued_.empty();
    for (Segment& segment : queued_)
        inFlight_.insert(inFlight_.end(), segment.bytes.begin(), segment.bytes.end());
    queued_.clear();
    inFlightData_ += queuedData_;
    queuedData_ = 0;
    return any;
}

// Hands over what the socket takes without blocking (send lock held); true when nothing
// is left in flight.
bool Rfc2217SerialDevice::SendSome()
{
    while (inFlightSent_ < inFlight_.size()) {
        const long sent = socket_.Send(inFlight_.data() + inFlightSent_, inFlight_.size() - inFlightSent_);
        if (sent > 0) {
            inFlightSent_ += static_cast<size_t>(sent);
            continue;
        }
        if (sent == CTcpSocket::kWouldBlock)
            return false;
        const std::string reason = CTcpSocket::LastErrorText();
        std::lock_guard lock(mutex_);
        MarkGoneLocked("the connection to " + peer_ + " was lost: " + reason);
        return false;
    }
    inFlight_.clear();
    inFlightSent_ = 0;
    std::lock_guard lock(mutex_);
    inFlightData_ = 0;
    changed_.notify_all();
    return true;
}

// Sends what is queued from the calling thread; what the socket cannot take yet is left
// to the I/O thread.
void Rfc2217SerialDevice::SendQueued()
{
    std::lock_guard send(sendMutex_);
    TakeQueued();
    if (!SendSome())
        socket_.Wake();
}

void Rfc2217SerialDevice::ReceiveSome()
{
    std::lock_guard reading(readMutex_);
    uint8_t buffer[kReceiveChunk];
    const long got = socket_.Receive(buffer, sizeof buffer);
    if (got == CTcpSocket::kWouldBlock)
        return;
    const std::string reason = got < 0 ? CTcpSocket::LastErrorText() : "";
    std::lock_guard lock(mutex_);
    if (got == 0)
        MarkGoneLocked("the server at " + peer_ + " closed the connection");
    else if (got < 0)
        MarkGoneLocked("the connection to " + peer_ + " was lost: " + reason);
    else {
        bytesReceived_ += static_cast<uint64_t>(got);
        codec_.Feed(buffer, static_cast<size_t>(got), *this);
    }
    lastReceived_ = std::chrono::steady_clock::now();
    changed_.notify_all();
}

// False when the thread should end: the connection is gone, or Close asked and
// everything has been handed over or the time for that has passed.
bool Rfc2217SerialDevice::IoKeepsRunning(bool& pending, int& idleTicks)
{
    bool took = false;
    {
        std::lock_guard send(sendMutex_);
        took = TakeQueued();
        pending = !SendSome();
    }
    std::lock_guard lock(mutex_);
    idleTicks = took ? 0 : idleTicks + 1;
    ioTicking_ = idleTicks < kTicksBeforeIdle;
    if (stop_ && stopDeadline_ == std::chrono::steady_clock::time_point::max())
        stopDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing_.closeFlushMs);
    return !gone_ && !(stop_ && (!pending || std::chrono::steady_clock::now() >= stopDeadline_));
}

void Rfc2217SerialDevice::IoThread()
{
    bool pending = false;
    int idleTicks = kTicksBeforeIdle;
    while (IoKeepsRunning(pending, idleTicks)) {
        bool ownerReading = false;
        int sliceMs = -1;
        {
            std::lock_guard lock(mutex_);
            ownerReading = ownerReading_;
            sliceMs = ioTicking_ ? kTickMs : stop_ ? kStopSliceMs : ownerReading ? kIoSliceMs : kWatchSliceMs;
            WatchServerLocked();
        }
        const int ready = socket_.Wait(!ownerReading, pending, true, sliceMs);
        if (ready == CTcpSocket::kWaitFailed) {
            const std::string reason = CTcpSocket::LastErrorText();
            std::lock_guard lock(mutex_);
            MarkGoneLocked("waiting on the connection failed: " + reason);
            break;
        }
        if ((ready & CTcpSocket::kReadable) && StartIoRead()) {
            ReceiveSome();
            std::lock_guard lock(mutex_);
            ioReading_ = false;
            changed_.notify_all();
        }
    }
}

// A caller waiting for an answer reads the input itself; the I/O thread then keeps off.
bool Rfc2217SerialDevice::StartIoRead()
{
    std::lock_guard lock(mutex_);
    if (ownerReading_)
        return false;
    ioReading_ = true;
    return true;
}

void Rfc2217SerialDevice::OnData(const uint8_t* data, size_t count)
{
    const size_t room = input_.size() < kInputRoom ? kInputRoom - input_.size() : 0;
    const size_t kept = std::min(room, count);
    input_.insert(input_.end(), data, data + kept);
    if (kept < count)
        ++counts_.bufferOverrun;
}

Rfc2217SerialDevice::OptionState* Rfc2217SerialDevice::LocalOption(uint8_t option)
{
    switch (option) {
    case kOptionBinary:
        return &localBinary_;
    case kOptionSuppressGoAhead:
        return &localSga_;
    case kOptionComPort:
        return &localComPort_;
    default:
        return nullptr;
    }
}

Rfc2217SerialDevice::OptionState* Rfc2217SerialDevice::RemoteOption(uint8_t option)
{
    switch (option) {
    case kOptionBinary:
        return &remoteBinary_;
    case kOptionSuppressGoAhead:
        return &remoteSga_;
    default:
        return nullptr;
    }
}

// Agrees to what we support and declines the rest; an answer to our own request is not
// answered again, so the two sides never loop.
void Rfc2217SerialDevice::OnOption(uint8_t verb, uint8_t option)
{
    const bool local = verb == kDo || verb == kDont;
    OptionState* state = local ? LocalOption(option) : RemoteOption(option);
    const bool positive = verb == kDo || verb == kWill;
    const uint8_t yes = local ? kWill : kDo;
    const uint8_t no = local ? kWont : kDont;
    std::vector<uint8_t> answer;
    if (!state) {
        if (positive)
            answer = Option(no, option);
    } else if (positive) {
        if (!state->enabled && !state->requested)
            answer = Option(yes, option);
        state->enabled = true;
        state->requested = false;
    } else {
        if (state->enabled)
            answer = Option(no, option);
        if (option == kOptionComPort && local)
            comPortRefused_ = true;
        state->enabled = false;
        state->requested = false;
    }
    if (!answer.empty())
        EnqueueLocked(false, answer);
}

void Rfc2217SerialDevice::OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload)
{
    if (option != kOptionComPort || payload.empty())
        return;
    OnComPortReply(payload[0], std::span<const uint8_t>(payload).subspan(1));
}

// The answer to a question: every report the server made before it holds for the read
// that asked it.
void Rfc2217SerialDevice::OnRateReply(std::span<const uint8_t> value)
{
    if (value.size() >= 4)
        replyRate_ =
            (uint32_t(value[0]) << 24) | (uint32_t(value[1]) << 16) | (uint32_t(value[2]) << 8) | value[3];
    ++rateReplies_;
    questionWaitingSince_ = std::chrono::steady_clock::now();
    if (rateReplies_ >= batchFirstAsk_ && rateReplies_ - batchFirstAsk_ < batchAnswers_.size())
        batchAnswers_[rateReplies_ - batchFirstAsk_] =
            ModemLines{(modemState_ & kModemDsr) != 0, (modemState_ & kModemCts) != 0};
}

void Rfc2217SerialDevice::OnComPortReply(uint8_t command, std::span<const uint8_t> value)
{
    if (command == kSetBaudRate + kReplyOffset) {
        OnRateReply(value);
        return;
    }
    if (value.empty())
        return;
    const uint8_t first = value[0];
    switch (command) {
    case kSetDataSize + kReplyOffset:
        replyDataSize_ = first;
        break;
    case kSetParity + kReplyOffset:
        replyParity_ = first;
        break;
    case kSetStopSize + kReplyOffset:
        replyStopSize_ = first;
        break;
    case kSetControl + kReplyOffset:
        if (first >= kControlFlowNone && first <= kControlFlowRtsCts)
            replyFlow_ = first;
        break;
    case kNotifyLineState + kReplyOffset:
        counts_.framing += (first & kLineFraming) ? 1 : 0;
        counts_.parity += (first & kLineParity) ? 1 : 0;
        counts_.overrun += (first & kLineOverrun) ? 1 : 0;
        counts_.breaks += (first & kLineBreak) ? 1 : 0;
        break;
    case kNotifyModemState + kReplyOffset:
        modemState_ = first;
        break;
    default:
        break;
    }
}

} // namespace kestrum
