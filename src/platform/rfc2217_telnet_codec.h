#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrum {

// Telnet and COM-port-control codes shared by the network serial-port client and the
// simulator's server.
namespace rfc2217 {

inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kOptionBinary = 0;
inline constexpr uint8_t kOptionSuppressGoAhead = 3;
inline constexpr uint8_t kOptionComPort = 44;

// COM-port commands from the client; the server answers each with code + kReplyOffset.
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kSetControl = 5;
inline constexpr uint8_t kNotifyLineState = 6;
inline constexpr uint8_t kNotifyModemState = 7;
inline constexpr uint8_t kFlowControlSuspend = 8;
inline constexpr uint8_t kFlowControlResume = 9;
inline constexpr uint8_t kSetLineStateMask = 10;
inline constexpr uint8_t kSetModemStateMask = 11;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kReplyOffset = 100;

inline constexpr uint8_t kParityNone = 1;
inline constexpr uint8_t kParityOdd = 2;
inline constexpr uint8_t kParityEven = 3;

// SET-CONTROL values.
inline constexpr uint8_t kControlAskFlow = 0;
inline constexpr uint8_t kControlFlowNone = 1;
inline constexpr uint8_t kControlFlowXonXoff = 2;
inline constexpr uint8_t kControlFlowRtsCts = 3;
inline constexpr uint8_t kControlAskBreak = 4;
inline constexpr uint8_t kControlBreakOn = 5;
inline constexpr uint8_t kControlBreakOff = 6;
inline constexpr uint8_t kControlAskDtr = 7;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlAskRts = 10;
inline constexpr uint8_t kControlRtsOn = 11;
inline constexpr uint8_t kControlRtsOff = 12;

// NOTIFY-MODEMSTATE bits.
inline constexpr uint8_t kModemDsr = 0x20;
inline constexpr uint8_t kModemCts = 0x10;
inline constexpr uint8_t kModemDeltaDsr = 0x02;
inline constexpr uint8_t kModemDeltaCts = 0x01;

// NOTIFY-LINESTATE bits.
inline constexpr uint8_t kLineBreak = 0x10;
inline constexpr uint8_t kLineFraming = 0x08;
inline constexpr uint8_t kLineParity = 0x04;
inline constexpr uint8_t kLineOverrun = 0x02;

// PURGE-DATA values, as the server sees its buffers.
inline constexpr uint8_t kPurgeReceive = 1;   // bytes from the network not yet on the line
inline constexpr uint8_t kPurgeTransmit = 2;  // bytes from the line not yet on the network
inline constexpr uint8_t kPurgeBoth = 3;

} // namespace rfc2217

// Splits a Telnet byte stream into data, option negotiation and sub-negotiation, in the
// order they came, whatever way the stream was cut into pieces; and writes the same
// things with every data 0xFF doubled. Other Telnet commands (NOP, GA, ...) are skipped.
class Rfc2217TelnetCodec {
public:
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void OnData(const uint8_t* data, size_t count) = 0;
        virtual void OnOption(uint8_t verb, uint8_t option) = 0;
        virtual void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) = 0;
    };

    // A sub-negotiation longer than this is a broken or hostile peer; the rest is dropped.
    static constexpr size_t kMaxSubnegotiation = 64;

    void Feed(const uint8_t* data, size_t count, Sink& sink);

    static void AppendData(std::vector<uint8_t>& out, const uint8_t* data, size_t count);
    static void AppendOption(std::vector<uint8_t>& out, uint8_t verb, uint8_t option);
    static void AppendComPort(std::vector<uint8_t>& out, uint8_t command, uint8_t value);
    static void AppendComPort32(std::vector<uint8_t>& out, uint8_t command, uint32_t value);

private:
    enum class State { Data, Iac, Option, Sub, SubIac };

    size_t FeedData(const uint8_t* data, size_t count, Sink& sink);
    void FeedControl(uint8_t byte, Sink& sink);

    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_;
    std::vector<uint8_t> payload_;
};

} // namespace kestrum
