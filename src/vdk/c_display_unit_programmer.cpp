#include "vdk/c_display_unit_programmer.h"

#include <array>
#include <cstdio>

#include "platform/message_pump.h"
#include "vdk/display_unit_texts.h"

namespace kestrum {

namespace {

constexpr uint32_t kPageSize = 256;
constexpr uint32_t kPageCount = kDisplayUnitImageSize / kPageSize;
constexpr uint32_t kWordsPerPage = kPageSize / 2;
constexpr uint32_t kChipErase = 0xAC800000;
constexpr uint32_t kLoadPageLow = 0x40;
constexpr uint32_t kLoadPageHigh = 0x48;
constexpr uint32_t kWritePage = 0x4C;

uint32_t LoadPageCommand(uint32_t opcode, uint32_t word, uint8_t value)
{
    return (opcode << 24) | (word << 8) | value;
}

// The page's word address p * 128, most significant byte first.
uint32_t WritePageCommand(uint32_t page)
{
    return (kWritePage << 24) | ((page >> 1) << 16) | (((page & 1) << 7) << 8);
}

std::string WrongDataText(uint32_t address, uint8_t read, uint8_t expected)
{
    char text[96];
    std::snprintf(text, sizeof text, kVdkTextWrongData, static_cast<unsigned long>(address),
                  static_cast<unsigned>(read), static_cast<unsigned>(expected));
    return text;
}

}  // namespace

CDisplayUnitProgrammer::CDisplayUnitProgrammer(CProgrammingLink& link,
                                               std::span<const uint8_t, kDisplayUnitImageSize> image,
                                               CEvent* cancel, DisplayUnitCallbacks callbacks)
    : link_(link), image_(image), cancel_(cancel), callbacks_(std::move(callbacks))
{
    // A batch of line changes can take a while on a slow adapter: Cancel ends it too.
    link_.SetStopCheck([this] { return CancelRequested(); });
}

CDisplayUnitProgrammer::~CDisplayUnitProgrammer()
{
    link_.SetStopCheck({});
}

bool CDisplayUnitProgrammer::Program(std::string& result)
{
    if (!ResetAndSynchronise(result))
        return false;
    link_.SendCommand(kChipErase);
    if (!link_.Pause(link_.Waits().chipEraseMs))
        return LineLost(result, kVdkTextCantLoad);
    result = kVdkTextErased;
    SetStatus(kVdkTextErased);

    if (!link_.Release())
        return LineLost(result, kVdkTextCantLoad);
    if (!ResetAndSynchronise(result))
        return false;
    if (callbacks_.lamp)
        callbacks_.lamp(FlashLamp::TransferRunning);
    SetStatus(kVdkTextLoading);
    if (callbacks_.showProgressText)
        callbacks_.showProgressText();

    if (!ProgramPages(result))
        return false;
    SetStatus(kVdkTextVerify);
    if (!VerifyStretches(result))
        return false;

    if (!link_.Release())
        return LineLost(result, kVdkTextCantLoad);
    result = kVdkTextCompleted;
    link_.Close();
    return true;
}

bool CDisplayUnitProgrammer::ResetAndSynchronise(std::string& result)
{
    const bool synchronised = link_.ResetPulse() && link_.Synchronise();
    if (link_.LineFailed() || link_.Stopped())
        return LineLost(result, kVdkTextCantLoad);
    if (!synchronised)
        result = kVdkTextOutOfSync;
    return synchronised;
}

bool CDisplayUnitProgrammer::ProgramPages(std::string& result)
{
    for (uint32_t page = 0; page < kPageCount; ++page) {
        if (CancelledBetweenSteps(result))
            return false;
        if (!ProgramPage(page))
            return LineLost(result, kVdkTextCantLoad);
        Advance();
    }
    return true;
}

bool CDisplayUnitProgrammer::ProgramPage(uint32_t page)
{
    const uint32_t offset = page * kPageSize;
    for (uint32_t word = 0; word < kWordsPerPage; ++word) {
        if (!link_.SendCommand(LoadPageCommand(kLoadPageLow, word, image_[offset + 2 * word])) ||
            !link_.SendCommand(LoadPageCommand(kLoadPageHigh, word, image_[offset + 2 * word + 1])))
            return false;
    }
    // The pause begins once the unit has had the whole page, so it holds there.
    return link_.SendCommand(WritePageCommand(page)) && link_.Pause(link_.Waits().writePageMs);
}

bool CDisplayUnitProgrammer::VerifyStretches(std::string& result)
{
    for (uint32_t offset = 0; offset < kDisplayUnitImageSize; offset += kPageSize) {
        if (CancelledBetweenSteps(result) || !VerifyStretch(offset, result))
            return false;
        Advance();
    }
    return true;
}

// The stretch is read in one go; the bytes are then compared in address order, so the
// first wrong byte is the one reported, as if each had been compared on arrival, and a
// read that fails part-way still reports a wrong byte found before it.
bool CDisplayUnitProgrammer::VerifyStretch(uint32_t offset, std::string& result)
{
    std::array<uint8_t, kPageSize> values{};
    const size_t read = link_.ReadBytes(offset, values);
    for (uint32_t i = 0; i < read; ++i) {
        if (values[i] != image_[offset + i]) {
            result = WrongDataText(offset + i, values[i], image_[offset + i]);
            return false;
        }
    }
    if (read < kPageSize)
        return LineLost(result, kVdkTextReadError);
    return true;
}

// The port's own words come first, so the one fixed text of the step that failed is not
// all a technician sees of a pulled cable. A batch that Cancel ended is an abort.
bool CDisplayUnitProgrammer::LineLost(std::string& result, const char* stepText)
{
    if (link_.Stopped()) {
        result = kVdkTextAborted;
        return false;
    }
    SetStatus(link_.LastError());
    result = stepText;
    return false;
}

// Remembered, since the cancel event may reset itself when it is looked at.
bool CDisplayUnitProgrammer::CancelRequested()
{
    if (!cancelSeen_ && cancel_ != nullptr && cancel_->Test())
        cancelSeen_ = true;
    return cancelSeen_;
}

// The run owns the user-interface thread: let the window work, then look for Cancel.
bool CDisplayUnitProgrammer::CancelledBetweenSteps(std::string& result)
{
    MessagePump::DispatchPending();
    if (!CancelRequested())
        return false;
    result = kVdkTextAborted;
    return true;
}

void CDisplayUnitProgrammer::Advance()
{
    progress_ += kPageSize;
    if (callbacks_.progress)
        callbacks_.progress(progress_);
}

void CDisplayUnitProgrammer::SetStatus(const std::string& text)
{
    if (callbacks_.status)
        callbacks_.status(text);
}

}  // namespace kestrum
