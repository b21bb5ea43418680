#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kestrum {

// A non-blocking TCP connection with a wake-up that any thread may give to a waiter, as
// the network serial port needs it: the system's sockets behind one small interface.
//
// Threading: Wake may be called from any thread and while another thread waits; Send,
// Receive and Wait from any thread between Connect and Close; Connect and Close from the
// owner, with no other call running.
class CTcpSocket {
public:
    enum class Failure { None, NoHost, Refused, TimedOut, Cancelled, Other };

    // Bits of Wait's result.
    static constexpr int kReadable = 1; // data, the peer's close or an error to read
    static constexpr int kWritable = 2;
    static constexpr int kWoken = 4;
    static constexpr int kWaitFailed = -1;
    // Send and Receive: nothing can go or come now / the connection failed.
    static constexpr long kWouldBlock = -2;
    static constexpr long kBroken = -1;

    CTcpSocket();
    ~CTcpSocket();
    CTcpSocket(const CTcpSocket&) = delete;
    CTcpSocket& operator=(const CTcpSocket&) = delete;

    // Connects to the first address of host that answers, giving each at most timeoutMs
    // and asking cancelled() every lookMs meanwhile; Nagle's delay is switched off. On
    // failure the socket stays closed and detail holds the system's words.
    Failure Connect(const std::string& host, const std::string& port, int timeoutMs, int lookMs,
                    const std::function<bool()>& cancelled, std::string& detail);
    bool IsOpen() const;
    void Close();

    // Bytes handed over or received; Receive returns 0 when the peer has closed.
    long Send(const uint8_t* data, size_t count);
    long Receive(uint8_t* data, size_t room);

    // Waits until the socket is readable or writable as asked, a Wake arrives (only when
    // watchWake), or timeoutMs passes (negative: no limit). Returns the bits that hold,
    // 0 on time-out, kWaitFailed when the system could not wait.
    int Wait(bool readable, bool writable, bool watchWake, int timeoutMs);
    void Wake();

    // The system's words for the last failure of a call on this thread.
    static std::string LastErrorText();

private:
    friend class CTcpListener;
    // The system's network started (Winsock); true where nothing needs starting.
    static bool StartNetwork();
    // Takes over a connection a listener accepted; false (and it is closed) when it
    // cannot be made ready.
    bool Adopt(intptr_t connection);
    void MakeReady();

    Failure ConnectAddress(const void* address, int timeoutMs, int lookMs, const std::function<bool()>& cancelled,
                           std::string& detail);
    int AwaitConnected(intptr_t candidate, int timeoutMs, int lookMs, const std::function<bool()>& cancelled);
    bool OpenWake();

    intptr_t socket_;
    intptr_t wake_;     // eventfd, or a loopback datagram socket that sends to itself
};

} // namespace kestrum
