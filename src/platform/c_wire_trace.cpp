#include "platform/c_wire_trace.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/local_time.h"

namespace kestrum {

namespace {

// The writer takes a batch this often, or at once when this much has piled up.
constexpr auto kWriteInterval = std::chrono::milliseconds(100);
constexpr size_t kWakeBytes = 64 * 1024;
// A recorder waits for the writer only when the writer lags this far behind (a disk far
// slower than the line), so the trace stays complete without eating the memory.
constexpr size_t kHoldBackBytes = 16 * 1024 * 1024;
constexpr auto kHoldBackStep = std::chrono::milliseconds(100);
constexpr auto kFlushLimit = std::chrono::seconds(30);
constexpr size_t kBytesPerLine = 16;

std::mutex activeMutex;
std::shared_ptr<CWireTrace> activeTrace;

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

} // namespace

std::shared_ptr<CWireTrace> CWireTrace::Create(const std::string& path, const std::string& heading,
                                               std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "wbe");
    if (file == nullptr) {
        error = "cannot write the trace " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    const std::string text = Heading(heading);
    if (std::fputs(text.c_str(), file) < 0 || std::fflush(file) != 0) {
        error = "cannot write the trace " + path + ": " + std::strerror(errno);
        std::fclose(file);
        return nullptr;
    }
    return std::shared_ptr<CWireTrace>(new CWireTrace(path, file));
}

CWireTrace::CWireTrace(std::string path, std::FILE* file)
    : path_(std::move(path)), file_(file), start_(std::chrono::steady_clock::now())
{
    writer_ = std::thread([this] { WriterLoop(); });
}

CWireTrace::~CWireTrace()
{
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    writer_.join();
    std::fclose(file_);
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

int CWireTrace::PortNumber(const std::string& name)
{
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < ports_.size(); ++i)
        if (ports_[i] == name)
            return static_cast<int>(i);
    ports_.push_back(name);
    return static_cast<int>(ports_.size() - 1);
}

void CWireTrace::Record(int port, Kind kind, const uint8_t* data, size_t count)
{
    std::unique_lock lock(mutex_);
    while (bytes_.size() >= kHoldBackBytes && !failed_)
        written_.wait_for(lock, kHoldBackStep);
    if (failed_)
        return;
    // Taken under the lock, so the times of records from several threads never go back.
    const int64_t micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_)
            .count();
    entries_.push_back({micros, port, kind, bytes_.size(), count});
    bytes_.insert(bytes_.end(), data, data + count);
    ++recorded_;
    if (bytes_.size() >= kWakeBytes)
        wake_.notify_one();
}

void CWireTrace::Note(int port, const std::string& text)
{
    Record(port, Kind::Event, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool CWireTrace::Flush()
{
    std::unique_lock lock(mutex_);
    const uint64_t wanted = recorded_;
    flushWanted_ = true;
    wake_.notify_one();
    const bool out = written_.wait_for(lock, kFlushLimit, [&] { return done_ >= wanted || failed_; });
    return out && !failed_;
}

void CWireTrace::WriterLoop()
{
    std::vector<Entry> entries;
    std::vector<uint8_t> bytes;
    std::vector<std::string> ports;
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait_for(lock, kWriteInterval,
                       [&] { return ending_ || flushWanted_ || bytes_.size() >= kWakeBytes; });
        const bool last = ending_;
        flushWanted_ = false;
        entries.clear();
        bytes.clear();
        entries.swap(entries_);
        bytes.swap(bytes_);
        ports = ports_;
        lock.unlock();
        written_.notify_all(); // room for recorders held back
        bool ok = true;
        if (!entries.empty()) {
            const std::string text = Format(entries, bytes, ports);
            ok = std::fwrite(text.data(), 1, text.size(), file_) == text.size() && std::fflush(file_) == 0;
        }
        lock.lock();
        done_ += entries.size();
        failed_ = failed_ || !ok;
        written_.notify_all();
        if (last)
            return;
    }
}

std::string CWireTrace::Format(const std::vector<Entry>& entries, const std::vector<uint8_t>& bytes,
                               const std::vector<std::string>& ports) const
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
        if (entry.kind == Kind::Event) {
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

} // namespace kestrum
