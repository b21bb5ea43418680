#include "platform/termios_serial_device.h"

// termios2 comes from the kernel headers; <termios.h> must not be included beside them.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/tick_count.h"

namespace kestrum {

namespace {

struct RateCode {
    uint32_t rate;
    tcflag_t code;
};

// Rates with a classic code are stored with it, so other tools reading the line see a
// familiar value; every other rate goes out as BOTHER with the number itself.
constexpr RateCode kRateCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

// A driver that cannot make a rate exactly picks the nearest one it can; more than this
// deviation (per mille) means the line would not work, so the rate counts as refused.
constexpr uint32_t kRateTolerancePerMille = 30;

// While line errors are watched on a device with counters, a wait wakes this often to
// compare them: the counters cannot be polled for.
constexpr int kCounterCheckMs = 250;

// Bounds of one sleep while waiting for the output queue to empty.
constexpr int kDrainStepMinMs = 1;
constexpr int kDrainStepMaxMs = 20;

uint32_t RateOf(const termios2& tio)
{
    const tcflag_t code = tio.c_cflag & CBAUD;
    if (code == BOTHER)
        return tio.c_ospeed;
    for (const RateCode& entry : kRateCodes)
        if (entry.code == code)
            return entry.rate;
    return tio.c_ospeed;
}

void SetRate(termios2& tio, uint32_t rate)
{
    tcflag_t code = BOTHER;
    for (const RateCode& entry : kRateCodes)
        if (entry.rate == rate)
            code = entry.code;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT)); // input rate follows the output rate
    tio.c_cflag |= code;
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
}

bool RateClose(uint32_t wanted, uint32_t actual)
{
    const uint64_t difference = wanted > actual ? wanted - actual : actual - wanted;
    return difference * 1000 <= static_cast<uint64_t>(wanted) * kRateTolerancePerMille;
}

tcflag_t WordSizeFlag(int dataBits)
{
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

int DataBitsOf(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

bool SettingsValid(const SerialLineSettings& settings)
{
    return settings.baudRate > 0 && settings.dataBits >= 5 && settings.dataBits <= 8 &&
           (settings.stopBits == 1 || settings.stopBits == 2);
}

void PutLineSettings(termios2& tio, const SerialLineSettings& settings)
{
    SetRate(tio, settings.baudRate);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= WordSizeFlag(settings.dataBits);
    if (settings.parity != SerialLineSettings::Parity::None)
        tio.c_cflag |= PARENB;
    if (settings.parity == SerialLineSettings::Parity::Odd)
        tio.c_cflag |= PARODD;
    if (settings.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (settings.flow == SerialLineSettings::Flow::RtsCts)
        tio.c_cflag |= CRTSCTS;
    if (settings.flow == SerialLineSettings::Flow::XonXoff)
        tio.c_iflag |= IXON | IXOFF;
}

// Drivers may quietly keep what they cannot do (a pseudo-terminal always carries 8 data
// bits without parity), so the line is read back and a difference counts as refused.
bool TookSettings(const SerialLineSettings& wanted, const SerialLineSettings& now)
{
    return RateClose(wanted.baudRate, now.baudRate) && wanted.dataBits == now.dataBits &&
           wanted.parity == now.parity && wanted.stopBits == now.stopBits && wanted.flow == now.flow;
}

SerialOpenError ClassifyOpenErrno(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
        return SerialOpenError::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return SerialOpenError::Permission;
    case EBUSY:
    case EWOULDBLOCK:
        return SerialOpenError::Busy;
    default:
        return SerialOpenError::Other;
    }
}

bool ErrnoMeansGone(int errorNumber)
{
    return errorNumber == EIO || errorNumber == ENXIO || errorNumber == ENODEV || errorNumber == EBADF ||
           errorNumber == EPIPE;
}

int RemainingMs(uint32_t start, int timeoutMs)
{
    if (timeoutMs < 0)
        return -1;
    const uint32_t elapsed = GetTickCount() - start;
    return elapsed >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(elapsed);
}

} // namespace

TermiosSerialDevice::TermiosSerialDevice(std::shared_ptr<ISerialFlags> flags) : lowLatency_(std::move(flags))
{
}

TermiosSerialDevice::~TermiosSerialDevice()
{
    Close();
}

bool TermiosSerialDevice::FailOpen(SerialOpenError error, int errorNumber)
{
    openError_ = error;
    openErrorText_ = std::strerror(errorNumber);
    Close();
    return false;
}

bool TermiosSerialDevice::Open(const std::string& name)
{
    Close();
    openError_ = SerialOpenError::None;
    openErrorText_.clear();
    gone_ = false;
    fd_ = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return FailOpen(ClassifyOpenErrno(errno), errno);
    if (!::isatty(fd_))
        return FailOpen(SerialOpenError::NotFound, ENOTTY); // not a serial device: no such port
    if (!ClaimExclusive())
        return FailOpen(SerialOpenError::Busy, EBUSY);
    if (!MakeRaw())
        return FailOpen(SerialOpenError::Other, errno);
    releaseFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (releaseFd_ < 0)
        return FailOpen(SerialOpenError::Other, errno);
    SerialErrorCounts counts;
    countersAvailable_ = ReadCounters(counts);
    lowLatency_.Ask(fd_);
    std::lock_guard lock(countsMutex_);
    seenCounts_ = counts;
    return true;
}

// TIOCEXCL keeps other (unprivileged) programs from opening the device; the lock also
// covers privileged ones and other Kestrum ports in this process.
bool TermiosSerialDevice::ClaimExclusive()
{
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return false;
    ::ioctl(fd_, TIOCEXCL);
    return true;
}

// Binary line: no echo, no line editing, no character translation, no software flow
// control (it would eat 0x11/0x13 of a firmware image), no modem-control hang-ups.
// VMIN 1 makes a read of an idle line report EAGAIN, so a 0 return means the far end
// has gone.
bool TermiosSerialDevice::MakeRaw()
{
    termios2 tio{};
    if (::ioctl(fd_, TCGETS2, &tio) != 0)
        return false;
    tio.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::ioctl(fd_, TCSETS2, &tio) != 0)
        return false;
    baudRate_ = RateOf(tio);
    return true;
}

void TermiosSerialDevice::Close()
{
    if (releaseFd_ >= 0)
        ::close(releaseFd_);
    releaseFd_ = -1;
    if (fd_ >= 0) {
        lowLatency_.TakeBack(fd_);
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
    fd_ = -1;
}

bool TermiosSerialDevice::GetSettings(SerialLineSettings& settings)
{
    termios2 tio{};
    if (fd_ < 0 || ::ioctl(fd_, TCGETS2, &tio) != 0)
        return false;
    settings.baudRate = RateOf(tio);
    settings.dataBits = DataBitsOf(tio.c_cflag);
    settings.parity = !(tio.c_cflag & PARENB)  ? SerialLineSettings::Parity::None
                      : (tio.c_cflag & PARODD) ? SerialLineSettings::Parity::Odd
                                               : SerialLineSettings::Parity::Even;
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    settings.flow = (tio.c_iflag & IXOFF)     ? SerialLineSettings::Flow::XonXoff
                    : (tio.c_cflag & CRTSCTS) ? SerialLineSettings::Flow::RtsCts
                                              : SerialLineSettings::Flow::None;
    return true;
}

bool TermiosSerialDevice::ApplySettings(const SerialLineSettings& settings)
{
    termios2 tio{};
    if (fd_ < 0 || !SettingsValid(settings) || ::ioctl(fd_, TCGETS2, &tio) != 0)
        return false;
    const termios2 before = tio;
    PutLineSettings(tio, settings);
    if (::ioctl(fd_, TCSETS2, &tio) != 0)
        return false;
    SerialLineSettings now;
    if (!GetSettings(now))
        return false;
    if (!TookSettings(settings, now)) {
        ::ioctl(fd_, TCSETS2, &before);
        return false;
    }
    baudRate_ = now.baudRate;
    return true;
}

void TermiosSerialDevice::MarkGoneOn(int errorNumber)
{
    if (ErrnoMeansGone(errorNumber))
        gone_ = true;
}

long TermiosSerialDevice::Write(const uint8_t* data, size_t count)
{
    if (fd_ < 0 || gone_)
        return -1;
    for (;;) {
        const ssize_t written = ::write(fd_, data, count);
        if (written >= 0)
            return written;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        gone_ = true;
        return -1;
    }
}

long TermiosSerialDevice::Read(uint8_t* data, size_t room)
{
    if (fd_ < 0)
        return -1;
    for (;;) {
        const ssize_t got = ::read(fd_, data, room);
        if (got > 0)
            return got;
        if (got == 0) { // end of file: the line was hung up
            gone_ = true;
            return -1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        gone_ = true;
        return -1;
    }
}

bool TermiosSerialDevice::ReadCounters(SerialErrorCounts& counts) const
{
    serial_icounter_struct icount{};
    if (fd_ < 0 || ::ioctl(fd_, TIOCGICOUNT, &icount) != 0)
        return false;
    counts.framing = static_cast<uint32_t>(icount.frame);
    counts.parity = static_cast<uint32_t>(icount.parity);
    counts.overrun = static_cast<uint32_t>(icount.overrun);
    counts.bufferOverrun = static_cast<uint32_t>(icount.buf_overrun);
    counts.breaks = static_cast<uint32_t>(icount.brk);
    return true;
}

bool TermiosSerialDevice::CountersMoved()
{
    SerialErrorCounts now;
    if (!countersAvailable_ || !ReadCounters(now))
        return false;
    std::lock_guard lock(countsMutex_);
    return now.framing != seenCounts_.framing || now.parity != seenCounts_.parity ||
           now.overrun != seenCounts_.overrun || now.bufferOverrun != seenCounts_.bufferOverrun ||
           now.breaks != seenCounts_.breaks;
}

bool TermiosSerialDevice::ErrorCounts(SerialErrorCounts& counts)
{
    if (!countersAvailable_ || !ReadCounters(counts))
        return false;
    std::lock_guard lock(countsMutex_);
    seenCounts_ = counts;
    return true;
}

// One poll() of the device and, when asked, the release eventfd.
int TermiosSerialDevice::PollOnce(int request, int timeoutMs)
{
    pollfd fds[2] = {};
    fds[0].fd = fd_;
    fds[0].events =
        static_cast<short>(((request & kReadable) ? POLLIN : 0) | ((request & kWritable) ? POLLOUT : 0));
    fds[1].fd = releaseFd_;
    fds[1].events = POLLIN;
    const nfds_t count = (request & kReleased) ? 2 : 1;
    const int ready = ::poll(fds, count, timeoutMs);
    if (ready < 0)
        return errno == EINTR ? kTimeout : kGone;
    int result = kTimeout;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        gone_ = true;
        result |= kGone;
    }
    if (fds[0].revents & POLLIN)
        result |= kReadable;
    if (fds[0].revents & POLLOUT)
        result |= kWritable;
    if (count == 2 && (fds[1].revents & POLLIN)) {
        eventfd_t value = 0;
        ::eventfd_read(releaseFd_, &value);
        result |= kReleased;
    }
    return result;
}

int TermiosSerialDevice::Wait(int request, int timeoutMs)
{
    if (fd_ < 0 || gone_)
        return kGone;
    const bool watchCounters = (request & kLineError) && countersAvailable_;
    const uint32_t start = GetTickCount();
    for (;;) {
        const int remaining = RemainingMs(start, timeoutMs);
        const int slice =
            watchCounters && (remaining < 0 || remaining > kCounterCheckMs) ? kCounterCheckMs : remaining;
        int result = PollOnce(request, slice);
        if (watchCounters && CountersMoved())
            result |= kLineError;
        if (result != kTimeout || remaining == 0)
            return result;
    }
}

void TermiosSerialDevice::Release()
{
    if (releaseFd_ >= 0)
        ::eventfd_write(releaseFd_, 1);
}

long TermiosSerialDevice::QueueLevel(unsigned long request)
{
    int queued = 0;
    if (fd_ < 0 || ::ioctl(fd_, request, &queued) != 0) {
        MarkGoneOn(errno);
        return -1;
    }
    return queued;
}

long TermiosSerialDevice::InputQueued()
{
    return QueueLevel(FIONREAD);
}

long TermiosSerialDevice::OutputQueued()
{
    return QueueLevel(TIOCOUTQ);
}

// Watches the queue level instead of tcdrain(): tcdrain cannot be bounded, and under
// hardware flow control a stalled line would hold it for ever.
bool TermiosSerialDevice::Drain(int timeoutMs)
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
        int step = static_cast<int>(
            std::min<uint64_t>(static_cast<uint64_t>(queued) * 10000 / rate, kDrainStepMaxMs));
        step = std::max(step, kDrainStepMinMs);
        SleepMs(remaining < 0 ? step : std::min(step, remaining));
    }
}

void TermiosSerialDevice::DiscardInput()
{
    if (fd_ >= 0)
        ::ioctl(fd_, TCFLSH, TCIFLUSH);
}

// Only what the driver still holds is discarded. On a pseudo-terminal the queue level is
// always 0, and TCOFLUSH there would throw away what the far end has not read yet, i.e.
// bytes that have already left.
void TermiosSerialDevice::DiscardOutput()
{
    if (fd_ >= 0 && OutputQueued() > 0)
        ::ioctl(fd_, TCFLSH, TCOFLUSH);
}

bool TermiosSerialDevice::SetModemLine(int line, bool on)
{
    return fd_ >= 0 && ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

bool TermiosSerialDevice::SetDtr(bool on)
{
    return SetModemLine(TIOCM_DTR, on);
}

bool TermiosSerialDevice::SetRts(bool on)
{
    return SetModemLine(TIOCM_RTS, on);
}

bool TermiosSerialDevice::SetBreak(bool on)
{
    return fd_ >= 0 && ::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0;
}

bool TermiosSerialDevice::GetModemStatus(bool& dsr, bool& cts)
{
    int lines = 0;
    if (fd_ < 0 || ::ioctl(fd_, TIOCMGET, &lines) != 0)
        return false;
    dsr = (lines & TIOCM_DSR) != 0;
    cts = (lines & TIOCM_CTS) != 0;
    return true;
}

} // namespace kestrum
