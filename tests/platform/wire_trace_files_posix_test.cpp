// What the wire trace does with files that cannot take it or cannot keep up: named pipes,
// devices and folders, and a writer stuck in the system.
#include "platform/c_wire_trace.h"

#include "app/temp_dir.h"
#include "platform/trace_reader.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kestrum;
using kestrum::test::Lines;

// Only a regular file, or a new one, takes a trace, and what is not one is refused without
// waiting: a named pipe without a reader would hold the open for ever, one with a reader
// could hold every write.
TEST(WireTraceFiles, OnlyARegularFileTakesATraceAndNothingElseIsWaitedFor)
{
    TempDir dir_;
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::mkdir((dir_ / "folder").c_str(), 0700);
    const struct {
        std::string path, problem;
    } refused[] = {{dir_ / "missing/trace.txt", dir_ / "missing/trace.txt: No such file"},
                   {fifo, fifo + " is not a regular file (it is a named pipe)"},
                   {"/dev/null", "/dev/null is not a regular file (it is a character device)"},
                   {dir_ / "folder", dir_ / "folder is a directory"}};
    for (const auto& c : refused) {
        auto creating = std::async(std::launch::async, [&] {
            std::string error;
            return CWireTrace::Create(c.path, "test", error) == nullptr ? error : std::string("created");
        });
        if (creating.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the open waits for a reader of " << c.path;
            ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK)); // lets the blocked open go on
        }
        EXPECT_NE(creating.get().find("the wire trace cannot be written: " + c.problem), std::string::npos)
            << c.path;
    }
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    std::string error;
    EXPECT_EQ(CWireTrace::Create(fifo, "test", error), nullptr) << "a pipe with a reader neither";
    ::close(reader);
    WriteFile(dir_ / "trace.txt", std::string(5000, 'x'));
    EXPECT_NE(CWireTrace::Create(dir_ / "trace.txt", "test", error), nullptr) << error;
    EXPECT_EQ(Lines(ReadFile(dir_ / "trace.txt")).front(), "# Kestrum wire trace: test")
        << "a regular file is overwritten";
}

// A writer stuck in the system (here a pipe nobody reads) never holds what records: once it
// has been behind for the limit, tracing stops with a notice, and the end does not wait
// for it longer than its limit.
TEST(WireTraceFiles, StuckWriterStopsTracingWithANoticeAndIsNotWaitedFor)
{
    TempDir dir;
    const std::string fifo = dir / "stuck";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK); // never reads
    auto file = std::make_unique<CFile>();
    ASSERT_TRUE(file->Open(fifo, CFile::Access::WriteCreate)) << file->ErrorText();
    std::signal(SIGPIPE, SIG_IGN); // the writer left behind meets a closed pipe at the end
    std::vector<std::string> notices;
    std::mutex noticesMutex;
    CWireTrace::SetNoticeSink([&](const std::string& text) {
        std::lock_guard lock(noticesMutex);
        notices.push_back(text);
    });
    std::string error;
    auto trace = CWireTrace::CreateOn(std::move(file), "the pipe", "test", error,
                                      {.behindMs = 200, .behindBytes = 64u << 20, .endMs = 200});
    ASSERT_NE(trace, nullptr) << error;
    const int port = trace->PortNumber("/dev/ttyUSB0");
    const std::vector<uint8_t> block(64 * 1024, 0x55); // several times what the pipe holds, as text
    for (int i = 0; i < 3000 && trace->Complete(); ++i) {
        trace->Record(port, CWireTrace::Kind::Out, block.data(), i == 0 ? block.size() : 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(trace->Complete());
    {
        std::lock_guard lock(noticesMutex);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0], "The wire trace the pipe is incomplete: writing it fell more than 0.2 s behind; "
                              "tracing has stopped");
    }
    CWireTrace::SetNoticeSink(nullptr);
    CWireTrace::SetActive(std::move(trace));
    EXPECT_FALSE(CWireTrace::End()) << "the end tells that the trace is incomplete, and returns";
    ::close(reader); // the writer, left behind, gets back from its write and ends

    // A writer that comes back says in the file where the trace stops.
    auto behind = CWireTrace::Create(dir / "trace.txt", "test", error, {.behindBytes = 8});
    ASSERT_NE(behind, nullptr) << error;
    const uint8_t bytes[6] = {};
    behind->Record(port, CWireTrace::Kind::Out, bytes, sizeof bytes);
    behind->Record(port, CWireTrace::Kind::Out, bytes, sizeof bytes);
    EXPECT_FALSE(behind->Flush());
    behind.reset();
    const std::vector<std::string> lines = Lines(ReadFile(dir / "trace.txt"));
    EXPECT_EQ(lines.back(), "# Tracing stopped here: more than 8 bytes of it waited to be written. The trace is "
                            "incomplete.");
}

