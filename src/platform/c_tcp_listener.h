#pragma once

#include <cstdint>

#include "platform/c_tcp_socket.h"

namespace kestrum {

// A TCP socket listening on the loopback address at a port the system chose, so a peer on
// this machine can connect: the system's sockets behind one small interface, as tests and
// local servers need it.
class CTcpListener {
public:
    CTcpListener();  // listens at once; Port() is 0 when that failed
    ~CTcpListener();
    CTcpListener(const CTcpListener&) = delete;
    CTcpListener& operator=(const CTcpListener&) = delete;

    int Port() const { return port_; }
    // Waits at most timeoutMs for a peer; true with its connection open in socket.
    bool Accept(CTcpSocket& socket, int timeoutMs);
    // Stops listening: from now on a connection to Port() is refused.
    void Close();

private:
    intptr_t socket_;
    int port_ = 0;
};

}  // namespace kestrum
