#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/c_event.h"
#include "vdk/display_unit_run.h"

namespace kestrum {

// The programming of a VDK-1 as the Program page runs it, without a widget: one run on the
// calling thread, whose waits keep the window alive, so "&Cancel" and a close of the main
// window are served meanwhile (both only signal the cancel event). The page shows what the
// run reports through the callbacks. A step that belongs before or after the programming
// goes into Run().
class CDisplayUnitLoadFlow {
public:
    // cancel: the page's "&Cancel".
    explicit CDisplayUnitLoadFlow(std::shared_ptr<CEvent> cancel);

    struct Job {
        std::string portName;  // only the name: the link's line settings are fixed
        VdkLineSettings lines;
        VdkWaits waits;
        DisplayUnitCallbacks callbacks;
        std::function<void()> started;  // called once the flow counts as running
    };

    // Programs the unit; the loader's result code (LOAD_OK or LOAD_GENERIC_ERROR). A press
    // of "&Cancel" left over from before does not stop it.
    int Run(Job job);

    bool Running() const { return running_; }
    // The progress bar's position, 0..100, for the run's progress counter.
    static int ProgressPercent(uint32_t counter);

private:
    std::shared_ptr<CEvent> cancel_;
    bool running_ = false;
};

}  // namespace kestrum
