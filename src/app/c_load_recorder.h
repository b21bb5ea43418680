#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/c_record_file.h"
#include "app/production_record.h"
#include "link/port_settings.h"
#include "platform/c_event.h"
#include "protocol/c_receiver_link.h"

namespace kestrum {

// The production record of the desktop program's loads: with a record file chosen, each
// run asks the device what it runs before the load and after a completed one, and
// appends one record at its end. Without one it does nothing at all, so a load runs
// exactly as it would without it. Runs on the calling thread; its waits dispatch the
// thread's messages, as the device queries do.
class CLoadRecorder {
public:
    explicit CLoadRecorder(std::string program) : program_(std::move(program)) {}

    void SetRecordFile(std::string path) { path_ = std::move(path); }
    const std::string& RecordFile() const { return path_; }
    bool Active() const { return !path_.empty(); }
    bool Busy() const { return busy_; }

    // Before the load: false, with the reason, when the record file cannot be opened for
    // appending, or when Cancel was pressed while the device was asked (the load must not
    // start then; that record is written at once).
    bool Begin(DeviceKind kind, const PortSettings& settings, int32_t statusChannel, const LinkSettings& link,
               CEvent* cancel, std::string& error);
    // At the load's end (result: the loader's code, text: what the user was shown): asks
    // the device again after a completed load and appends the record. False, with the
    // reason, when the record could not be written. Does nothing without a Begin.
    bool Finish(int result, const std::string& text, std::vector<ImageDigest> images, std::string& error);

private:
    std::optional<DeviceInfo> Ask(bool afterLoad, bool* cancelled = nullptr);

    const std::string program_;
    std::string path_;
    std::unique_ptr<CRecordFile> file_;
    ProductionRecord record_;
    PortSettings settings_;
    int32_t statusChannel_ = -1;
    LinkSettings link_;
    CEvent* cancel_ = nullptr;
    std::chrono::steady_clock::time_point started_;
    bool busy_ = false;
};

}  // namespace kestrum
