#include "platform/c_tcp_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace kestrum {

namespace {

CTcpSocket::Failure FailureOf(int error)
{
    switch (error) {
    case ECANCELED:
        return CTcpSocket::Failure::Cancelled;
    case ECONNREFUSED:
        return CTcpSocket::Failure::Refused;
    case ETIMEDOUT:
        return CTcpSocket::Failure::TimedOut;
    default:
        return CTcpSocket::Failure::Other;
    }
}

} // namespace

CTcpSocket::CTcpSocket() : socket_(-1), wake_(-1) {}

CTcpSocket::~CTcpSocket()
{
    Close();
}

std::string CTcpSocket::LastErrorText()
{
    return std::strerror(errno);
}

CTcpSocket::Failure CTcpSocket::Connect(const std::string& host, const std::string& port, int timeoutMs, int lookMs,
                                        const std::function<bool()>& cancelled, std::string& detail)
{
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (lookup != 0) {
        detail = ::gai_strerror(lookup);
        return Failure::NoHost;
    }
    Failure failure = Failure::NoHost;
    detail = "no address";
    for (addrinfo* address = found; address && failure != Failure::Cancelled; address = address->ai_next) {
        failure = ConnectAddress(address, timeoutMs, lookMs, cancelled, detail);
        if (failure == Failure::None)
            break;
    }
    ::freeaddrinfo(found);
    if (failure == Failure::None && !OpenWake()) {
        detail = LastErrorText();
        failure = Failure::Other;
    }
    if (failure != Failure::None)
        Close();
    return failure;
}

CTcpSocket::Failure CTcpSocket::ConnectAddress(const void* entry, int timeoutMs, int lookMs,
                                               const std::function<bool()>& cancelled, std::string& detail)
{
    const auto* address = static_cast<const addrinfo*>(entry);
    const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address->ai_protocol);
    if (fd < 0) {
        detail = LastErrorText();
        return Failure::Other;
    }
    int error = 0;
    if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0)
        error = errno == EINPROGRESS ? AwaitConnected(fd, timeoutMs, lookMs, cancelled) : errno;
    if (error != 0) {
        ::close(fd);
        detail = std::strerror(error);
        return FailureOf(error);
    }
    socket_ = fd;
    MakeReady();
    return Failure::None;
}

bool CTcpSocket::StartNetwork()
{
    return true;
}

// Nagle's delay off: the port's small writes go out at once.
void CTcpSocket::MakeReady()
{
    int on = 1;
    ::setsockopt(static_cast<int>(socket_), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool CTcpSocket::Adopt(intptr_t connection)
{
    Close();
    socket_ = connection;
    MakeReady();
    if (!OpenWake())
        Close();
    return IsOpen();
}

// The connection's error (0 when made), ETIMEDOUT when time ran out, ECANCELED when
// cancelled.
int CTcpSocket::AwaitConnected(intptr_t candidate, int timeoutMs, int lookMs, const std::function<bool()>& cancelled)
{
    const int fd = static_cast<int>(candidate);
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cancelled && cancelled())
            return ECANCELED;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return ETIMEDOUT;
        pollfd wait{fd, POLLOUT, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(std::min<int64_t>(left, lookMs)));
        if (ready < 0 && errno != EINTR)
            return errno;
        if (ready > 0) {
            int error = 0;
            socklen_t length = sizeof error;
            return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : errno;
        }
    }
}

bool CTcpSocket::OpenWake()
{
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return wake_ >= 0;
}

bool CTcpSocket::IsOpen() const
{
    return socket_ >= 0;
}

void CTcpSocket::Close()
{
    if (wake_ >= 0)
        ::close(static_cast<int>(wake_));
    wake_ = -1;
    if (socket_ >= 0)
        ::close(static_cast<int>(socket_));
    socket_ = -1;
}

long CTcpSocket::Send(const uint8_t* data, size_t count)
{
    for (;;) {
        const ssize_t sent = ::send(static_cast<int>(socket_), data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return static_cast<long>(sent);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return kWouldBlock;
        if (errno != EINTR)
            return kBroken;
    }
}

long CTcpSocket::Receive(uint8_t* data, size_t room)
{
    for (;;) {
        const ssize_t got = ::recv(static_cast<int>(socket_), data, room, MSG_DONTWAIT);
        if (got >= 0)
            return static_cast<long>(got);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return kWouldBlock;
        if (errno != EINTR)
            return kBroken;
    }
}

int CTcpSocket::Wait(bool readable, bool writable, bool watchWake, int timeoutMs)
{
    pollfd fds[2] = {{static_cast<int>(socket_), static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)), 0},
                     {static_cast<int>(wake_), POLLIN, 0}};
    const int ready = ::poll(fds, watchWake ? 2 : 1, timeoutMs);
    if (ready < 0)
        return errno == EINTR ? 0 : kWaitFailed;
    int bits = 0;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
        bits |= readable ? kReadable : 0;
    if (fds[0].revents & (POLLOUT | POLLHUP | POLLERR))
        bits |= writable ? kWritable : 0;
    if (watchWake && (fds[1].revents & POLLIN)) {
        eventfd_t value = 0;
        ::eventfd_read(static_cast<int>(wake_), &value);
        bits |= kWoken;
    }
    return bits;
}

void CTcpSocket::Wake()
{
    if (wake_ >= 0)
        ::eventfd_write(static_cast<int>(wake_), 1);
}

} // namespace kestrum
