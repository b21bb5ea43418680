#pragma once

#include "sim/device_model.h"

#include <cstdio>
#include <memory>
#include <string>

namespace kestrum {

// A device's wire log written to a text file as it goes: a first line "# times in seconds
// from S s of the steady clock", then one event a line, times in seconds from the first
// event (format: WireLog::Format). The file is complete once this object is gone.
class WireLogFile {
public:
    WireLogFile() = default;
    ~WireLogFile();
    WireLogFile(const WireLogFile&) = delete;
    WireLogFile& operator=(const WireLogFile&) = delete;

    // Creates the file and starts streaming the model's log into it. On failure returns
    // false with the reason in error.
    bool Start(const std::string& path, std::shared_ptr<DeviceModel> model, std::string& error);

private:
    void Write(const WireEvent& event);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_{nullptr, std::fclose};
    std::shared_ptr<DeviceModel> model_;
    bool started_ = false;
    SimTime origin_{0};
};

} // namespace kestrum
