#pragma once

#include <string>

#include "platform/c_tcp_listener.h"

namespace kestrum::test {

// A listening loopback socket on a free port, named as a network serial port; accepts
// only when asked to.
class LoopbackListener : public CTcpListener {
public:
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(Port()); }
};

} // namespace kestrum::test
