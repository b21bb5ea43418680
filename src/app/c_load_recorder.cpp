#include "app/c_load_recorder.h"

#include "loader/load_check.h"
#include "loader/load_result.h"

namespace kestrum {

namespace {

// Marks the recorder busy while it talks to the device, so the window does not close then.
class BusyMark {
public:
    explicit BusyMark(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyMark() { busy_ = false; }
    BusyMark(const BusyMark&) = delete;
    BusyMark& operator=(const BusyMark&) = delete;

private:
    bool& busy_;
};

}  // namespace

bool CLoadRecorder::Begin(DeviceKind kind, const PortSettings& settings, int32_t statusChannel,
                          const LinkSettings& link, CEvent* cancel, std::string& error)
{
    file_.reset();
    if (!Active())
        return true;
    auto file = std::make_unique<CRecordFile>();
    if (!file->Open(path_, error))
        return false;
    const BusyMark busy(busy_);
    file_ = std::move(file);
    settings_ = settings;
    statusChannel_ = statusChannel;
    link_ = link;
    cancel_ = cancel;
    started_ = std::chrono::steady_clock::now();
    record_ = BeginRecord(program_, settings.port, kind);
    bool cancelled = false;
    record_.before = Ask(false, &cancelled);
    if (!cancelled)
        return true;
    GetLoadResultText(LOAD_ABORTED, error);
    std::string unwritten;
    Finish(LOAD_ABORTED, error, {}, unwritten);
    return false;
}

bool CLoadRecorder::Finish(int result, const std::string& text, std::vector<ImageDigest> images, std::string& error)
{
    if (!file_)
        return true;
    const BusyMark busy(busy_);
    if (result == LOAD_OK)
        record_.after = Ask(true);
    record_.images = std::move(images);
    record_.result = result == LOAD_OK ? ProductionRecord::Result::Completed : ProductionRecord::Result::Failed;
    record_.code = result;
    record_.text = text;
    record_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const bool written = file_->Append(record_, error);
    file_.reset();
    return written;
}

std::optional<DeviceInfo> CLoadRecorder::Ask(bool afterLoad, bool* cancelled)
{
    return afterLoad ? AskDeviceAfterLoad(record_.kind, settings_, statusChannel_, link_, cancel_)
                     : AskDevice(record_.kind, settings_, statusChannel_, link_, cancel_, cancelled);
}

}  // namespace kestrum
