#include "platform/c_wire_trace.h"
#include "platform/serial_device_factory.h"
#include "platform/tracing_serial_device.h"

#include "app/temp_dir.h"
#include "platform/trace_reader.h"

#include <gtest/gtest.h>

#include <deque>
#include <thread>

using namespace kestrum;
using namespace kestrum::test;

namespace {

// The text after a record's time, which varies from run to run.
std::string AfterTime(const std::string& line)
{
    const size_t dot = line.find('.');
    return dot == std::string::npos || dot + 6 > line.size() ? line : line.substr(dot + 6);
}

// A device that does what the test says and nothing else, to watch what the trace makes of it.
class ScriptedDevice : public ISerialDevice {
public:
    std::deque<std::vector<uint8_t>> incoming;
    bool dsr = false, cts = false;
    SerialErrorCounts counts;
    long queuedIn = 0;
    bool open = false;

    bool Open(const std::string&) override { return open = true; }
    SerialOpenError OpenError() const override { return SerialOpenError::None; }
    std::string OpenErrorText() const override { return ""; }
    bool IsOpen() const override { return open; }
    void Close() override { open = false; }
    bool GetSettings(SerialLineSettings&) override { return true; }
    bool ApplySettings(const SerialLineSettings& settings) override { return settings.baudRate != 1234; }
    long Write(const uint8_t*, size_t count) override { return static_cast<long>(count); }
    long Read(uint8_t* data, size_t room) override
    {
        if (incoming.empty())
            return 0;
        const size_t n = std::min(room, incoming.front().size());
        std::copy_n(incoming.front().begin(), n, data);
        incoming.pop_front();
        return static_cast<long>(n);
    }
    int Wait(int, int) override { return kTimeout; }
    void Release() override {}
    long InputQueued() override { return queuedIn; }
    long OutputQueued() override { return 0; }
    bool Drain(int) override { return true; }
    void DiscardInput() override { queuedIn = 0; }
    void DiscardOutput() override {}
    bool SetDtr(bool) override { return true; }
    bool SetRts(bool) override { return false; }
    bool SetBreak(bool) override { return true; }
    bool GetModemStatus(bool& dsrNow, bool& ctsNow) override
    {
        dsrNow = dsr;
        ctsNow = cts;
        return true;
    }
    bool ErrorCounts(SerialErrorCounts& now) override
    {
        now = counts;
        return true;
    }
    LineBatchResult RunLineBatch(const SerialLineBatch&, const std::function<bool()>&) override
    {
        ++batchesRun;
        return batchResult;
    }

    LineBatchResult batchResult;
    int batchesRun = 0;
};

class WireTraceTest : public ::testing::Test {
protected:
    std::shared_ptr<CWireTrace> Create()
    {
        std::string error;
        auto trace = CWireTrace::Create(Path(), "test", error);
        EXPECT_NE(trace, nullptr) << error;
        return trace;
    }
    std::string Path() const { return dir_ / "trace.txt"; }
    std::vector<std::string> FileLines() const { return Lines(ReadFile(Path())); }

    TempDir dir_;
};

} // namespace

TEST_F(WireTraceTest, BytesReadAsTimePortDirectionHexAndText)
{
    auto trace = Create();
    const int port = trace->PortNumber("/dev/ttyUSB0");
    EXPECT_EQ(trace->PortNumber("/dev/ttyUSB0"), port);
    const std::string command = "print,/par/rcv/ver\n";
    trace->Record(port, CWireTrace::Kind::Out, reinterpret_cast<const uint8_t*>(command.data()),
                  command.size());
    const uint8_t reply[] = {0x06, 0x1e, 'R', 'E', '|', 0x00, 0xff};
    trace->Record(port, CWireTrace::Kind::In, reply, sizeof reply);
    trace->Note(trace->PortNumber("/dev/ttyS0"), "DTR on");
    ASSERT_TRUE(trace->Flush());

    const std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), 5u + 6u) << ReadFile(Path());
    EXPECT_EQ(lines[0], "# Kestrum wire trace: test");
    EXPECT_TRUE(lines[1].starts_with("# Started ")) << lines[1];
    const std::vector<std::string> records(lines.begin() + 5, lines.end());
    EXPECT_EQ(AfterTime(records[0]), "/dev/ttyUSB0  out 19");
    EXPECT_EQ(records[1],
              "            0000  70 72 69 6e 74 2c 2f 70  61 72 2f 72 63 76 2f 76  |print,/par/rcv/v|");
    EXPECT_EQ(records[2], "            0010  65 72 0a                                          |er.|");
    EXPECT_EQ(AfterTime(records[3]), "/dev/ttyUSB0  in 7");
    EXPECT_EQ(records[4], "            0000  06 1e 52 45 7c 00 ff                              |..RE|..|");
    EXPECT_EQ(AfterTime(records[5]), "/dev/ttyS0  DTR on");
    // The time: milliseconds with three decimals, right-aligned.
    EXPECT_EQ(records[0].find('.'), 8u) << records[0];
}

TEST_F(WireTraceTest, RecordsFromManyThreadsAreAllKeptInTheOrderOfTheirTimes)
{
    auto trace = Create();
    constexpr int kThreads = 4;
    constexpr int kRecords = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&trace, t] {
            const int port = trace->PortNumber("port" + std::to_string(t));
            for (int i = 0; i < kRecords; ++i) {
                const uint8_t bytes[2] = {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
                trace->Record(port, CWireTrace::Kind::Out, bytes, sizeof bytes);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(trace->Flush());
    const std::vector<TraceRecord> records = ReadTrace(Path());
    ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kRecords));
    for (size_t i = 1; i < records.size(); ++i)
        ASSERT_LE(records[i - 1].ms, records[i].ms) << i;
    for (int t = 0; t < kThreads; ++t) {
        const std::vector<uint8_t> bytes = TracedBytes(records, "port" + std::to_string(t), "out");
        ASSERT_EQ(bytes.size(), 2u * kRecords);
        for (int i = 0; i < kRecords; ++i)
            ASSERT_EQ(bytes[2 * i] << 8 | bytes[2 * i + 1], i);
    }
}

TEST_F(WireTraceTest, UnwritableFileIsRefusedWithItsReason)
{
    std::string error;
    EXPECT_EQ(CWireTrace::Create(dir_ / "missing/trace.txt", "test", error), nullptr);
    EXPECT_NE(error.find(dir_ / "missing/trace.txt"), std::string::npos) << error;
}

// What the program does to the line shows beside the bytes, changes of what it reads only
// when they change.
TEST_F(WireTraceTest, DeviceRecordsLineSettingsControlLinesPurgesErrorsAndItsEnd)
{
    auto trace = Create();
    auto scripted = std::make_unique<ScriptedDevice>();
    ScriptedDevice& device = *scripted;
    TracingSerialDevice traced(std::move(scripted), trace);
    ASSERT_TRUE(traced.Open("sim:x"));
    SerialLineSettings line;
    line.baudRate = 9600;
    line.parity = SerialLineSettings::Parity::Even;
    line.flow = SerialLineSettings::Flow::RtsCts;
    EXPECT_TRUE(traced.ApplySettings(line));
    line.baudRate = 1234;
    EXPECT_FALSE(traced.ApplySettings(line));
    EXPECT_TRUE(traced.SetDtr(false));
    EXPECT_FALSE(traced.SetRts(true));
    EXPECT_TRUE(traced.SetBreak(true));
    bool dsr = false, cts = false;
    traced.GetModemStatus(dsr, cts);
    traced.GetModemStatus(dsr, cts); // unchanged: not again
    device.cts = true;
    traced.GetModemStatus(dsr, cts);
    device.queuedIn = 5;
    traced.DiscardInput();
    traced.DiscardOutput();
    device.counts.framing = 2;
    device.counts.overrun = 1;
    SerialErrorCounts counts;
    traced.ErrorCounts(counts);
    traced.ErrorCounts(counts);
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(traced.Write(bytes, 3), 3);
    device.incoming.push_back({0x15});
    uint8_t room[8];
    EXPECT_EQ(traced.Read(room, sizeof room), 1);
    EXPECT_EQ(traced.Read(room, sizeof room), 0);
    traced.Close();
    ASSERT_TRUE(trace->Flush());

    std::vector<std::string> whats;
    for (const TraceRecord& record : ReadTrace(Path())) {
        EXPECT_EQ(record.port, "sim:x");
        whats.push_back(record.what);
    }
    const std::vector<std::string> expected = {"open",
                                               "line 9600 baud 8E1, RTS/CTS flow control",
                                               "line 1234 baud 8E1, RTS/CTS flow control (refused)",
                                               "DTR off",
                                               "RTS on (failed)",
                                               "break on",
                                               "DSR off, CTS off",
                                               "DSR off, CTS on",
                                               "discard input (5 bytes unread)",
                                               "discard output",
                                               "line errors: framing +2, overrun +1",
                                               "out 3",
                                               "in 1",
                                               "close"};
    EXPECT_EQ(whats, expected);
}

TEST_F(WireTraceTest, ActiveTraceWrapsEveryNewDeviceUntilItEnds)
{
    std::string error;
    ASSERT_TRUE(CWireTrace::Start(Path(), "test", error)) << error;
    EXPECT_NE(dynamic_cast<TracingSerialDevice*>(CreateSerialDevice("/dev/ttyS0").get()), nullptr);
    EXPECT_TRUE(CWireTrace::End());
    EXPECT_EQ(CWireTrace::Active(), nullptr);
    EXPECT_EQ(dynamic_cast<TracingSerialDevice*>(CreateSerialDevice("/dev/ttyS0").get()), nullptr);
    EXPECT_TRUE(CWireTrace::End()) << "nothing to end is no failure";
}

// A traced network port must still send a batch in one go (not call by call, a round trip
// each); the trace shows its steps as the single calls would have, and where it ended.
TEST_F(WireTraceTest, BatchRunsOnTheDeviceAndShowsItsStepsUpToWhereItEnded)
{
    SerialLineBatch batch;
    batch.SetDtr(true);
    batch.SetRts(true);
    batch.ReadModem();
    batch.SetRts(false);
    batch.ReadModem();
    batch.SetBreak(true);
    batch.ReadModem();
    batch.SetDtr(false);
    struct Case {
        const char* what;
        LineBatchResult result;
        std::vector<std::string> expected;
    } const cases[] = {
        {"completed",
         {LineBatchResult::End::Completed, {{true, false}, {true, false}, {false, true}}, ""},
         {"open", "DTR on", "RTS on", "DSR on, CTS off", "RTS off", "break on", "DSR off, CTS on",
          "DTR off"}},
        {"gone after the first read",
         {LineBatchResult::End::Gone, {{true, false}}, "the server closed the connection"},
         {"open", "DTR on", "RTS on", "DSR on, CTS off", "line batch ended: the server closed the connection",
          "the device has gone"}},
        {"stopped before any read",
         {LineBatchResult::End::Stopped, {}, "stopped"},
         {"open", "line batch ended: stopped"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto trace = Create();
        auto scripted = std::make_unique<ScriptedDevice>();
        ScriptedDevice& device = *scripted;
        device.batchResult = c.result;
        TracingSerialDevice traced(std::move(scripted), trace);
        ASSERT_TRUE(traced.Open("rfc2217://x:1"));
        const LineBatchResult result = traced.RunLineBatch(batch, {});
        EXPECT_EQ(device.batchesRun, 1) << "the device's own batch, not single calls";
        EXPECT_EQ(result.end, c.result.end);
        EXPECT_EQ(result.reads.size(), c.result.reads.size());
        ASSERT_TRUE(trace->Flush());
        std::vector<std::string> whats;
        for (const TraceRecord& record : ReadTrace(Path()))
            whats.push_back(record.what);
        EXPECT_EQ(whats, c.expected);
    }
}
