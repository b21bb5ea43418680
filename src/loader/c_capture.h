#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "loader/c_load_line.h"

namespace kestrum {

// Stops the device in its boot loader: restarts it by the capture method while a steady
// stream of 0x55 goes out, and watches for the boot loader's 0x15. The same restart
// means serve as the reset step that ends a load.
class CCapture {
public:
    static constexpr size_t kFillBlockSize = 1024;
    static constexpr const char* kResetCommand = "##\n##\nset,reset,yes\n";
    static constexpr const char* kSleepCommand = "##\n##\nset,sleep,on\n";

    CCapture(CLoadLine& line, const std::string& resetCommand);

    // true when the device announced itself; on a cancel, userAbort is set.
    bool Capture(int method, uint32_t baudRate, bool& userAbort);
    bool ResetStep(int method, uint32_t baudRate);

private:
    bool Cancelled();
    bool Fail(const char* text);
    void HardwareResetPulse();
    void HidePrompt();

    CLoadLine& line_;
    std::string resetCommand_;
    std::vector<uint8_t> fill_;
};

}  // namespace kestrum
