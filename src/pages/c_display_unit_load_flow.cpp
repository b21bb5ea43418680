#include "pages/c_display_unit_load_flow.h"

#include "loader/load_result.h"

namespace kestrum {

CDisplayUnitLoadFlow::CDisplayUnitLoadFlow(std::shared_ptr<CEvent> cancel) : cancel_(std::move(cancel)) {}

int CDisplayUnitLoadFlow::Run(Job job)
{
    cancel_->Reset();
    DisplayUnitRunRequest request;
    request.portName = std::move(job.portName);
    request.lines = job.lines;
    request.cancel = cancel_.get();
    request.waits = job.waits;
    request.callbacks = std::move(job.callbacks);
    // The page counts as busy for as long as the run lasts, however it ends.
    struct RunningMark {
        bool& running;
        explicit RunningMark(bool& flag) : running(flag) { running = true; }
        ~RunningMark() { running = false; }
    } mark(running_);
    if (job.started)
        job.started();
    return RunDisplayUnitLoad(request).success ? LOAD_OK : LOAD_GENERIC_ERROR;
}

int CDisplayUnitLoadFlow::ProgressPercent(uint32_t counter)
{
    return static_cast<int>(uint64_t{counter} * 100 / kDisplayUnitProgressEnd);
}

}  // namespace kestrum
