#pragma once

#include <string>

namespace kestrum {

// The single result of a load.
enum LoadResult {
    LOAD_OK = 0,
    LOAD_GENERIC_ERROR = 1,
    LOAD_ABORTED = 2,
    LOAD_CANT_CAPTURE = 3,
    LOAD_HANDSHAKE_ERROR = 4,
    LOAD_VERSION_ERROR = 5,
    LOAD_RAM_ERROR = 6,
    LOAD_FLASH_ERROR = 7,
    LOAD_BAUD_RATE_ERROR = 8,
    LOAD_FILE_ERROR = 9,
};

// Writes the fixed text of a result code into text; a code outside 0..9 leaves text as
// it was and returns false.
bool GetLoadResultText(int code, std::string& text);

}  // namespace kestrum
