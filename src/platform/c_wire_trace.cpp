#include "platform/c_wire_trace.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "platform/c_file.h"
#include "platform/interrupt_signals.h"
#include "platform/local_time.h"

namespace kestrum {

namespace {

// The writer takes a batch this often, or at once when this much has piled up.
constexpr auto kWriteInterval = std::chrono::milliseconds(100);
constexpr size_t kWakeBytes = 64 * 1024;
// A writer that has already been given up gets this long to come back at the end.
constexpr auto kStoppedWriterWait = std::chrono::milliseconds(100);
constexpr size_t kBytesPerLine = 16;

std::mutex activeMutex;
std::shared_ptr<CWireTrace> activeTrace;
std::mutex noticeMutex;
std::function<void(const std::string&)> noticeSink;

struct Entry {
    int64_t micros; // since the trace started
    int port;
    CWireTrace::Kind kind;
    size_t offset; // into the byte store
    size_t count;
};

void Announce(const std::string& notice)
{
    // Called under the lock, so a sink being removed is never called afterwards.
    std::lock_guard lock(noticeMutex);
    if (noticeSink)
        noticeSink(notice);
}

std::string Seconds(int milliseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", milliseconds / 1000.0);
    return text;
}

std::string LocalTimeText()
{
    const LocalClockTime now = LocalTimeNow();
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &now.fields);
    char withMillis[80];
    std::snprintf(withMillis, sizeof withMillis, "%s.%03d", text, now.milliseconds);
    return withMillis;
}

std::string Heading(const std::string& who)
{
    return "# Kestrum wire trace: " + who + "\n# Started " + LocalTimeText() +
           " (local time).\n"
           "# Each record: milliseconds since the start, the port, then \"out\" (sent to the device) or\n"
           "# \"in\" (received from it) with the byte count, or what happened to the line. The bytes\n"
           "# follow 16 to a line: offset, hex, and as text between bars ('.' where not printable).\n";
}

void AppendDataLine(std::string& out, const uint8_t* data, size_t count, size_t offset)
{
    static constexpr char kHex[] = "0123456789abcdef";
    char line[96];
    int length = std::snprintf(line, sizeof line, "%12s%04zx  ", "", offset);
    for (size_t i = 0; i < kBytesPerLine; ++i) {
        if (i == kBytesPerLine / 2)
            line[length++] = ' ';
        if (i < count) {
            line[length++] = kHex[data[i] >> 4];
            line[length++] = kHex[data[i] & 0xf];
        } else {
            line[length++] = ' ';
            line[length++] = ' ';
        }
        line[length++] = ' ';
    }
    line[length++] = ' ';
    line[length++] = '|';
    for (size_t i = 0; i < count; ++i)
        line[length++] = data[i] >= 0x20 && data[i] < 0x7f ? static_cast<char>(data[i]) : '.';
    line[length++] = '|';
    line[length++] = '\n';
    out.append(line, static_cast<size_t>(length));
}

std::string Format(const std::vector<Entry>& entries, const std::vector<uint8_t>& bytes,
                   const std::vector<std::string>& ports)
{
    static constexpr const char* kWords[] = {"out", "in", ""};
    std::string out;
    out.reserve(bytes.size() * 5 + entries.size() * 48);
    for (const Entry& entry : entries) {
        const std::string& port = ports[static_cast<size_t>(entry.port)];
        char head[64];
        std::snprintf(head, sizeof head, "%8lld.%03lld  ", static_cast<long long>(entry.micros / 1000),
                      static_cast<long long>(entry.micros % 1000));
        out += head;
        out += port;
        out += "  ";
        const uint8_t* data = bytes.data() + entry.offset;
        if (entry.kind == CWireTrace::Kind::Event) {
            out.append(reinterpret_cast<const char*>(data), entry.count);
            out += '\n';
            continue;
        }
        out += kWords[static_cast<int>(entry.kind)];
        out += ' ';
        out += std::to_string(entry.count);
        out += '\n';
        for (size_t offset = 0; offset < entry.count; offset += kBytesPerLine)
            AppendDataLine(out, data + offset, std::min(kBytesPerLine, entry.count - offset), offset);
    }
    return out;
}

// Opens the trace's file, emptied, when it is a regular file or a new one; otherwise the
// reason, naming the path. What the open for writing refuses (a pipe without a reader, a
// folder) is looked at for reading, so the reason says what it is.
std::string OpenForTrace(CFile& file, const std::string& path)
{
    CFile look;
    const bool opened = file.Open(path, CFile::Access::WriteCreate);
    const CFile& seen = opened ? file : look;
    if (!opened && !look.Open(path, CFile::Access::Read))
        return path + ": " + file.ErrorText();
    if (seen.GetKind() == CFile::Kind::Directory)
        return path + " is a directory";
    if (seen.GetKind() != CFile::Kind::Regular)
        return path + " is not a regular file (it is " + CFile::KindText(seen.GetKind()) + ")";
    if (!opened)
        return path + ": " + file.ErrorText();
    return file.Truncate() ? "" : path + ": " + file.ErrorText();
}

} // namespace

struct CWireTrace::Shared {
    Shared(std::unique_ptr<CFile> traceFile, std::string tracePath, Limits traceLimits)
        : file(std::move(traceFile)), path(std::move(tracePath)), limits(traceLimits),
          start(std::chrono::steady_clock::now())
    {
    }

    int64_t MicrosNow() const
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
            .count();
    }
    bool Stopped() const { return !stopReason.empty(); }
    // Why the writer counts as too far behind for a record of count bytes; empty when not.
    std::string BehindLocked(int64_t micros, size_t count) const
    {
        if (unwrittenSince >= 0 && micros - unwrittenSince > int64_t{limits.behindMs} * 1000)
            return "writing it fell more than " + Seconds(limits.behindMs) + " behind";
        if (bytes.size() + count > limits.behindBytes)
            return "more than " + std::to_string(limits.behindBytes) + " bytes of it waited to be written";
        return "";
    }
    // Stops tracing: what waits is dropped and every waiter let go. Returns the notice.
    std::string StopLocked(const std::string& reason)
    {
        stopReason = reason;
        entries.clear();
        entries.shrink_to_fit();
        bytes.clear();
        bytes.shrink_to_fit();
        wake.notify_all();
        written.notify_all();
        return "The wire trace " + path + " is incomplete: " + reason + "; tracing has stopped";
    }

    const std::unique_ptr<CFile> file; // written by the writer only
    const std::string path;
    const Limits limits;
    const std::chrono::steady_clock::time_point start;

    std::mutex mutex;
    std::condition_variable wake;    // the writer: something to write, the end or the stop
    std::condition_variable written; // Flush and the end: a batch is out, or the writer ended
    std::vector<Entry> entries;
    std::vector<uint8_t> bytes;
    std::vector<std::string> ports;
    uint64_t recorded = 0; // entries handed in and written, to tell Flush when it is done
    uint64_t done = 0;
    int64_t unwrittenSince = -1; // the time of the oldest entry not yet written
    bool flushWanted = false;
    bool ending = false;
    bool exited = false;
    std::string stopReason; // set once tracing has stopped early
};

std::shared_ptr<CWireTrace> CWireTrace::Create(const std::string& path, const std::string& heading,
                                               std::string& error, Limits limits)
{
    auto file = std::make_unique<CFile>();
    const std::string problem = OpenForTrace(*file, path);
    if (!problem.empty()) {
        error = "the wire trace cannot be written: " + problem;
        return nullptr;
    }
    return CreateOn(std::move(file), path, heading, error, limits);
}

std::shared_ptr<CWireTrace> CWireTrace::CreateOn(std::unique_ptr<CFile> file, const std::string& path,
                                                 const std::string& heading, std::string& error, Limits limits)
{
    const std::string text = Heading(heading);
    if (!file->Write(text.data(), text.size())) {
        error = "the wire trace cannot be written: " + path + ": " + file->ErrorText();
        return nullptr;
    }
    return std::shared_ptr<CWireTrace>(new CWireTrace(std::make_shared<Shared>(std::move(file), path, limits)));
}

CWireTrace::CWireTrace(std::shared_ptr<Shared> shared) : shared_(std::move(shared))
{
    writer_ = std::thread([shared = shared_] { WriterLoop(shared); });
}

CWireTrace::~CWireTrace()
{
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    s.ending = true;
    s.wake.notify_all();
    const auto limit = s.Stopped() ? kStoppedWriterWait : std::chrono::milliseconds(s.limits.endMs);
    const bool exited = s.written.wait_for(lock, limit, [&s] { return s.exited; });
    lock.unlock();
    // The writer shares what it uses, so one stuck in the system may outlive the trace.
    if (exited)
        writer_.join();
    else
        writer_.detach();
}

void CWireTrace::SetActive(std::shared_ptr<CWireTrace> trace)
{
    std::lock_guard lock(activeMutex);
    activeTrace = std::move(trace);
}

std::shared_ptr<CWireTrace> CWireTrace::Active()
{
    std::lock_guard lock(activeMutex);
    return activeTrace;
}

bool CWireTrace::Start(const std::string& path, const std::string& heading, std::string& error)
{
    std::shared_ptr<CWireTrace> trace = Create(path, heading, error);
    if (!trace)
        return false;
    SetActive(std::move(trace));
    return true;
}

bool CWireTrace::End()
{
    std::shared_ptr<CWireTrace> trace = Active();
    SetActive(nullptr);
    return !trace || trace->Flush();
}

void CWireTrace::SetNoticeSink(std::function<void(const std::string& text)> sink)
{
    std::lock_guard lock(noticeMutex);
    noticeSink = std::move(sink);
}

int CWireTrace::PortNumber(const std::string& name)
{
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    for (size_t i = 0; i < s.ports.size(); ++i)
        if (s.ports[i] == name)
            return static_cast<int>(i);
    s.ports.push_back(name);
    return static_cast<int>(s.ports.size() - 1);
}

void CWireTrace::Record(int port, Kind kind, const uint8_t* data, size_t count)
{
    Shared& s = *shared_;
    std::string notice;
    {
        std::lock_guard lock(s.mutex);
        if (s.Stopped())
            return;
        // Taken under the lock, so the times of records from several threads never go back.
        const int64_t micros = s.MicrosNow();
        if (const std::string behind = s.BehindLocked(micros, count); !behind.empty()) {
            notice = s.StopLocked(behind);
        } else {
            s.entries.push_back({micros, port, kind, s.bytes.size(), count});
            s.bytes.insert(s.bytes.end(), data, data + count);
            ++s.recorded;
            if (s.unwrittenSince < 0)
                s.unwrittenSince = micros;
            if (s.bytes.size() >= kWakeBytes)
                s.wake.notify_one();
        }
    }
    if (!notice.empty())
        Announce(notice);
}

void CWireTrace::Note(int port, const std::string& text)
{
    Record(port, Kind::Event, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool CWireTrace::Flush()
{
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    const uint64_t wanted = s.recorded;
    s.flushWanted = true;
    s.wake.notify_one();
    const bool caughtUp = s.written.wait_for(lock, std::chrono::milliseconds(s.limits.endMs),
                                             [&] { return s.done >= wanted || s.Stopped(); });
    if (!caughtUp)
        s.StopLocked("its writer had not caught up after " + Seconds(s.limits.endMs));
    return !s.Stopped();
}

bool CWireTrace::Complete() const
{
    std::lock_guard lock(shared_->mutex);
    return !shared_->Stopped();
}

const std::string& CWireTrace::Path() const
{
    return shared_->path;
}

// Writes in batches until the end; a trace stopped early gets a last line that says so,
// once the writer is back from whatever held it.
void CWireTrace::WriterLoop(const std::shared_ptr<Shared>& shared)
{
    CInterruptSignals::KeepFromThisThread();
    Shared& s = *shared;
    std::vector<Entry> entries;
    std::vector<uint8_t> bytes;
    std::vector<std::string> ports;
    std::unique_lock lock(s.mutex);
    bool last = false;
    while (!last && !s.Stopped()) {
        s.wake.wait_for(lock, kWriteInterval, [&] {
            return s.ending || s.flushWanted || s.Stopped() || s.bytes.size() >= kWakeBytes;
        });
        if (s.Stopped())
            break;
        last = s.ending;
        s.flushWanted = false;
        entries.clear();
        bytes.clear();
        entries.swap(s.entries);
        bytes.swap(s.bytes);
        ports = s.ports;
        lock.unlock();
        std::string failure;
        if (!entries.empty()) {
            const std::string text = Format(entries, bytes, ports);
            if (!s.file->Write(text.data(), text.size()))
                failure = s.file->ErrorText();
        }
        const bool ok = failure.empty();
        lock.lock();
        s.done += entries.size();
        s.unwrittenSince = s.entries.empty() ? -1 : s.entries.front().micros;
        s.written.notify_all();
        if (!ok && !s.Stopped()) {
            const std::string notice = s.StopLocked("writing it failed (" + failure + ")");
            lock.unlock();
            Announce(notice);
            lock.lock();
        }
    }
    if (s.Stopped()) {
        const std::string note = "# Tracing stopped here: " + s.stopReason + ". The trace is incomplete.\n";
        lock.unlock();
        s.file->Write(note.data(), note.size());
        lock.lock();
    }
    s.exited = true;
    s.written.notify_all();
}

} // namespace kestrum
