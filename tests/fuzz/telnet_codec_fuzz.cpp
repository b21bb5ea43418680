// The Telnet layer of the network serial port: any stream cut into any pieces decodes as
// it does whole, and what the codec writes decodes back to what was written.

#include "fuzz_input.h"
#include "platform/rfc2217_telnet_codec.h"

using namespace kestrum;
using kestrum::fuzz::FuzzInput;

namespace {

// What a stream decodes to: data runs joined (their cut is the reader's), commands in order.
class Decoded : public Rfc2217TelnetCodec::Sink {
public:
    void OnData(const uint8_t* data, size_t count) override
    {
        FUZZ_CHECK(count > 0);
        if (events_.empty() || events_.back()[0] != 'd')
            events_.push_back("d");
        events_.back().append(reinterpret_cast<const char*>(data), count);
    }
    void OnOption(uint8_t verb, uint8_t option) override
    {
        events_.push_back(std::string{'o', static_cast<char>(verb), static_cast<char>(option)});
    }
    void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) override
    {
        FUZZ_CHECK(payload.size() < Rfc2217TelnetCodec::kMaxSubnegotiation);
        events_.push_back(std::string{'s', static_cast<char>(option)} + std::string(payload.begin(), payload.end()));
    }
    bool operator==(const Decoded& other) const { return events_ == other.events_; }

private:
    std::vector<std::string> events_;
};

Decoded Decode(const std::vector<uint8_t>& stream, const std::string& cuts)
{
    Rfc2217TelnetCodec codec;
    Decoded decoded;
    size_t at = 0;
    for (size_t piece = 0; at < stream.size(); ++piece) {
        const size_t length =
            piece < cuts.size() ? std::min<size_t>(static_cast<uint8_t>(cuts[piece]) % 8, stream.size() - at)
                                : stream.size() - at;
        codec.Feed(stream.data() + at, length, decoded);
        at += length;
    }
    return decoded;
}

// Writes what the input asks for with the codec's own writers, and tells the sink what
// a reader should get.
std::vector<uint8_t> Encode(FuzzInput& input, Decoded& expected)
{
    std::vector<uint8_t> stream;
    for (int step = 0; step < 16 && !input.Empty(); ++step) {
        const uint8_t what = input.Byte();
        const uint8_t a = input.Byte();
        const uint8_t b = input.Byte();
        // The codec writes COM-port commands the protocol knows: a request or its answer.
        const uint8_t command = static_cast<uint8_t>(a % 13 + (a & 0x80 ? rfc2217::kReplyOffset : 0));
        switch (what % 4) {
        case 0: {
            const std::string data = input.Text(a % 16);
            Rfc2217TelnetCodec::AppendData(stream, reinterpret_cast<const uint8_t*>(data.data()), data.size());
            if (!data.empty())
                expected.OnData(reinterpret_cast<const uint8_t*>(data.data()), data.size());
            break;
        }
        case 1: {
            const uint8_t verb = static_cast<uint8_t>(rfc2217::kWill + a % 4);
            Rfc2217TelnetCodec::AppendOption(stream, verb, b);
            expected.OnOption(verb, b);
            break;
        }
        case 2:
            Rfc2217TelnetCodec::AppendComPort(stream, command, b);
            expected.OnSubnegotiation(rfc2217::kOptionComPort, {command, b});
            break;
        default: {
            const uint32_t value = (uint32_t{a} << 24) | (uint32_t{b} << 16) | input.Byte();
            Rfc2217TelnetCodec::AppendComPort32(stream, command, value);
            expected.OnSubnegotiation(rfc2217::kOptionComPort,
                                      {command, static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                                       static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
            break;
        }
        }
    }
    return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::string cuts = input.Text(input.Byte() % 32);
    const bool roundTrip = input.Byte() & 1;
    if (!roundTrip) {
        const std::string raw = input.Rest();
        const std::vector<uint8_t> stream(raw.begin(), raw.end());
        FUZZ_CHECK(Decode(stream, cuts) == Decode(stream, ""));
        return 0;
    }
    Decoded expected;
    const std::vector<uint8_t> stream = Encode(input, expected);
    FUZZ_CHECK(Decode(stream, cuts) == expected);
    return 0;
}
