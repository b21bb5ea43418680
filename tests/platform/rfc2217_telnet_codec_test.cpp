#include "platform/rfc2217_telnet_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrum;
using namespace kestrum::rfc2217;

namespace {

// Writes down what the codec found, one line per item.
class Transcript : public Rfc2217TelnetCodec::Sink {
public:
    void OnData(const uint8_t* data, size_t count) override { data_.insert(data_.end(), data, data + count); }
    void OnOption(uint8_t verb, uint8_t option) override
    {
        Settle();
        items_.push_back("option " + std::to_string(verb) + " " + std::to_string(option));
    }
    void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) override
    {
        Settle();
        std::string item = "sb " + std::to_string(option) + ":";
        for (uint8_t byte : payload)
            item += " " + std::to_string(byte);
        items_.push_back(item);
    }
    std::vector<std::string> Items()
    {
        Settle();
        return items_;
    }

private:
    void Settle()
    {
        if (data_.empty())
            return;
        std::string item = "data:";
        for (uint8_t byte : data_)
            item += " " + std::to_string(byte);
        items_.push_back(item);
        data_.clear();
    }

    std::vector<uint8_t> data_;
    std::vector<std::string> items_;
};

std::vector<std::string> Decode(const std::vector<uint8_t>& stream, size_t piece)
{
    Rfc2217TelnetCodec codec;
    Transcript transcript;
    for (size_t at = 0; at < stream.size(); at += piece)
        codec.Feed(stream.data() + at, std::min(piece, stream.size() - at), transcript);
    return transcript.Items();
}

}  // namespace

// However the stream is cut, the same items come out in the same order.
TEST(Rfc2217TelnetCodec, ItemsSurviveEveryCutOfTheStream)
{
    std::vector<uint8_t> stream;
    const uint8_t data[] = {1, 0xFF, 2, 0xFF, 0xFF};
    Rfc2217TelnetCodec::AppendData(stream, data, sizeof data);
    Rfc2217TelnetCodec::AppendOption(stream, kDo, kOptionComPort);
    Rfc2217TelnetCodec::AppendComPort32(stream, kSetBaudRate + kReplyOffset, 0x0001C2FF);
    Rfc2217TelnetCodec::AppendComPort(stream, kNotifyModemState + kReplyOffset, 0xFF);
    stream.insert(stream.end(), {kIac, 241, 7});  // a NOP between data bytes is skipped
    const std::vector<std::string> expected = {
        "data: 1 255 2 255 255", "option 253 44", "sb 44: 101 0 1 194 255", "sb 44: 107 255", "data: 7"};
    for (size_t piece = 1; piece <= stream.size(); ++piece)
        EXPECT_EQ(Decode(stream, piece), expected) << "pieces of " << piece;
}

TEST(Rfc2217TelnetCodec, EveryDataFfIsDoubledAndNothingElse)
{
    std::vector<uint8_t> out;
    const uint8_t data[] = {0xFF, 0xFE, 0xFF, 0xFF, 0x00};
    Rfc2217TelnetCodec::AppendData(out, data, sizeof data);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
    out.clear();
    Rfc2217TelnetCodec::AppendComPort(out, kSetControl, kControlDtrOn);
    EXPECT_EQ(out, (std::vector<uint8_t>{kIac, kSb, kOptionComPort, kSetControl, kControlDtrOn, kIac, kSe}));
}

// A peer that never ends its sub-negotiation cannot make us hold an unbounded amount,
// and the next proper item still comes through.
TEST(Rfc2217TelnetCodec, RunawaySubnegotiationIsCutAndTheStreamGoesOn)
{
    std::vector<uint8_t> stream = {kIac, kSb, kOptionComPort};
    stream.insert(stream.end(), 100000, 5);
    stream.insert(stream.end(), {kIac, kSe, 'o', 'k'});
    const std::vector<std::string> items = Decode(stream, 4096);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].size(), std::string("sb 44:").size() + 2 * (Rfc2217TelnetCodec::kMaxSubnegotiation - 1));
    EXPECT_EQ(items[1], "data: 111 107");
}
