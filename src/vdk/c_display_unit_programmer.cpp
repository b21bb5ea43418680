#include "vdk/c_display_unit_programmer.h"

#include <cstdio>

#include "platform/message_pump.h"
#include "platform/tick_count.h"
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
}

bool CDisplayUnitProgrammer::Program(std::string& result)
{
    if (!ResetAndSynchronise(result))
        return false;
    if (!link_.SendCommand(kChipErase))
        return LineLost(result, kVdkTextCantLoad);
    SleepMs(link_.Waits().chipEraseMs);
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
    if (link_.LineFailed())
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
    if (!link_.SendCommand(WritePageCommand(page)))
        return false;
    SleepMs(link_.Waits().writePageMs);
    return true;
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

bool CDisplayUnitProgrammer::VerifyStretch(uint32_t offset, std::string& result)
{
    for (uint32_t address = offset; address < offset + kPageSize; ++address) {
        uint8_t value = 0;
        if (!link_.ReadByte(address, value))
            return LineLost(result, kVdkTextReadError);
        if (value != image_[address]) {
            result = WrongDataText(address, value, image_[address]);
            return false;
        }
    }
    return true;
}

// The port's own words come first, so the one fixed text of the step that failed is not
// all a technician sees of a pulled cable.
bool CDisplayUnitProgrammer::LineLost(std::string& result, const char* stepText)
{
    SetStatus(link_.LastError());
    result = stepText;
    return false;
}

// The run owns the user-interface thread: let the window work, then look for Cancel.
bool CDisplayUnitProgrammer::CancelledBetweenSteps(std::string& result)
{
    MessagePump::DispatchPending();
    if (cancel_ == nullptr || !cancel_->Test())
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
