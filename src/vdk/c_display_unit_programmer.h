#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/c_event.h"
#include "vdk/c_programming_link.h"
#include "vdk/version_record.h"

namespace kestrum {

// The colours of the Program page's Flash lamp that VDK-1 programming sets.
enum class FlashLamp { TransferRunning, TransferDone };

// How a VDK-1 run reports to whoever shows it (the Program page, kestrum-cli). Every
// member may be empty.
struct DisplayUnitCallbacks {
    std::function<void(const std::string& text)> status;
    std::function<void(FlashLamp lamp)> lamp;
    std::function<void()> showProgressText;
    // The progress counter, 0 to kDisplayUnitProgressEnd in steps of 256.
    std::function<void(uint32_t counter)> progress;
};

constexpr uint32_t kDisplayUnitProgressEnd = 2 * kDisplayUnitImageSize;

// Erases the VDK-1's Flash, writes the image page by page and reads every byte back,
// over an open programming link, on the calling thread.
class CDisplayUnitProgrammer {
public:
    // cancel may be null (nothing can cancel then).
    CDisplayUnitProgrammer(CProgrammingLink& link, std::span<const uint8_t, kDisplayUnitImageSize> image,
                           CEvent* cancel, DisplayUnitCallbacks callbacks);
    ~CDisplayUnitProgrammer();
    CDisplayUnitProgrammer(const CDisplayUnitProgrammer&) = delete;
    CDisplayUnitProgrammer& operator=(const CDisplayUnitProgrammer&) = delete;

    // Fills result with the outcome's text (see DisplayUnitTexts) and returns success.
    // Releases the unit and closes the link only on success. A failed line operation
    // ends the run at once: the link's text naming the lost port goes out as a status,
    // and result is the step's own failure text. Cancel is looked at between pages and
    // stretches, and by every batch of line changes while it runs.
    bool Program(std::string& result);

    uint32_t Progress() const { return progress_; }

private:
    bool ResetAndSynchronise(std::string& result);
    bool ProgramPages(std::string& result);
    bool VerifyStretches(std::string& result);
    bool ProgramPage(uint32_t page);
    bool VerifyStretch(uint32_t offset, std::string& result);
    bool LineLost(std::string& result, const char* stepText);
    bool CancelRequested();
    bool CancelledBetweenSteps(std::string& result);
    void Advance();
    void SetStatus(const std::string& text);

    CProgrammingLink& link_;
    std::span<const uint8_t, kDisplayUnitImageSize> image_;
    CEvent* cancel_;
    bool cancelSeen_ = false;
    DisplayUnitCallbacks callbacks_;
    uint32_t progress_ = 0;
};

}  // namespace kestrum
