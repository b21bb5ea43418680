#include "link/c_serial_port.h"
#include "protocol/tagged_exchange.h"
#include "sim_ports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

using namespace kestrum;
using namespace kestrum::test;

namespace {

// Answers every tagged command line "%tag%command" with chunks made from the tag, each
// sent after its own delay, and keeps the tagged lines it heard.
class ScriptedReceiver : public DeviceModel {
public:
    struct Chunk {
        int delayMs;
        std::function<std::string(const std::string& tag)> bytes;
    };

    explicit ScriptedReceiver(std::vector<Chunk> script) : script_(std::move(script)) {}

    std::vector<std::string> Lines()
    {
        std::lock_guard lock(ModelMutex());
        return lines_;
    }

protected:
    void OnByte(const HeardByte& byte, SimTime now) override
    {
        if (byte.value != '\n') {
            line_.push_back(static_cast<char>(byte.value));
            return;
        }
        if (line_.size() > 1 && line_[0] == '%') {
            lines_.push_back(line_);
            const std::string tag = line_.substr(1, line_.find('%', 1) - 1);
            for (const Chunk& chunk : script_)
                Send(chunk.bytes(tag), now, SimMs(chunk.delayMs));
        }
        line_.clear();
    }

private:
    const std::vector<Chunk> script_;
    std::string line_;
    std::vector<std::string> lines_;
};

ScriptedReceiver::Chunk Fixed(int delayMs, std::string bytes)
{
    return {delayMs, [bytes](const std::string&) { return bytes; }};
}

struct Exchange {
    bool ok = false;
    TaggedStatus status = TaggedStatus::NoFrame;
    std::string reply;
    std::chrono::milliseconds took{0};
};

Exchange RunExchange(std::shared_ptr<ScriptedReceiver> device, const std::string& tag, int timeoutMs,
             const StopCheck& stop = {})
{
    ScopedSimPort sim("sim:tagged", device);
    CSerialPort port("sim:tagged");
    EXPECT_NE(port.GetHandle(), nullptr);
    port.StartReceive();
    Exchange result;
    const auto started = std::chrono::steady_clock::now();
    result.ok = TaggedExchange(port, tag, "print,/par/cur/term/rate", result.reply, timeoutMs, result.status, stop);
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    return result;
}

}  // namespace

TEST(TaggedExchange, FrameRunningPastTheReceivedBytesIsTakenOnlyWhenComplete)
{
    auto device = std::make_shared<ScriptedReceiver>(
        std::vector{Fixed(0, "RE00C%RATE%11"), Fixed(400, "5200\r\n")});
    const Exchange result = RunExchange(device, "RATE", 2000);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.status, TaggedStatus::Reply);
    EXPECT_EQ(result.reply, "115200");
    EXPECT_EQ(device->Lines(), std::vector<std::string>{"%RATE%print,/par/cur/term/rate"});
}

TEST(TaggedExchange, FrameAfterTheTimeOutIsIgnored)
{
    auto device = std::make_shared<ScriptedReceiver>(std::vector{Fixed(900, "RE00C%RATE%115200")});
    const Exchange result = RunExchange(device, "RATE", 300);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, TaggedStatus::NoFrame);
    EXPECT_EQ(result.reply, "");
}

TEST(TaggedExchange, ErrorFrameEndsTheWaitAtOnce)
{
    auto device = std::make_shared<ScriptedReceiver>(std::vector{Fixed(0, "ER00A%RATE%nope")});
    const Exchange result = RunExchange(device, "RATE", 20000);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, TaggedStatus::Error);
    EXPECT_EQ(result.reply, "nope");
    EXPECT_LT(result.took, std::chrono::seconds(10));
}

TEST(TaggedExchange, AnotherTagsCompleteFrameIsIgnored)
{
    auto device = std::make_shared<ScriptedReceiver>(std::vector{Fixed(0, "RE00C%BAUD%115200\r\nRE006%RAT%9")});
    const Exchange result = RunExchange(device, "RATE", 400);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, TaggedStatus::NoFrame);
}

TEST(TaggedExchange, EmptyTagGoesOutAsFiveDigits)
{
    auto device = std::make_shared<ScriptedReceiver>(std::vector<ScriptedReceiver::Chunk>{
        {0, [](const std::string& tag) { return "RE009%" + tag + "%ok"; }}});
    const Exchange result = RunExchange(device, "", 2000);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.reply, "ok");
    ASSERT_EQ(device->Lines().size(), 1u);
    EXPECT_EQ(device->Lines()[0].find_first_not_of("0123456789", 1), 6u);
}

TEST(TaggedExchange, StopEndsTheWaitEarly)
{
    auto device = std::make_shared<ScriptedReceiver>(std::vector<ScriptedReceiver::Chunk>{});
    int looks = 0;
    const Exchange result = RunExchange(device, "RATE", 20000, [&] { return ++looks > 10; });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, TaggedStatus::NoFrame);
    EXPECT_LT(result.took, std::chrono::seconds(10));
}
