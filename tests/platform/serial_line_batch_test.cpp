#include "platform/serial_line_batch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "line_call_time.h"
#include "platform/serial_device.h"

using namespace kestrum;

namespace {

// An adapter whose control lines cost time and that can be pulled out after a number of
// line calls: DSR follows DTR and CTS follows RTS, as on a loop-back plug.
class AdapterOnPlug : public ISerialDevice {
public:
    explicit AdapterOnPlug(std::chrono::microseconds callTime = {}, int64_t pulledAfterCalls = -1)
        : callTime_(callTime), pulledAfterCalls_(pulledAfterCalls)
    {
    }

    bool Open(const std::string&) override { return true; }
    SerialOpenError OpenError() const override { return SerialOpenError::None; }
    std::string OpenErrorText() const override { return {}; }
    bool IsOpen() const override { return true; }
    void Close() override {}
    bool GetSettings(SerialLineSettings&) override { return true; }
    bool ApplySettings(const SerialLineSettings&) override { return true; }
    long Write(const uint8_t*, size_t count) override { return static_cast<long>(count); }
    long Read(uint8_t*, size_t) override { return 0; }
    int Wait(int, int) override { return Pulled() ? kGone : kTimeout; }
    void Release() override {}
    long InputQueued() override { return 0; }
    long OutputQueued() override { return 0; }
    bool Drain(int) override { return true; }
    void DiscardInput() override {}
    void DiscardOutput() override {}
    bool SetDtr(bool on) override { return Call() && ((dtr_ = on), true); }
    bool SetRts(bool on) override { return Call() && ((rts_ = on), true); }
    bool SetBreak(bool) override { return Call(); }
    bool GetModemStatus(bool& dsr, bool& cts) override
    {
        if (!Call())
            return false;
        dsr = dtr_;
        cts = rts_;
        return true;
    }
    bool ErrorCounts(SerialErrorCounts&) override { return false; }

    int64_t Calls() const { return calls_; }

private:
    bool Pulled() const { return pulledAfterCalls_ >= 0 && calls_ > pulledAfterCalls_; }
    bool Call()
    {
        ++calls_;
        test::SpendLineCallTime(callTime_);
        return !Pulled();
    }

    const std::chrono::microseconds callTime_;
    const int64_t pulledAfterCalls_;
    std::atomic<int64_t> calls_{0};
    bool dtr_ = false;
    bool rts_ = false;
};

// DTR and RTS in a pattern, each pair followed by a read.
SerialLineBatch PatternBatch(int reads)
{
    SerialLineBatch batch;
    for (int i = 0; i < reads; ++i) {
        batch.SetDtr(i % 2 == 0);
        batch.SetRts(i % 3 == 0);
        batch.ReadModem();
    }
    return batch;
}

} // namespace

TEST(SerialLineBatch, EachReadSeesTheChangesQueuedBeforeIt)
{
    AdapterOnPlug adapter;
    const LineBatchResult result = adapter.RunLineBatch(PatternBatch(300), {});

    ASSERT_TRUE(result.Completed()) << result.error;
    ASSERT_EQ(result.reads.size(), 300u);
    for (size_t i = 0; i < result.reads.size(); ++i) {
        ASSERT_EQ(result.reads[i].dsr, i % 2 == 0) << "read " << i;
        ASSERT_EQ(result.reads[i].cts, i % 3 == 0) << "read " << i;
    }
}

// A pulled adapter ends the batch at the call that found it gone: nothing after it is
// tried, and the reads made before it keep their answers.
TEST(SerialLineBatch, PulledAdapterEndsTheBatchAtTheFailingStep)
{
    AdapterOnPlug adapter({}, 3 * 10 + 1);
    const LineBatchResult result = adapter.RunLineBatch(PatternBatch(100), {});

    EXPECT_EQ(result.end, LineBatchResult::End::Gone);
    EXPECT_EQ(result.error, "the device has gone");
    EXPECT_EQ(result.reads.size(), 10u);
    EXPECT_EQ(adapter.Calls(), 3 * 10 + 2);
}

// A slow adapter (a USB control transfer per line change) must not hold a stop back
// until the whole batch has been clocked out.
TEST(SerialLineBatch, StopEndsABatchOnASlowAdapterPromptly)
{
    AdapterOnPlug adapter(std::chrono::microseconds(200));
    SerialLineBatch batch;
    for (int i = 0; i < 100000; ++i) // 20 s of line calls
        batch.SetRts(i % 2 == 0);
    const auto start = std::chrono::steady_clock::now();
    const auto stopAt = start + std::chrono::milliseconds(100);
    const LineBatchResult result =
        adapter.RunLineBatch(batch, [stopAt] { return std::chrono::steady_clock::now() >= stopAt; });

    EXPECT_EQ(result.end, LineBatchResult::End::Stopped);
    EXPECT_LT(adapter.Calls(), 100000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "not the whole batch";
}

TEST(SerialLineBatch, StopBeforeTheFirstStepTouchesNoLine)
{
    AdapterOnPlug adapter;
    const LineBatchResult result = adapter.RunLineBatch(PatternBatch(5), [] { return true; });
    EXPECT_EQ(result.end, LineBatchResult::End::Stopped);
    EXPECT_EQ(adapter.Calls(), 0);
}
