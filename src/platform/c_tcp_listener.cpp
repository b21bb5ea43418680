#include "platform/c_tcp_listener.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrum {

CTcpListener::CTcpListener() : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int fd = static_cast<int>(socket_);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
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
    pollfd listening{static_cast<int>(socket_), POLLIN, 0};
    if (socket_ < 0 || ::poll(&listening, 1, timeoutMs) <= 0)
        return false;
    const int peer = ::accept4(static_cast<int>(socket_), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    return peer >= 0 && socket.Adopt(peer);
}

void CTcpListener::Close()
{
    if (socket_ >= 0)
        ::close(static_cast<int>(socket_));
    socket_ = -1;
}

}  // namespace kestrum
