#include "sim/wire_log_file.h"

#include <cerrno>
#include <cstring>

namespace kestrum {

WireLogFile::~WireLogFile()
{
    if (!model_)
        return;
    model_->FlushWireLog();
    model_->StreamWireLog({});
}

bool WireLogFile::Start(const std::string& path, std::shared_ptr<DeviceModel> model, std::string& error)
{
    file_.reset(std::fopen(path.c_str(), "w"));
    if (!file_) {
        error = "cannot write the wire log " + path + ": " + std::strerror(errno);
        return false;
    }
    model_ = std::move(model);
    model_->StreamWireLog([this](const WireEvent& event) { Write(event); });
    return true;
}

void WireLogFile::Write(const WireEvent& event)
{
    if (!started_) {
        origin_ = event.at;
        started_ = true;
    }
    std::fprintf(file_.get(), "%s\n", WireLog::Format(event, origin_).c_str());
}

} // namespace kestrum
