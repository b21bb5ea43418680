#include "sim/pty_server.h"

#include "platform/thread_priority.h"

// termios2 comes from the kernel headers; <termios.h> must not be included beside them.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrum {

namespace {

constexpr int kPollMs = 5;
// Low among real-time priorities: above every normal program, below the kernel's own.
constexpr int kRealTimePriority = 10;

std::string SystemText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyServer::PtyServer(std::shared_ptr<DeviceModel> model, bool paced, bool realTime)
    : model_(std::move(model)), paced_(paced), realTime_(realTime)
{
}

PtyServer::~PtyServer()
{
    Stop();
    CloseFds();
}

void PtyServer::CloseFds()
{
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

bool PtyServer::Open(std::string& error)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        error = SystemText("posix_openpt");
        return false;
    }
    char name[128] = {};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
        error = SystemText("pseudo-terminal set-up");
        CloseFds();
        return false;
    }
    portPath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct termios2 tio {};
    if (slave_ < 0 || ::ioctl(slave_, TCGETS2, &tio) != 0) {
        error = SystemText("opening the pseudo-terminal's port side");
        CloseFds();
        return false;
    }
    // Raw until a program sets its own mode, so nothing is echoed or translated meanwhile.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB);
    tio.c_cflag |= CS8;
    if (::ioctl(slave_, TCSETS2, &tio) != 0) {
        error = SystemText("setting raw mode");
        CloseFds();
        return false;
    }
    return true;
}

bool PtyServer::ReadLine(SerialLineSettings& settings) const
{
    struct termios2 tio {};
    if (::ioctl(master_, TCGETS2, &tio) != 0)
        return false;
    settings.baudRate = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5: settings.dataBits = 5; break;
    case CS6: settings.dataBits = 6; break;
    case CS7: settings.dataBits = 7; break;
    default: settings.dataBits = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        settings.parity = SerialLineSettings::Parity::None;
    else
        settings.parity = (tio.c_cflag & PARODD) ? SerialLineSettings::Parity::Odd : SerialLineSettings::Parity::Even;
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    settings.flow = (tio.c_cflag & CRTSCTS) ? SerialLineSettings::Flow::RtsCts : SerialLineSettings::Flow::None;
    return true;
}

// How long the loop may sleep. Paced lines need sub-millisecond wake-ups: at 460800 baud
// a whole millisecond of lateness per reply costs a tenth of the line's throughput.
timespec PtyServer::PollTimeout() const
{
    using namespace std::chrono;
    nanoseconds wait = milliseconds(kPollMs);
    if (!pending_.empty())
        wait = milliseconds(1);
    else if (backlog_)
        wait = std::max<nanoseconds>(ByteTime(lastRate_), microseconds(20));
    else if (const SimTime due = model_->NextDue(); due != kSimNever)
        wait = std::clamp<nanoseconds>(duration_cast<nanoseconds>(due - SimNow()), nanoseconds(0), wait);
    return timespec{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
}

void PtyServer::Exchange(SimTime now)
{
    SerialLineSettings line;
    if (!ReadLine(line))
        return;
    model_->ChangeSettings(line, now);
    HearFromTerminal(line, now);
    model_->Advance(now);
    std::vector<DeliveredByte> out;
    model_->TakeOutput(out, line, now);
    for (const DeliveredByte& byte : out)
        pending_.push_back(byte.value);
    FlushPending();
}

void PtyServer::HearFromTerminal(const SerialLineSettings& line, SimTime now)
{
    uint8_t buffer[4096];
    size_t room = sizeof buffer;
    const SimTime byteTime = ByteTime(line.baudRate);
    lastRate_ = line.baudRate;
    if (paced_ && byteTime.count() > 0) {
        // After an idle spell the next byte starts crossing now; while the terminal holds
        // more, bytes follow each other back to back.
        if (!backlog_)
            lineFreeAt_ = std::max(lineFreeAt_, now - byteTime);
        room = std::min<size_t>(room, static_cast<size_t>((now - lineFreeAt_) / byteTime));
    }
    const ssize_t got = room == 0 ? 0 : ::read(master_, buffer, room);
    backlog_ = paced_ && (room == 0 || (got > 0 && static_cast<size_t>(got) == room));
    if (got <= 0)
        return;
    if (!paced_ || byteTime.count() == 0) {
        model_->Hear(buffer, static_cast<size_t>(got), line, now);
        return;
    }
    for (ssize_t i = 0; i < got; ++i) {
        lineFreeAt_ += byteTime;
        model_->Hear(&buffer[i], 1, line, lineFreeAt_);
    }
}

void PtyServer::FlushPending()
{
    if (pending_.empty())
        return;
    const ssize_t written = ::write(master_, pending_.data(), pending_.size());
    if (written > 0)
        pending_.erase(pending_.begin(), pending_.begin() + written);
    else if (written < 0 && errno != EAGAIN && errno != EINTR)
        pending_.clear();
    // A terminal nobody reads fills up; the device does not wait for it, the bytes are lost.
    if (pending_.size() > 65536)
        pending_.clear();
}

void PtyServer::Serve(const std::atomic<bool>& stop)
{
    if (master_ < 0)
        return;
    // The paced line wakes every character time (22 us at 460800); the kernel's default
    // 50 us of slack on each wait would stretch every frame the device hears, and so does
    // every wait behind other programs, where a device's UART is never late.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param fifo{};
    fifo.sched_priority = kRealTimePriority;
    if (!realTime_ || ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &fifo) != 0)
        RaiseThreadPriority();
    model_->Attach(PcLines{true, true, false}, SimNow());
    while (!stop.load() && !stop_.load()) {
        if (master_ < 0) {
            ::poll(nullptr, 0, kPollMs);
            continue;
        }
        // With a backlog the terminal is readable all the time; the wait is for the line.
        pollfd fd{master_, static_cast<short>(backlog_ ? 0 : POLLIN), 0};
        const timespec timeout = PollTimeout();
        ::ppoll(&fd, 1, &timeout, nullptr);
        Exchange(SimNow());
        // A device that has gone hangs the terminal up, as a pulled USB adapter would.
        if (model_->Gone()) {
            std::fprintf(stderr, "kestrum-sim: the device has gone; %s is hung up\n", portPath_.c_str());
            CloseFds();
        }
    }
    model_->Detach(SimNow());
}

void PtyServer::Start()
{
    stop_ = false;
    thread_ = std::thread([this] {
        const std::atomic<bool> never{false};
        Serve(never);
    });
}

void PtyServer::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

}  // namespace kestrum
