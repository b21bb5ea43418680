#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/c_tcp_socket.h"
#include "platform/rfc2217_telnet_codec.h"
#include "platform/serial_device.h"

namespace kestrum {

// A serial port on a device server, reached over TCP with Telnet COM-port control
// (RFC 2217): port names "rfc2217://host:port" (an IPv6 address in brackets).
//
// An I/O thread sends what callers queue, in order, and reads data, replies and
// notifications. Line changes (DTR, RTS, break) are queued without waiting for the
// server's reply, so a programmer that toggles lines millions of times is not held up by
// the network: a change after a pause goes out at once, during a burst the I/O thread
// sends what piled up once a millisecond. Their result says only that the change was
// queued on a live connection. Every few hundred changes a question follows them, and
// the caller waits for the answer to the one before: this side never runs more than
// about a thousand changes ahead of the line, so a fixed wait made here (a Flash page's
// write time) still holds at the server. A caller that waits for an answer sends and reads the
// socket itself meanwhile, which saves two thread hand-overs per round trip. What the
// caller cannot see without asking the server is approximated as follows:
// - GetModemStatus asks the server a question (the current rate) and waits for the
//   answer; a server answers in order, so DSR and CTS are those it reported before
//   answering, i.e. after applying every earlier line change. How fresh that is depends
//   on the server: one that polls its modem lines (some do, once a second) reports late.
// - RunLineBatch sends the whole batch at once, each modem read as such a question, and
//   then collects the answers in order, so a batch costs one round trip however many
//   reads it holds; a question after its last line change tells when the server has
//   applied everything.
// - OutputQueued counts the bytes not yet handed to the operating system's socket
//   (0xFF counted twice, as it goes out doubled); bytes in the socket, in the server or in
//   its UART are not seen.
// - Drain waits until the last byte has been handed over and then for the answer to a
//   question sent after it: the server has then taken the data, though its own buffer
//   and UART may still hold some (a few kilobytes), so Drain ends a little early.
// - DiscardOutput drops the bytes not yet handed over; DiscardInput drops what has
//   arrived. Neither asks the server to purge its buffers: the request would reach it
//   late, so it would throw away image bytes this side already counts as sent, or the
//   device's answer to a command sent just after the discard. The server's buffers are
//   purged once, at the open, against leftovers of an earlier client.
// - Line errors are counted from the server's line-state notifications.
// - Settings are confirmed by the server's replies: a rate, size, parity or stop size it
//   answers with another value counts as refused. Flow control is sent but not checked
//   (the answer to it cannot be told apart from answers to line changes).
//
// A refused connection, a server that closes at once or never takes up COM-port control,
// a dropped connection and a server that stops answering all end every wait at once;
// OpenErrorText gives the reason, also for a connection lost after the open. The open
// (connection and negotiation) also ends once the cancel check says so. After the open
// the I/O thread watches the server (see Timing::silenceMs), so a server that goes
// silent is found even while nobody waits for an answer.
//
// The member functions are spread over files named after what they do: the open and close
// here in rfc2217_serial_device.cpp, rfc2217_negotiation.cpp, rfc2217_questions.cpp (round
// trips and the server's replies), rfc2217_line_control.cpp, rfc2217_line_batch.cpp,
// rfc2217_data_path.cpp and rfc2217_io_thread.cpp; rfc2217_serial_device_internals.h holds
// what they share.
class Rfc2217SerialDevice : public ISerialDevice, private Rfc2217TelnetCodec::Sink {
public:
    static constexpr const char* kPrefix = "rfc2217://";

    struct Timing {
        int connectMs = 5000; // TCP connection
        // The open's negotiation, from the connection until the server has taken up
        // COM-port control and reported its line settings. One bound, however much the
        // server sends meanwhile: a server that talks but never completes the negotiation
        // (not a COM-port server, or a broken one) is given up after this time.
        int negotiationMs = 5000;
        // Each settings change and round trip after the open; a server that keeps sending
        // (working through queued line changes) gets up to 20 times as long.
        int answerMs = 3000;
        // After the open, a server that has sent nothing for this long is asked a question;
        // one that still sends nothing within answerMs counts as gone, whatever the caller
        // is waiting for. So a server that stops answering is given up at most
        // silenceMs + answerMs after the last byte it sent.
        int silenceMs = 1000;
        int closeFlushMs = 500;  // Close still hands over what is queued this long
    };

    Rfc2217SerialDevice() : Rfc2217SerialDevice(Timing{}) {}
    explicit Rfc2217SerialDevice(Timing timing);
    ~Rfc2217SerialDevice() override;
    Rfc2217SerialDevice(const Rfc2217SerialDevice&) = delete;
    Rfc2217SerialDevice& operator=(const Rfc2217SerialDevice&) = delete;

    // Splits "rfc2217://host:port"; false when the name is not of that form.
    static bool ParseName(const std::string& name, std::string& host, std::string& port);

    bool Open(const std::string& name) override;
    SerialOpenError OpenError() const override;
    std::string OpenErrorText() const override;
    bool IsOpen() const override { return socket_.IsOpen(); }
    void Close() override;
    void SetCancelCheck(std::function<bool()> cancelled) override;

    bool GetSettings(SerialLineSettings& settings) override;
    bool ApplySettings(const SerialLineSettings& settings) override;

    long Write(const uint8_t* data, size_t count) override;
    long Read(uint8_t* data, size_t room) override;
    int Wait(int request, int timeoutMs) override;
    void Release() override;

    long InputQueued() override;
    long OutputQueued() override;
    bool Drain(int timeoutMs) override;
    void DiscardInput() override;
    void DiscardOutput() override;

    bool SetDtr(bool on) override;
    bool SetRts(bool on) override;
    bool SetBreak(bool on) override;
    bool GetModemStatus(bool& dsr, bool& cts) override;
    LineBatchResult RunLineBatch(const SerialLineBatch& batch, const std::function<bool()>& stopped) override;
    bool ErrorCounts(SerialErrorCounts& counts) override;

    // Questions answered by the server since the open (settings changes and modem reads).
    uint64_t RoundTrips() const;

private:
    struct Segment {
        bool data = false;
        std::vector<uint8_t> bytes;
    };
    struct OptionState {
        bool enabled = false;
        bool requested = false;
    };

    bool FailOpen(SerialOpenError error, const std::string& text);
    bool FailOpenLocked(std::unique_lock<std::mutex>& lock, SerialOpenError error, const std::string& text);
    bool Connect(const std::string& host, const std::string& port);
    bool Negotiate();
    bool ReadServerSettings();
    bool CancelSeen();
    bool CancelSeenLocked(std::unique_lock<std::mutex>& lock);
    std::string CancelledText() const;
    std::chrono::steady_clock::time_point NegotiationDue() const;
    std::string UnfinishedNegotiationTextLocked(const std::string& missing, uint64_t bytesBefore) const;
    std::string NoAnswerTextLocked(std::chrono::steady_clock::time_point askedAt) const;
    void NoteQuestionLocked();
    void WatchServerLocked();
    void MarkGoneLocked(const std::string& text);
    void Enqueue(bool data, const std::vector<uint8_t>& bytes);
    void EnqueueLocked(bool data, const std::vector<uint8_t>& bytes, bool wake = true);
    bool EnqueueControl(uint8_t value);
    void EnqueueControlLocked(uint8_t value);
    bool WaitForControlWindow(std::unique_lock<std::mutex>& lock);
    bool AskServer(std::unique_lock<std::mutex>& lock);
    bool AwaitAnswer(std::unique_lock<std::mutex>& lock, uint64_t ask);
    uint64_t QueueQuestionLocked(uint32_t rate);
    std::chrono::steady_clock::time_point AnswerDueLocked() const;
    template <typename Deadline>
    bool ReadUntilAnswered(std::unique_lock<std::mutex>& lock, uint64_t ask, Deadline deadline);
    template <typename Predicate>
    bool WaitFor(std::unique_lock<std::mutex>& lock, int timeoutMs, Predicate predicate);
    int ConditionsLocked(int request) const;
    size_t QueuedBytesLocked() const;

    void IoThread();
    bool IoKeepsRunning(bool& pending, int& idleTicks);
    bool TakeQueued();
    bool SendSome();
    void SendQueued();
    void ReceiveSome();
    bool StartIoRead();
    void OnData(const uint8_t* data, size_t count) override;
    void OnOption(uint8_t verb, uint8_t option) override;
    void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) override;
    void OnComPortReply(uint8_t command, std::span<const uint8_t> value);
    void OnRateReply(std::span<const uint8_t> value);
    uint64_t EncodeBatchLocked(const SerialLineBatch& batch, std::vector<uint8_t>& bytes);
    LineBatchResult::End AwaitBatchLocked(std::unique_lock<std::mutex>& lock, uint64_t lastAsk);
    OptionState* LocalOption(uint8_t option);
    OptionState* RemoteOption(uint8_t option);

    const Timing timing_;
    std::string peer_;  // host:port, for texts
    std::function<bool()> cancelCheck_; // owner thread only
    bool cancelSeen_ = false;           // owner thread only
    std::chrono::steady_clock::time_point connectedAt_;
    CTcpSocket socket_;
    std::thread io_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    SerialOpenError openError_ = SerialOpenError::None;
    std::string failText_;
    bool stop_ = false;
    bool gone_ = false;
    bool released_ = false;
    bool wakePending_ = false;
    std::deque<Segment> queued_;       // not yet taken by the I/O thread
    size_t queuedData_ = 0;            // data bytes in queued_
    size_t inFlightData_ = 0;          // data bytes taken and not yet all handed over
    std::deque<uint8_t> input_;
    SerialLineSettings settings_;
    OptionState localBinary_, localSga_, localComPort_;
    OptionState remoteBinary_, remoteSga_;
    bool comPortRefused_ = false;
    uint64_t rateAsks_ = 0;     // SET-BAUDRATE commands sent
    uint64_t rateReplies_ = 0;  // their answers received
    uint64_t roundTrips_ = 0;
    uint64_t bytesReceived_ = 0;
    uint32_t replyRate_ = 0;
    std::optional<uint8_t> replyDataSize_, replyParity_, replyStopSize_, replyFlow_;
    uint8_t modemState_ = 0;
    // The running batch's reads: the answer to question batchFirstAsk_ + i is read i.
    uint64_t batchFirstAsk_ = 0;
    std::vector<ModemLines> batchAnswers_;
    SerialErrorCounts counts_;
    SerialErrorCounts countsSeen_;

    bool ownerReading_ = false;  // a caller waiting for an answer reads the input itself
    bool ioReading_ = false;     // the I/O thread is reading the input
    bool ioTicking_ = false;     // the I/O thread looks at the queue every tick
    std::chrono::steady_clock::time_point stopDeadline_;
    std::chrono::steady_clock::time_point lastReceived_;
    bool dataUnconfirmed_ = false;  // data written after the newest question
    uint64_t confirmingAsk_ = 0;    // the newest question
    uint64_t controlsSinceCheckpoint_ = 0;
    uint64_t checkpointAsk_ = 0;    // the newest checkpoint question
    std::chrono::steady_clock::time_point confirmingAskedAt_;
    bool watching_ = false;  // the open is done: the I/O thread watches for silence
    // Since when the oldest question not yet answered has waited (or the last answer came).
    std::chrono::steady_clock::time_point questionWaitingSince_;

    std::mutex readMutex_;  // one reader of the socket at a time
    Rfc2217TelnetCodec codec_;
    std::mutex sendMutex_;  // one sender: what is in flight
    std::vector<uint8_t> inFlight_;
    size_t inFlightSent_ = 0;
};

} // namespace kestrum
