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
        // The origin on the machine's steady clock, so another program's times can be
        // set beside these.
        std::fprintf(file_.get(), "# times in seconds from %lld.%06lld s of the steady clock\n",
                     static_cast<long long>(origin_.count() / 1000000), static_cast<long long>(origin_.count() % 1000000));
    }
    std::fprintf(file_.get(), "%s\n", WireLog::Format(event, origin_).c_str());
}

} // namespace kestrum
