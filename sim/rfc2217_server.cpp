#include "sim/rfc2217_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kestrum {

namespace {

constexpr int kAcceptSliceMs = 20;
// How long a new client waits for the connection before it to end.
constexpr int kHandOverMs = 500;
// A client that takes nothing for this long is taken for gone.
constexpr int kSendTimeoutMs = 5000;

bool MakeAddress(const std::string& text, uint16_t port, sockaddr_storage& address, socklen_t& length)
{
    std::memset(&address, 0, sizeof address);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
        return true;
    }
    return false;
}

void PrepareClientSocket(int fd)
{
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval limit{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

Rfc2217Server::Rfc2217Server(std::shared_ptr<DeviceModel> model, Options options)
    : model_(std::move(model)), options_(std::move(options))
{
}

Rfc2217Server::~Rfc2217Server()
{
    Stop();
    EndSession();
    if (listener_ >= 0)
        ::close(listener_);
}

bool Rfc2217Server::Open(std::string& error)
{
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!MakeAddress(options_.bindAddress, options_.port, address, length)) {
        error = "not a numeric address to listen on: " + options_.bindAddress;
        return false;
    }
    listener_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    if (listener_ >= 0)
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 4) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "cannot listen on " + options_.bindAddress + " port " + std::to_string(options_.port) + ": " +
                std::strerror(errno);
        if (listener_ >= 0)
            ::close(listener_);
        listener_ = -1;
        return false;
    }
    port_ = ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                               : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return true;
}

std::string Rfc2217Server::Url() const
{
    const bool v6 = options_.bindAddress.find(':') != std::string::npos;
    const std::string host = v6 ? "[" + options_.bindAddress + "]" : options_.bindAddress;
    return "rfc2217://" + host + ":" + std::to_string(port_);
}

void Rfc2217Server::Serve(const std::atomic<bool>& stop)
{
    while (!stop && listener_ >= 0) {
        if (sessionEnded_)
            EndSession();
        pollfd fd{listener_, POLLIN, 0};
        if (::poll(&fd, 1, kAcceptSliceMs) > 0)
            AcceptOne(stop);
    }
    EndSession();
}

void Rfc2217Server::AcceptOne(const std::atomic<bool>& stop)
{
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
        return;
    // A client that closes and opens again at once (a program reopening its port) finds
    // the server still ending its first connection: give that a moment to finish.
    const auto graceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHandOverMs);
    while (HasSession() && !sessionEnded_ && std::chrono::steady_clock::now() < graceEnd && !stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (sessionEnded_)
        EndSession();
    std::lock_guard lock(sessionMutex_);
    if (session_) {
        ::close(client);  // busy with another client
        return;
    }
    PrepareClientSocket(client);
    sessionSocket_ = client;
    sessionEnded_ = false;
    session_ = std::make_unique<Rfc2217Session>(client, model_, options_.paced, counters_,
                                                options_.roundTripDelay / 2, options_.silentAfterOpen);
    sessionThread_ = std::thread([this, &stop, session = session_.get()] {
        session->Run(stop);
        sessionEnded_ = true;
    });
}

bool Rfc2217Server::HasSession()
{
    std::lock_guard lock(sessionMutex_);
    return session_ != nullptr;
}

void Rfc2217Server::EndSession()
{
    std::thread thread;
    {
        std::lock_guard lock(sessionMutex_);
        if (session_)
            session_->Drop();
        thread.swap(sessionThread_);
    }
    if (thread.joinable())
        thread.join();
    std::lock_guard lock(sessionMutex_);
    session_.reset();
    if (sessionSocket_ >= 0)
        ::close(sessionSocket_);
    sessionSocket_ = -1;
    sessionEnded_ = false;
}

void Rfc2217Server::Start()
{
    Stop();
    stop_ = false;
    thread_ = std::thread([this] { Serve(stop_); });
}

void Rfc2217Server::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void Rfc2217Server::DropClient()
{
    std::lock_guard lock(sessionMutex_);
    if (session_)
        session_->Drop();
}

}  // namespace kestrum
