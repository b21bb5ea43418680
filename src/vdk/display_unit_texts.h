#pragma once

namespace kestrum {

// The texts of a VDK-1 programming run, exactly as the user sees them.
inline constexpr const char* kVdkTextOutOfSync = "The communication is out of synchronization";
inline constexpr const char* kVdkTextErased = "Chip has been erased";
inline constexpr const char* kVdkTextLoading = "Loading...";
inline constexpr const char* kVdkTextVerify = "Verify Program in Flash";
inline constexpr const char* kVdkTextAborted = "Flash file loading aborted by User";
inline constexpr const char* kVdkTextReadError = "Error in SPI reading";
inline constexpr const char* kVdkTextWrongData = "Wrong data at address %08lx/ %02x instead of %02x\r\n";
inline constexpr const char* kVdkTextCompleted = "Loading completed";
inline constexpr const char* kVdkTextCantLoad = "Can't load firmware to VDK-1";
inline constexpr const char* kVdkTextPortError = "Error in Port opening";

}  // namespace kestrum
