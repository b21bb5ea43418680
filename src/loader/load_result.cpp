#include "loader/load_result.h"

#include <array>

namespace kestrum {

bool GetLoadResultText(int code, std::string& text)
{
    static constexpr std::array<const char*, 10> kTexts = {
        "OK",
        "Generic error",
        "Loading aborted by User",
        "Can't capture receiver",
        "Handshaking error",
        "Error version checking",
        "Error in RAM file loading",
        "Error in Flash file loading",
        "Eror setting baud rate",
        "Error opening file",
    };
    if (code < 0 || code >= static_cast<int>(kTexts.size()))
        return false;
    text = kTexts[static_cast<size_t>(code)];
    return true;
}

}  // namespace kestrum
