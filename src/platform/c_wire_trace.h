#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/c_file.h"

namespace kestrum {

struct WireTraceLimits {
    // Tracing stops once something recorded has waited this long to be written, or this
    // much waits.
    int behindMs = 3000;
    size_t behindBytes = 16 * 1024 * 1024;
    // Flush, and so the program's end, waits at most this long for the writer.
    int endMs = 3000;
};

// The wire trace: every byte that goes out of or comes into a port, with the time,
// direction and the changes of the control lines, written as readable hex and text for
// the support desk. Recording only copies the bytes into a buffer; a writer thread of
// its own formats and writes them, so a traced load runs as fast as an untraced one.
//
// The trace never holds the work it records: a recorder never waits for the writer.
// Once the writer has fallen behind for a bounded time (a stuck disk or network file
// system), tracing stops, the trace says where, and the notice sink is told that the
// trace is incomplete. The end waits for the writer a bounded time too, and leaves a
// writer stuck in the system behind rather than wait for it.
//
// Any thread may record. While a trace is active (SetActive), every serial device made
// by CreateSerialDevice records into it.
class CWireTrace {
public:
    enum class Kind : uint8_t { Out, In, Event };

    using Limits = WireTraceLimits;

    // Creates (or empties) the file and writes its heading; null with the reason in error
    // when the file cannot be written or is no regular file. heading: who traces, for the
    // first lines.
    static std::shared_ptr<CWireTrace> Create(const std::string& path, const std::string& heading,
                                              std::string& error, Limits limits = {});
    // The same on a file already open for writing, whatever its kind; path names it in texts.
    static std::shared_ptr<CWireTrace> CreateOn(std::unique_ptr<CFile> file, const std::string& path,
                                                const std::string& heading, std::string& error,
                                                Limits limits = {});
    // Ends the writer once it has written everything recorded, waiting at most the end
    // limit; a writer still stuck then is left to end with the process.
    ~CWireTrace();
    CWireTrace(const CWireTrace&) = delete;
    CWireTrace& operator=(const CWireTrace&) = delete;

    // The trace new devices record into; null ends tracing for devices made afterwards.
    static void SetActive(std::shared_ptr<CWireTrace> trace);
    static std::shared_ptr<CWireTrace> Active();
    // A program's trace: Create, then SetActive. End takes it back, writes the rest and
    // closes the file once the last device is gone; false when the trace is incomplete.
    static bool Start(const std::string& path, const std::string& heading, std::string& error);
    static bool End();
    // Where the line saying that tracing stopped early goes (a program's status line);
    // called once per trace, from any thread, with no lock of the trace held, and must
    // not record into a trace. Empty: nowhere.
    static void SetNoticeSink(std::function<void(const std::string& text)> sink);

    // A number for the port's name, so each record need not carry the text.
    int PortNumber(const std::string& name);
    void Record(int port, Kind kind, const uint8_t* data, size_t count);
    void Note(int port, const std::string& text);

    // Waits (at most the end limit) until everything recorded so far is in the file;
    // false when it is not, and from then on the trace counts as incomplete.
    bool Flush();
    // false once tracing has stopped early: writing failed or fell behind.
    bool Complete() const;
    const std::string& Path() const;

private:
    struct Shared;

    explicit CWireTrace(std::shared_ptr<Shared> shared);
    static void WriterLoop(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::thread writer_;
};

} // namespace kestrum
