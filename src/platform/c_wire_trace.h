#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrum {

// The wire trace: every byte that goes out of or comes into a port, with the time,
// direction and the changes of the control lines, written as readable hex and text for
// the support desk. Recording only copies the bytes into a buffer; a writer thread of
// its own formats and writes them, so a traced load runs as fast as an untraced one.
//
// Any thread may record. While a trace is active (SetActive), every serial device made
// by CreateSerialDevice records into it.
class CWireTrace {
public:
    enum class Kind : uint8_t { Out, In, Event };

    // Creates (or empties) the file and writes its heading; null with the reason in error
    // when the file cannot be written. heading: who traces, for the first lines.
    static std::shared_ptr<CWireTrace> Create(const std::string& path, const std::string& heading,
                                              std::string& error);
    // Everything recorded so far is written and the file closed.
    ~CWireTrace();
    CWireTrace(const CWireTrace&) = delete;
    CWireTrace& operator=(const CWireTrace&) = delete;

    // The trace new devices record into; null ends tracing for devices made afterwards.
    static void SetActive(std::shared_ptr<CWireTrace> trace);
    static std::shared_ptr<CWireTrace> Active();
    // A program's trace: Create, then SetActive. End takes it back, writes the rest and
    // closes the file once the last device is gone; false when not all could be written.
    static bool Start(const std::string& path, const std::string& heading, std::string& error);
    static bool End();

    // A number for the port's name, so each record need not carry the text.
    int PortNumber(const std::string& name);
    void Record(int port, Kind kind, const uint8_t* data, size_t count);
    void Note(int port, const std::string& text);

    // Waits until everything recorded so far is in the file; false when writing failed.
    bool Flush();
    const std::string& Path() const { return path_; }

private:
    struct Entry {
        int64_t micros; // since the trace started
        int port;
        Kind kind;
        size_t offset; // into the byte store
        size_t count;
    };

    CWireTrace(std::string path, std::FILE* file);
    void WriterLoop();
    std::string Format(const std::vector<Entry>& entries, const std::vector<uint8_t>& bytes,
                       const std::vector<std::string>& ports) const;

    const std::string path_;
    std::FILE* const file_;
    const std::chrono::steady_clock::time_point start_;

    std::mutex mutex_;
    std::condition_variable wake_;    // the writer: something to write, or the end
    std::condition_variable written_; // recorders held back and Flush: a batch is out
    std::vector<Entry> entries_;
    std::vector<uint8_t> bytes_;
    std::vector<std::string> ports_;
    uint64_t recorded_ = 0; // entries handed in and written, to tell Flush when it is done
    uint64_t done_ = 0;
    bool flushWanted_ = false;
    bool failed_ = false;
    bool ending_ = false;
    std::thread writer_;
};

} // namespace kestrum
