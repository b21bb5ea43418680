#include "platform/tracing_serial_device.h"

namespace kestrum {

namespace {

std::string DescribeLine(const SerialLineSettings& settings)
{
    static constexpr char kParity[] = {'N', 'O', 'E'};
    static constexpr const char* kFlow[] = {"no flow control", "RTS/CTS flow control",
                                            "XON/XOFF flow control"};
    return "line " + std::to_string(settings.baudRate) + " baud " + std::to_string(settings.dataBits) +
           kParity[static_cast<int>(settings.parity)] + std::to_string(settings.stopBits) + ", " +
           kFlow[static_cast<int>(settings.flow)];
}

void AddCount(std::string& text, const char* name, uint32_t now, uint32_t before)
{
    if (now == before)
        return;
    text += text.empty() ? "line errors: " : ", ";
    text += name;
    text += " +" + std::to_string(now - before);
}

std::string DescribeErrors(const SerialErrorCounts& now, const SerialErrorCounts& before)
{
    std::string text;
    AddCount(text, "framing", now.framing, before.framing);
    AddCount(text, "parity", now.parity, before.parity);
    AddCount(text, "overrun", now.overrun, before.overrun);
    AddCount(text, "input buffer overrun", now.bufferOverrun, before.bufferOverrun);
    AddCount(text, "break", now.breaks, before.breaks);
    return text;
}

// What the driver made of the low-latency request; null when there was none.
const char* LowLatencyText(LowLatencyMode mode)
{
    switch (mode) {
    case LowLatencyMode::Granted:
        return "low-latency mode granted by the driver";
    case LowLatencyMode::AlreadyOn:
        return "low-latency mode already on";
    case LowLatencyMode::Refused:
        return "low-latency mode refused by the driver";
    default:
        return nullptr;
    }
}

} // namespace

TracingSerialDevice::TracingSerialDevice(std::unique_ptr<ISerialDevice> device,
                                         std::shared_ptr<CWireTrace> trace)
    : device_(std::move(device)), trace_(std::move(trace))
{
}

void TracingSerialDevice::Note(const std::string& text)
{
    const int port = port_.load();
    if (port >= 0)
        trace_->Note(port, text);
}

bool TracingSerialDevice::Open(const std::string& name)
{
    port_ = trace_->PortNumber(name);
    goneNoted_ = false;
    modemSeen_ = -1;
    const bool opened = device_->Open(name);
    if (!opened) {
        Note("open failed: " + device_->OpenErrorText());
        return false;
    }
    Note("open");
    if (const char* lowLatency = LowLatencyText(device_->LowLatency()))
        Note(lowLatency);
    std::lock_guard lock(countsMutex_);
    countsSeen_ = {};
    device_->ErrorCounts(countsSeen_);
    return true;
}

void TracingSerialDevice::Close()
{
    if (device_->IsOpen())
        Note(device_->LowLatency() == LowLatencyMode::Granted ? "close, low-latency mode taken back"
                                                              : "close");
    device_->Close();
}

bool TracingSerialDevice::ApplySettings(const SerialLineSettings& settings)
{
    const bool applied = device_->ApplySettings(settings);
    Note(DescribeLine(settings) + (applied ? "" : " (refused)"));
    return applied;
}

long TracingSerialDevice::Write(const uint8_t* data, size_t count)
{
    return Moved(CWireTrace::Kind::Out, data, device_->Write(data, count));
}

long TracingSerialDevice::Read(uint8_t* data, size_t room)
{
    return Moved(CWireTrace::Kind::In, data, device_->Read(data, room));
}

// Records the bytes a write or read moved; a device that has gone says so once.
long TracingSerialDevice::Moved(CWireTrace::Kind kind, const uint8_t* data, long count)
{
    if (count > 0 && port_ >= 0)
        trace_->Record(port_, kind, data, static_cast<size_t>(count));
    if (count < 0)
        NoteGone();
    return count;
}

int TracingSerialDevice::Wait(int request, int timeoutMs)
{
    const int result = device_->Wait(request, timeoutMs);
    if (result & kGone)
        NoteGone();
    return result;
}

// Bytes thrown away never pass Read or leave the line, so at least their number shows.
void TracingSerialDevice::DiscardInput()
{
    const long unread = device_->InputQueued();
    device_->DiscardInput();
    Note("discard input" + (unread > 0 ? " (" + std::to_string(unread) + " bytes unread)" : std::string()));
}

void TracingSerialDevice::DiscardOutput()
{
    const long unsent = device_->OutputQueued();
    device_->DiscardOutput();
    Note("discard output" + (unsent > 0 ? " (" + std::to_string(unsent) + " bytes unsent)" : std::string()));
}

bool TracingSerialDevice::SetLine(const char* line, bool on, bool done)
{
    Note(std::string(line) + (on ? " on" : " off") + (done ? "" : " (failed)"));
    return done;
}

bool TracingSerialDevice::GetModemStatus(bool& dsr, bool& cts)
{
    const bool read = device_->GetModemStatus(dsr, cts);
    if (read)
        NoteModem(dsr, cts);
    return read;
}

void TracingSerialDevice::NoteModem(bool dsr, bool cts)
{
    const int seen = (dsr ? 1 : 0) | (cts ? 2 : 0);
    if (seen != modemSeen_) {
        modemSeen_ = seen;
        Note(std::string("DSR ") + (dsr ? "on" : "off") + ", CTS " + (cts ? "on" : "off"));
    }
}

LineBatchResult TracingSerialDevice::RunLineBatch(const SerialLineBatch& batch,
                                                  const std::function<bool()>& stopped)
{
    LineBatchResult result = device_->RunLineBatch(batch, stopped);
    NoteBatch(batch, result);
    if (result.end == LineBatchResult::End::Gone)
        NoteGone();
    return result;
}

// A batch that ended early shows its steps up to its last answered read: which changes
// after that reached the device is not known.
void TracingSerialDevice::NoteBatch(const SerialLineBatch& batch, const LineBatchResult& result)
{
    using Step = SerialLineBatch::Step;
    static constexpr const char* kChanges[] = {"DTR off", "DTR on",    "RTS off",
                                               "RTS on",  "break off", "break on"};
    const auto& steps = batch.Steps();
    size_t noted = steps.size();
    if (!result.Completed()) {
        noted = 0;
        for (size_t reads = 0; reads < result.reads.size() && noted < steps.size(); ++noted)
            reads += steps[noted] == Step::ReadModem ? 1 : 0;
    }
    size_t read = 0;
    for (size_t i = 0; i < noted; ++i) {
        const Step step = steps[i];
        if (step == Step::ReadModem) {
            NoteModem(result.reads[read].dsr, result.reads[read].cts);
            ++read;
        } else {
            Note(kChanges[static_cast<size_t>(step)]);
        }
    }
    if (!result.Completed())
        Note("line batch ended: " + result.error);
}

bool TracingSerialDevice::ErrorCounts(SerialErrorCounts& counts)
{
    const bool kept = device_->ErrorCounts(counts);
    if (!kept)
        return false;
    std::lock_guard lock(countsMutex_);
    const std::string text = DescribeErrors(counts, countsSeen_);
    countsSeen_ = counts;
    if (!text.empty())
        Note(text);
    return true;
}

void TracingSerialDevice::NoteGone()
{
    if (!goneNoted_.exchange(true))
        Note("the device has gone");
}

} // namespace kestrum
