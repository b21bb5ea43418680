#include "platform/win32_serial_device.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

#include "platform/system_error_text.h"
#include "platform/tick_count.h"

namespace kestrum {

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";
// Driver queue sizes asked for at open (a hint the driver may round or ignore).
constexpr DWORD kInputQueueSize = 16384;
constexpr DWORD kOutputQueueSize = 4096;
// One write hands the driver at most this much; the next waits until it has gone.
constexpr size_t kWriteChunk = 4096;
// Longest single read (a long counts only 32 bits here).
constexpr size_t kReadMost = size_t{1} << 20;
// While waiting, the line's status (input queued, error flags, a removed adapter) is
// looked at this often besides the events.
constexpr int kStatusLookMs = 50;
// A purged write ends at once; this long is allowed for it before its buffer is reused.
constexpr DWORD kPurgedWriteMs = 1000;
// A close ends every operation still pending and gives each this long to report its end.
constexpr DWORD kClosingOperationMs = 2000;
constexpr int kDrainStepMinMs = 1;
constexpr int kDrainStepMaxMs = 20;

HANDLE AsHandle(void* handle)
{
    return static_cast<HANDLE>(handle);
}

bool IsComName(const std::string& name)
{
    return name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(name[2])) == 'M' &&
           std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

SerialOpenError ClassifyOpenError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
        return SerialOpenError::NotFound;
    // Windows refuses a port that another program holds with "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return SerialOpenError::Busy;
    default:
        return SerialOpenError::Other;
    }
}

// What a driver answers once its adapter has been unplugged.
bool ErrorMeansGone(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_FILE_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

void PutLineSettings(DCB& dcb, const SerialLineSettings& settings, bool dtrOn, bool rtsOn)
{
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = settings.parity == SerialLineSettings::Parity::Odd    ? ODDPARITY
                 : settings.parity == SerialLineSettings::Parity::Even ? EVENPARITY
                                                                       : NOPARITY;
    dcb.fParity = settings.parity != SerialLineSettings::Parity::None;
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    const bool rtsCts = settings.flow == SerialLineSettings::Flow::RtsCts;
    const bool xonXoff = settings.flow == SerialLineSettings::Flow::XonXoff;
    dcb.fOutxCtsFlow = rtsCts;
    dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE : rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    dcb.fDtrControl = dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
}

// Binary line: no flow control, no character replaced or dropped, no abort on an error.
void MakeRaw(DCB& dcb)
{
    dcb.fBinary = TRUE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = static_cast<WORD>(kInputQueueSize / 4);
    dcb.XoffLim = static_cast<WORD>(kInputQueueSize / 4);
}

SerialLineSettings SettingsOf(const DCB& dcb)
{
    SerialLineSettings settings;
    settings.baudRate = dcb.BaudRate;
    settings.dataBits = dcb.ByteSize;
    settings.parity = dcb.Parity == ODDPARITY    ? SerialLineSettings::Parity::Odd
                      : dcb.Parity == EVENPARITY ? SerialLineSettings::Parity::Even
                                                 : SerialLineSettings::Parity::None;
    settings.stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
    settings.flow = dcb.fInX || dcb.fOutX                                      ? SerialLineSettings::Flow::XonXoff
                    : dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ? SerialLineSettings::Flow::RtsCts
                                                                                   : SerialLineSettings::Flow::None;
    return settings;
}

bool SameSettings(const SerialLineSettings& a, const SerialLineSettings& b)
{
    return a.baudRate == b.baudRate && a.dataBits == b.dataBits && a.parity == b.parity &&
           a.stopBits == b.stopBits && a.flow == b.flow;
}

int RemainingMs(uint32_t start, int timeoutMs)
{
    if (timeoutMs < 0)
        return -1;
    const uint32_t elapsed = GetTickCount() - start;
    return elapsed >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(elapsed);
}

} // namespace

struct Win32SerialDevice::Overlapped {
    OVERLAPPED record{};

    Overlapped() { record.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { ::CloseHandle(record.hEvent); }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;

    // Ready for the next operation: offsets cleared, event unsignalled.
    OVERLAPPED* Fresh()
    {
        const HANDLE event = record.hEvent;
        record = OVERLAPPED{};
        record.hEvent = event;
        ::ResetEvent(event);
        return &record;
    }
    HANDLE Event() const { return record.hEvent; }

    // The event is up while the operation is still pending: Wine can signal it late for
    // an operation that ended before this one began. Left up, it ended every wait on it at
    // once, for ever: a wait without a time-out spun and never saw its release (a load's
    // end hung). The operation's own end raises it again.
    void ForgetStaleSignal()
    {
        ::ResetEvent(record.hEvent);
        if (HasOverlappedIoCompleted(&record)) // it ended meanwhile
            ::SetEvent(record.hEvent);
    }

    // Waits at most ms for the pending operation to end; false when it has not.
    bool AwaitEnd(HANDLE port, DWORD ms)
    {
        DWORD ignored = 0;
        return ::WaitForSingleObject(record.hEvent, ms) == WAIT_OBJECT_0 &&
               (::GetOverlappedResult(port, &record, &ignored, FALSE) || ::GetLastError() != ERROR_IO_INCOMPLETE);
    }
};

bool Win32SerialDevice::IsPortName(const std::string& name)
{
    return IsComName(name) || (name.size() > 4 && name.starts_with(kDevicePrefix));
}

std::string Win32SerialDevice::DevicePath(const std::string& name)
{
    return name.starts_with(kDevicePrefix) ? name : kDevicePrefix + name;
}

Win32SerialDevice::Win32SerialDevice()
    : handle_(INVALID_HANDLE_VALUE), releaseEvent_(::CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      readDone_(std::make_unique<Overlapped>()), writeDone_(std::make_unique<Overlapped>()),
      commEventDone_(std::make_unique<Overlapped>())
{
}

Win32SerialDevice::~Win32SerialDevice()
{
    Close();
    ::CloseHandle(AsHandle(releaseEvent_));
}

bool Win32SerialDevice::FailOpen(unsigned long error)
{
    openError_ = ClassifyOpenError(error);
    openErrorText_ = SystemErrorText(error);
    Close();
    return false;
}

bool Win32SerialDevice::Open(const std::string& name)
{
    Close();
    openError_ = SerialOpenError::None;
    openErrorText_.clear();
    gone_ = false;
    name_ = name;
    handle_ = ::CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    if (AsHandle(handle_) == INVALID_HANDLE_VALUE)
        return FailOpen(::GetLastError());
    if (::GetFileType(AsHandle(handle_)) != FILE_TYPE_CHAR)
        return FailOpen(ERROR_FILE_NOT_FOUND); // a file of that name, not a port
    if (!PrepareLine())
        return FailOpen(::GetLastError());
    std::lock_guard lock(countsMutex_);
    counts_ = seenCounts_ = SerialErrorCounts{};
    return true;
}

// Queues, events, time-outs and a raw line. The rate and framing are the port's to set;
// a driver that refuses this first state still opens.
bool Win32SerialDevice::PrepareLine()
{
    const HANDLE port = AsHandle(handle_);
    ::SetupComm(port, kInputQueueSize, kOutputQueueSize);
    // Reads return at once with what has arrived; writes have no time-out of their own.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    if (!::SetCommMask(port, EV_RXCHAR | EV_ERR) || !::SetCommTimeouts(port, &timeouts))
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(port, &dcb)) {
        MakeRaw(dcb);
        dtrOn_ = true;
        rtsOn_ = true;
        PutLineSettings(dcb, SettingsOf(dcb), true, true);
        ::SetCommState(port, &dcb);
        baudRate_ = dcb.BaudRate;
    }
    ::PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR);
    std::lock_guard lock(writeMutex_);
    if (const DWORD purge = UnsentOutputPurge())
        ::PurgeComm(port, purge);
    return true;
}

bool Win32SerialDevice::IsOpen() const
{
    return AsHandle(handle_) != INVALID_HANDLE_VALUE;
}

// Every operation still pending is ended and waited for, within a bound, before the
// handle goes: the driver writes into our records until then. CancelIoEx ends those of
// every thread (the receive worker armed the WaitCommEvent, CancelIo would leave it), and
// the wait is bounded, so a driver that never reports an end cannot hold the close.
void Win32SerialDevice::Close()
{
    if (!IsOpen())
        return;
    const HANDLE port = AsHandle(handle_);
    ::SetCommMask(port, 0); // ends a pending WaitCommEvent
    ::CancelIoEx(port, nullptr); // every thread's operations on the port
    {
        std::lock_guard lock(commMutex_);
        if (commArmed_)
            KeepUntilEnded(commEventDone_, nullptr);
        commArmed_ = false;
    }
    {
        std::lock_guard lock(writeMutex_);
        if (writePending_)
            KeepUntilEnded(writeDone_, &writing_);
        writePending_ = false;
    }
    ::CloseHandle(port);
    handle_ = INVALID_HANDLE_VALUE;
}

// An operation that does not report its end in time may still write into its record
// (and its buffer) later, so both are left to it for the life of the process and new
// ones are made: a few bytes lost once, rather than memory in use overwritten.
void Win32SerialDevice::KeepUntilEnded(std::unique_ptr<Overlapped>& done, std::vector<uint8_t>* buffer)
{
    if (done->AwaitEnd(AsHandle(handle_), kClosingOperationMs))
        return;
    static_cast<void>(done.release());
    done = std::make_unique<Overlapped>();
    if (buffer != nullptr)
        static_cast<void>(new std::vector<uint8_t>(std::move(*buffer)));
}

void Win32SerialDevice::MarkGoneOn(unsigned long error)
{
    if (ErrorMeansGone(error))
        gone_ = true;
}

bool Win32SerialDevice::GetSettings(SerialLineSettings& settings)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!IsOpen() || !::GetCommState(AsHandle(handle_), &dcb))
        return false;
    settings = SettingsOf(dcb);
    return true;
}

// The driver may keep what it cannot do without saying so, so the state is read back
// and a difference counts as refused (the old state is put back).
bool Win32SerialDevice::ApplySettings(const SerialLineSettings& settings)
{
    if (!IsOpen() || settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8 ||
        (settings.stopBits != 1 && settings.stopBits != 2))
        return false;
    const HANDLE port = AsHandle(handle_);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb))
        return false;
    const DCB before = dcb;
    MakeRaw(dcb);
    PutLineSettings(dcb, settings, dtrOn_, rtsOn_);
    if (!::SetCommState(port, &dcb))
        return false;
    SerialLineSettings now;
    if (!GetSettings(now) || !SameSettings(settings, now)) {
        DCB restore = before;
        ::SetCommState(port, &restore);
        return false;
    }
    baudRate_ = now.baudRate;
    return true;
}

// With no write time-out, a write that ends without an error has sent every byte, so
// its count is not needed: Wine reports 0 there on a pseudo-terminal although the bytes
// went out. waitMs: 0 looks, negative waits without limit.
bool Win32SerialDevice::WriteFinished(int waitMs)
{
    if (!writePending_)
        return true;
    if (waitMs != 0 && ::WaitForSingleObject(writeDone_->Event(), waitMs < 0 ? INFINITE : DWORD(waitMs)) != WAIT_OBJECT_0)
        return false;
    DWORD sent = 0;
    if (!::GetOverlappedResult(AsHandle(handle_), &writeDone_->record, &sent, FALSE)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) {
            writeDone_->ForgetStaleSignal();
            return false;
        }
        MarkGoneOn(error); // ERROR_OPERATION_ABORTED after a purge is no loss of the device
    }
    writePending_ = false;
    return true;
}

long Win32SerialDevice::Write(const uint8_t* data, size_t count)
{
    if (!IsOpen() || gone_)
        return -1;
    std::lock_guard lock(writeMutex_);
    if (!WriteFinished(0))
        return 0;
    if (count == 0)
        return 0;
    writing_.assign(data, data + std::min(count, kWriteChunk));
    OVERLAPPED* record = writeDone_->Fresh();
    if (!::WriteFile(AsHandle(handle_), writing_.data(), static_cast<DWORD>(writing_.size()), nullptr, record)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            MarkGoneOn(error);
            return gone_ ? -1 : 0;
        }
        writePending_ = true;
    }
    return static_cast<long>(writing_.size());
}

// The time-outs make ReadFile end at once with what has arrived.
long Win32SerialDevice::Read(uint8_t* data, size_t room)
{
    if (!IsOpen() || gone_)
        return -1;
    std::lock_guard lock(readMutex_);
    DWORD got = 0;
    OVERLAPPED* record = readDone_->Fresh();
    const HANDLE port = AsHandle(handle_);
    if (!::ReadFile(port, data, static_cast<DWORD>(std::min(room, kReadMost)), &got, record)) {
        DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING && ::GetOverlappedResult(port, record, &got, TRUE))
            return static_cast<long>(got);
        error = ::GetLastError();
        MarkGoneOn(error);
        return gone_ ? -1 : 0;
    }
    return static_cast<long>(got);
}

bool Win32SerialDevice::ReadStatus(unsigned long& inQueue, unsigned long& outQueue)
{
    COMSTAT status{};
    DWORD errors = 0;
    if (!IsOpen() || !::ClearCommError(AsHandle(handle_), &errors, &status)) {
        MarkGoneOn(IsOpen() ? ::GetLastError() : ERROR_INVALID_HANDLE);
        return false;
    }
    AddErrors(errors);
    inQueue = status.cbInQue;
    outQueue = status.cbOutQue;
    return true;
}

// ClearCommError clears the flags it reports, so they are added up here, whoever asked.
void Win32SerialDevice::AddErrors(unsigned long flags)
{
    std::lock_guard lock(countsMutex_);
    counts_.framing += (flags & CE_FRAME) ? 1 : 0;
    counts_.parity += (flags & CE_RXPARITY) ? 1 : 0;
    counts_.overrun += (flags & CE_OVERRUN) ? 1 : 0;
    counts_.bufferOverrun += (flags & CE_RXOVER) ? 1 : 0;
    counts_.breaks += (flags & CE_BREAK) ? 1 : 0;
}

bool Win32SerialDevice::CountersMovedLocked() const
{
    return counts_.framing != seenCounts_.framing || counts_.parity != seenCounts_.parity ||
           counts_.overrun != seenCounts_.overrun || counts_.bufferOverrun != seenCounts_.bufferOverrun ||
           counts_.breaks != seenCounts_.breaks;
}

bool Win32SerialDevice::ErrorCounts(SerialErrorCounts& counts)
{
    unsigned long inQueue = 0;
    unsigned long outQueue = 0;
    if (!ReadStatus(inQueue, outQueue))
        return false;
    std::lock_guard lock(countsMutex_);
    counts = counts_;
    seenCounts_ = counts_;
    return true;
}

// What holds now, without waiting.
int Win32SerialDevice::Conditions(int request)
{
    int bits = 0;
    if (request & (kReadable | kLineError)) {
        unsigned long inQueue = 0;
        unsigned long outQueue = 0;
        if (ReadStatus(inQueue, outQueue) && (request & kReadable) && inQueue > 0)
            bits |= kReadable;
        std::lock_guard lock(countsMutex_);
        if ((request & kLineError) && CountersMovedLocked())
            bits |= kLineError;
    }
    if (request & kWritable) {
        std::lock_guard lock(writeMutex_);
        if (WriteFinished(0))
            bits |= kWritable;
    }
    return gone_ ? bits | kGone : bits;
}

// One WaitCommEvent stays pending until a waiter collects it. 0 when armed (or already
// ended), kGone when the driver refused it for good.
int Win32SerialDevice::ArmCommEvent()
{
    std::lock_guard lock(commMutex_);
    if (commArmed_)
        return 0;
    OVERLAPPED* record = commEventDone_->Fresh();
    commMask_ = 0;
    if (::WaitCommEvent(AsHandle(handle_), reinterpret_cast<DWORD*>(&commMask_), record)) {
        ::SetEvent(record->hEvent); // ended at once: let the wait see it
        commArmed_ = true;
        return 0;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        commArmed_ = true;
        return 0;
    }
    MarkGoneOn(error);
    return gone_ ? kGone : 0;
}

int Win32SerialDevice::HarvestCommEvent()
{
    std::lock_guard lock(commMutex_);
    if (!commArmed_)
        return 0;
    DWORD ignored = 0;
    if (!::GetOverlappedResult(AsHandle(handle_), &commEventDone_->record, &ignored, FALSE)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) {
            commEventDone_->ForgetStaleSignal();
            return 0;
        }
        commArmed_ = false;
        MarkGoneOn(error);
        return gone_ ? kGone : 0;
    }
    commArmed_ = false;
    return (commMask_ & EV_RXCHAR) ? kReadable : 0;
}

// Waits on the events that can end it (a line event, the write's end, a release), and
// looks at the line's status every kStatusLookMs besides: a line error or a byte that
// arrived before the event wait began shows there.
int Win32SerialDevice::Wait(int request, int timeoutMs)
{
    if (!IsOpen() || gone_)
        return kGone;
    const uint32_t start = GetTickCount();
    for (;;) {
        int bits = Conditions(request);
        const int remaining = RemainingMs(start, timeoutMs);
        if (bits != kTimeout || remaining == 0)
            return bits;
        HANDLE events[3];
        DWORD count = 0;
        // First, so that no line event, however often it comes, hides a release.
        if (request & kReleased)
            events[count++] = AsHandle(releaseEvent_);
        const bool watchLine = (request & (kReadable | kLineError)) != 0;
        if (watchLine && ArmCommEvent() == 0)
            events[count++] = commEventDone_->Event();
        bool writeWatched = false;
        if (request & kWritable) {
            std::lock_guard lock(writeMutex_);
            writeWatched = writePending_;
        }
        if (writeWatched)
            events[count++] = writeDone_->Event();
        const DWORD slice = static_cast<DWORD>(remaining < 0 ? kStatusLookMs : std::min(remaining, kStatusLookMs));
        if (count == 0) {
            ::Sleep(slice);
            continue;
        }
        const DWORD woke = ::WaitForMultipleObjects(count, events, FALSE, slice);
        if (woke >= WAIT_OBJECT_0 && woke < WAIT_OBJECT_0 + count &&
            events[woke - WAIT_OBJECT_0] == AsHandle(releaseEvent_))
            return kReleased | Conditions(request & ~kReleased);
        if (watchLine)
            bits |= HarvestCommEvent() & (request | kGone);
        if (bits != kTimeout)
            return bits | Conditions(request);
    }
}

void Win32SerialDevice::Release()
{
    ::SetEvent(AsHandle(releaseEvent_));
}

long Win32SerialDevice::InputQueued()
{
    unsigned long inQueue = 0;
    unsigned long outQueue = 0;
    return ReadStatus(inQueue, outQueue) ? static_cast<long>(inQueue) : -1;
}

// A write still under way counts at least one byte, whatever the driver's count says.
long Win32SerialDevice::OutputQueued()
{
    unsigned long inQueue = 0;
    unsigned long outQueue = 0;
    if (!ReadStatus(inQueue, outQueue))
        return -1;
    std::lock_guard lock(writeMutex_);
    const bool writing = !WriteFinished(0);
    return static_cast<long>(writing ? std::max<unsigned long>(outQueue, 1) : outQueue);
}

bool Win32SerialDevice::Drain(int timeoutMs)
{
    const uint32_t start = GetTickCount();
    for (;;) {
        const long queued = OutputQueued();
        if (queued <= 0)
            return queued == 0;
        const int remaining = RemainingMs(start, timeoutMs);
        if (remaining == 0)
            return false;
        const uint32_t rate = std::max<uint32_t>(baudRate_.load(), 1);
        int step = static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(queued) * 10000 / rate, kDrainStepMaxMs));
        step = std::max(step, kDrainStepMinMs);
        SleepMs(remaining < 0 ? step : std::min(step, remaining));
    }
}

void Win32SerialDevice::DiscardInput()
{
    if (IsOpen())
        ::PurgeComm(AsHandle(handle_), PURGE_RXABORT | PURGE_RXCLEAR);
}

// Only what has not left yet is discarded; the write it ends is collected before its
// buffer is used again.
void Win32SerialDevice::DiscardOutput()
{
    if (!IsOpen())
        return;
    std::lock_guard lock(writeMutex_);
    if (const DWORD purge = UnsentOutputPurge())
        ::PurgeComm(AsHandle(handle_), purge);
    WriteFinished(static_cast<int>(kPurgedWriteMs));
}

// What a purge of the output side must do to discard what has not left: end the write
// in flight, and clear the driver's queue when it holds bytes. An empty queue is left
// alone: Wine clears it with tcflush, which on a pseudo-terminal throws away what the
// far end has not read yet, bytes that have left (a RAM image lost that way ended a load
// waiting for the acknowledgement). 0: nothing to do.
unsigned long Win32SerialDevice::UnsentOutputPurge()
{
    unsigned long inQueue = 0;
    unsigned long outQueue = 0;
    DWORD purge = writePending_ ? PURGE_TXABORT : 0;
    if (ReadStatus(inQueue, outQueue) && outQueue > 0)
        purge |= PURGE_TXABORT | PURGE_TXCLEAR;
    return purge;
}

bool Win32SerialDevice::Escape(unsigned long function)
{
    return IsOpen() && ::EscapeCommFunction(AsHandle(handle_), function);
}

bool Win32SerialDevice::SetDtr(bool on)
{
    const bool done = Escape(on ? SETDTR : CLRDTR);
    if (done)
        dtrOn_ = on;
    return done;
}

bool Win32SerialDevice::SetRts(bool on)
{
    const bool done = Escape(on ? SETRTS : CLRRTS);
    if (done)
        rtsOn_ = on;
    return done;
}

bool Win32SerialDevice::SetBreak(bool on)
{
    return Escape(on ? SETBREAK : CLRBREAK);
}

bool Win32SerialDevice::GetModemStatus(bool& dsr, bool& cts)
{
    DWORD status = 0;
    if (!IsOpen() || !::GetCommModemStatus(AsHandle(handle_), &status))
        return false;
    dsr = (status & MS_DSR_ON) != 0;
    cts = (status & MS_CTS_ON) != 0;
    return true;
}

} // namespace kestrum
