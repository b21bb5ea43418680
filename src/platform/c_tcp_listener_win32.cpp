#include "platform/c_tcp_listener.h"

#include <winsock2.h>

namespace kestrum {

namespace {

constexpr intptr_t kNoSocket = static_cast<intptr_t>(INVALID_SOCKET);

SOCKET AsSocket(intptr_t value)
{
    return static_cast<SOCKET>(value);
}

}  // namespace

CTcpListener::CTcpListener() : socket_(kNoSocket)
{
    if (!CTcpSocket::StartNetwork())
        return;
    socket_ = static_cast<intptr_t>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    const SOCKET listening = AsSocket(socket_);
    if (socket_ == kNoSocket || ::bind(listening, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listening, 4) != 0 || ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Close();
        return;
    }
    port_ = ntohs(address.sin_port);
}

CTcpListener::~CTcpListener()
{
    Close();
}

bool CTcpListener::Accept(CTcpSocket& socket, int timeoutMs)
{
    if (socket_ == kNoSocket)
        return false;
    fd_set pending;
    FD_ZERO(&pending);
    FD_SET(AsSocket(socket_), &pending);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (::select(0, &pending, nullptr, nullptr, &limit) <= 0)
        return false;
    const SOCKET peer = ::accept(AsSocket(socket_), nullptr, nullptr);
    return peer != INVALID_SOCKET && socket.Adopt(static_cast<intptr_t>(peer));
}

void CTcpListener::Close()
{
    if (socket_ != kNoSocket)
        ::closesocket(AsSocket(socket_));
    socket_ = kNoSocket;
}

}  // namespace kestrum
