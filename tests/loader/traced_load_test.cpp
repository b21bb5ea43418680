// A load against the simulated receiver with the wire trace on: what the trace shows going
// out is every byte the device heard, in order, and what came in holds the device's answers.
#include "load_fixture.h"
#include "platform/trace_reader.h"

#include "loader/boot_protocol.h"
#include "loader/load_result.h"
#include "platform/c_wire_trace.h"

#include <algorithm>

using namespace kestrum;
using namespace kestrum::test;
using namespace kestrum::boot;

namespace {

// The receiver, keeping every byte as the PC sent it.
class ListeningReceiver : public ReceiverModel {
public:
    std::vector<uint8_t> Heard()
    {
        std::lock_guard lock(mutex_);
        return heard_;
    }

protected:
    void OnByte(const HeardByte& byte, SimTime now) override
    {
        {
            std::lock_guard lock(mutex_);
            heard_.push_back(byte.sent);
        }
        ReceiverModel::OnByte(byte, now);
    }

private:
    std::mutex mutex_;
    std::vector<uint8_t> heard_;
};

bool Contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

} // namespace

class TracedLoad : public LoadFixture {};

TEST_F(TracedLoad, TraceHoldsEveryByteOfTheHandshakeAndTheFramesInOrder)
{
    auto receiver = std::make_shared<ListeningReceiver>();
    model_ = receiver;
    RegisterSimBackend();
    // A small output queue, so the port's writes are often taken only in part.
    RegisterSimPort(portName_, receiver, SimSerialDevice::Options{false, 100});
    const std::string tracePath = dir_ + "/trace.txt";
    std::string error;
    ASSERT_TRUE(CWireTrace::Start(tracePath, "traced load", error)) << error;
    const FlashImageSpec flash{20, "3.1 traced", 5000, true};
    auto request = Request(kSoftBreakCapture, RamFile({true, 20, "", 3000}), FlashFile(flash));
    const int result = Run(*request);
    ASSERT_TRUE(CWireTrace::End());
    ASSERT_EQ(result, LOAD_OK);

    const std::vector<TraceRecord> records = ReadTrace(tracePath);
    const std::vector<uint8_t> out = TracedBytes(records, portName_, "out");
    const std::vector<uint8_t> heard = receiver->Heard();
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(out.size(), heard.size());
    EXPECT_TRUE(out == heard) << "the bytes sent, in the order the device heard them";
    // The handshake, the RAM image as it was stored and a data frame of each Flash block.
    EXPECT_TRUE(Contains(out, {kHandshake, kHandshake, kHandshake, kHandshake}));
    EXPECT_TRUE(Contains(out, receiver->LastRamImage()));
    const size_t frames = std::count(out.begin(), out.end(), kDataFrame);
    EXPECT_GE(frames, (receiver->FlashContents().size() + kBlockLength - 1) / kBlockLength);

    const std::vector<uint8_t> in = TracedBytes(records, portName_, "in");
    EXPECT_NE(std::find(in.begin(), in.end(), kRequest), in.end()) << "the boot loader announcing itself";
    EXPECT_NE(std::find(in.begin(), in.end(), kAcknowledge), in.end()) << "the RAM image taken";
    EXPECT_TRUE(
        std::any_of(records.begin(), records.end(), [](const TraceRecord& r) { return r.what == "open"; }));
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const TraceRecord& r) {
        return r.what.starts_with("line ") && r.what.find(" baud 8N1") != std::string::npos;
    }));
}
