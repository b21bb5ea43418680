#include "platform/c_tcp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>

#include "platform/system_error_text.h"

namespace kestrum {

namespace {

SOCKET AsSocket(intptr_t value)
{
    return static_cast<SOCKET>(value);
}

constexpr intptr_t kNoSocket = static_cast<intptr_t>(INVALID_SOCKET);

bool MakeNonBlocking(SOCKET socket)
{
    u_long on = 1;
    return ::ioctlsocket(socket, FIONBIO, &on) == 0;
}

CTcpSocket::Failure FailureOf(int error)
{
    switch (error) {
    case WSAECONNREFUSED:
        return CTcpSocket::Failure::Refused;
    case WSAETIMEDOUT:
        return CTcpSocket::Failure::TimedOut;
    default:
        return CTcpSocket::Failure::Other;
    }
}

timeval TimeOf(int ms)
{
    return timeval{ms / 1000, (ms % 1000) * 1000};
}

} // namespace

CTcpSocket::CTcpSocket() : socket_(kNoSocket), wake_(kNoSocket) {}

CTcpSocket::~CTcpSocket()
{
    Close();
}

std::string CTcpSocket::LastErrorText()
{
    return SystemErrorText(static_cast<unsigned long>(::WSAGetLastError()));
}

CTcpSocket::Failure CTcpSocket::Connect(const std::string& host, const std::string& port, int timeoutMs, int lookMs,
                                        const std::function<bool()>& cancelled, std::string& detail)
{
    Close();
    if (!StartNetwork()) {
        detail = "the network (Winsock) could not be started";
        return Failure::Other;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (lookup != 0) {
        detail = SystemErrorText(static_cast<unsigned long>(lookup));
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
    const SOCKET candidate = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (candidate == INVALID_SOCKET || !MakeNonBlocking(candidate)) {
        detail = LastErrorText();
        if (candidate != INVALID_SOCKET)
            ::closesocket(candidate);
        return Failure::Other;
    }
    int error = 0;
    if (::connect(candidate, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
        error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            error = AwaitConnected(static_cast<intptr_t>(candidate), timeoutMs, lookMs, cancelled);
    }
    if (error != 0) {
        ::closesocket(candidate);
        detail = error == -1 ? "cancelled" : SystemErrorText(static_cast<unsigned long>(error));
        return error == -1 ? Failure::Cancelled : FailureOf(error);
    }
    socket_ = static_cast<intptr_t>(candidate);
    MakeReady();
    return Failure::None;
}

// Winsock is started once for the process and left running until it ends.
bool CTcpSocket::StartNetwork()
{
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// Nagle's delay off: the port's small writes go out at once.
void CTcpSocket::MakeReady()
{
    BOOL on = TRUE;
    ::setsockopt(AsSocket(socket_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

bool CTcpSocket::Adopt(intptr_t connection)
{
    Close();
    socket_ = connection;
    if (!MakeNonBlocking(AsSocket(socket_)) || !OpenWake())
        Close();
    else
        MakeReady();
    return IsOpen();
}

// The connection's error (0 when made), WSAETIMEDOUT when time ran out, -1 when
// cancelled. Windows reports a refused connection in the exception set.
int CTcpSocket::AwaitConnected(intptr_t candidate, int timeoutMs, int lookMs, const std::function<bool()>& cancelled)
{
    const SOCKET socket = AsSocket(candidate);
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cancelled && cancelled())
            return -1;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return WSAETIMEDOUT;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval slice = TimeOf(static_cast<int>(std::min<int64_t>(left, lookMs)));
        const int ready = ::select(0, nullptr, &writable, &failed, &slice);
        if (ready == SOCKET_ERROR)
            return ::WSAGetLastError();
        if (ready > 0) {
            int error = 0;
            int length = sizeof error;
            if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
                return ::WSAGetLastError();
            return FD_ISSET(socket, &failed) && error == 0 ? WSAECONNREFUSED : error;
        }
    }
}

// Winsock waits on sockets only, so a wake-up is a datagram that a loopback socket sends
// to itself.
bool CTcpSocket::OpenWake()
{
    const SOCKET wake = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (wake == INVALID_SOCKET)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    const bool ready = ::bind(wake, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(wake, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                       ::connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       MakeNonBlocking(wake);
    if (!ready) {
        ::closesocket(wake);
        return false;
    }
    wake_ = static_cast<intptr_t>(wake);
    return true;
}

bool CTcpSocket::IsOpen() const
{
    return socket_ != kNoSocket;
}

void CTcpSocket::Close()
{
    if (wake_ != kNoSocket)
        ::closesocket(AsSocket(wake_));
    wake_ = kNoSocket;
    if (socket_ != kNoSocket)
        ::closesocket(AsSocket(socket_));
    socket_ = kNoSocket;
}

long CTcpSocket::Send(const uint8_t* data, size_t count)
{
    const int asked = static_cast<int>(std::min<size_t>(count, 1u << 30));
    const int sent = ::send(AsSocket(socket_), reinterpret_cast<const char*>(data), asked, 0);
    if (sent != SOCKET_ERROR)
        return sent;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kBroken;
}

long CTcpSocket::Receive(uint8_t* data, size_t room)
{
    const int asked = static_cast<int>(std::min<size_t>(room, 1u << 30));
    const int got = ::recv(AsSocket(socket_), reinterpret_cast<char*>(data), asked, 0);
    if (got != SOCKET_ERROR)
        return got;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kBroken;
}

int CTcpSocket::Wait(bool readable, bool writable, bool watchWake, int timeoutMs)
{
    const SOCKET socket = AsSocket(socket_);
    const SOCKET wake = AsSocket(wake_);
    fd_set reads;
    fd_set writes;
    fd_set failures;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_ZERO(&failures);
    if (readable)
        FD_SET(socket, &reads);
    if (writable)
        FD_SET(socket, &writes);
    if (watchWake)
        FD_SET(wake, &reads);
    FD_SET(socket, &failures); // select wants one socket at least
    timeval limit = TimeOf(std::max(timeoutMs, 0));
    const int ready = ::select(0, &reads, &writes, &failures, timeoutMs < 0 ? nullptr : &limit);
    if (ready == SOCKET_ERROR)
        return kWaitFailed;
    int bits = 0;
    if (FD_ISSET(socket, &reads) || (readable && FD_ISSET(socket, &failures)))
        bits |= kReadable;
    if (FD_ISSET(socket, &writes))
        bits |= kWritable;
    if (watchWake && FD_ISSET(wake, &reads)) {
        char drained[64];
        while (::recv(wake, drained, sizeof drained, 0) > 0) {
        }
        bits |= kWoken;
    }
    return bits;
}

void CTcpSocket::Wake()
{
    if (wake_ != kNoSocket) {
        const char one = 1;
        ::send(AsSocket(wake_), &one, 1, 0);
    }
}

} // namespace kestrum
