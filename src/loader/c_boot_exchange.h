#pragma once

#include <cstdint>

#include "loader/c_image_file.h"
#include "loader/c_load_line.h"

namespace kestrum {

// The program's side of the boot loader's byte protocol after capture: handshake,
// version check with its verdict, the RAM image with its checksum, and the final
// acknowledgement that ends a load.
class CBootExchange {
public:
    static constexpr size_t kRamChunk = 1024;

    explicit CBootExchange(CLoadLine& line);

    bool Handshake();
    // ramDeviceId < 0: the RAM image fits any device. flash may be null.
    bool VersionCheck(CImageFile* flash, bool checkFlash, int ramDeviceId, bool checkRam, int deviceKind);
    // image may be null: no data bytes, checksum 0.
    bool SendRamImage(CImageFile* image, bool& userAbort);
    bool WaitFinalAcknowledge(uint32_t finalAckFlag);

    // Set when a stop request ended a wait; the caller reports a user abort.
    bool StoppedByUser() const { return stopped_; }

private:
    // A wait of the reply time-out; no byte (or a stop) gives false.
    bool ReadReply(uint8_t& byte);
    bool ReadDeviceId(uint8_t& id);
    const char* CheckVerdict(CImageFile* flash, bool checkFlash, int ramDeviceId, bool checkRam, int deviceKind);
    bool SendRamData(CImageFile& image, uint32_t& checksum, bool& userAbort);
    void SendChecksum(uint32_t checksum);
    void Progress();

    CLoadLine& line_;
    bool stopped_ = false;
};

}  // namespace kestrum
