#include "loader/c_boot_exchange.h"

#include <vector>

#include "loader/boot_protocol.h"
#include "loader/image_header.h"
#include "platform/tick_count.h"

namespace kestrum {

CBootExchange::CBootExchange(CLoadLine& line) : line_(line) {}

bool CBootExchange::ReadReply(uint8_t& byte)
{
    const CLoadLine::ReadResult got = line_.ReadByte(line_.Timing().replyTimeoutMs, byte);
    if (got == CLoadLine::ReadResult::Stopped)
        stopped_ = true;
    return got == CLoadLine::ReadResult::Byte;
}

void CBootExchange::Progress()
{
    if (line_.Request().progress)
        line_.Request().progress();
}

// The boot loader's three answers to the handshake carry no meaning for us; silence
// after the handshake is just as good.
bool CBootExchange::Handshake()
{
    CSerialPort& port = line_.Port();
    line_.DropDtr();
    for (int i = 0; i < 4; ++i) {
        if (port.WriteTimed(&boot::kHandshake, 1, line_.Timing().replyTimeoutMs) != 1)
            return false;
        line_.Pause(line_.Timing().handshakeGapMs);
    }
    line_.DropDtr();
    uint8_t ignored = 0;
    for (int i = 0; i < 3 && ReadReply(ignored); ++i) {
    }
    return !stopped_;
}

// The device identifier is the first byte that is not a 0x15. A line that sends nothing
// but 0x15 is given the reply time-out in all, not for ever.
bool CBootExchange::ReadDeviceId(uint8_t& id)
{
    const uint32_t start = GetTickCount();
    while (ReadReply(id)) {
        if (id != boot::kRequest)
            return true;
        if (GetTickCount() - start >= static_cast<uint32_t>(line_.Timing().replyTimeoutMs))
            return false;
    }
    return false;
}

// Returns the status text of a refusal, or null when the images fit.
const char* CBootExchange::CheckVerdict(CImageFile* flash, bool checkFlash, int ramDeviceId, bool checkRam,
                                        int deviceKind)
{
    uint8_t deviceId = 0, procedure = 0;
    if (!ReadDeviceId(deviceId) || !ReadReply(procedure))
        return "Get device version error";
    if (procedure > 0)
        return "Loading procedure was changed. Update your loader";
    if (checkRam && ramDeviceId >= 0 && !ImageFits(ImageKind::Ram, ramDeviceId, deviceId, deviceKind))
        return "Improper RAM file for this device";
    if (checkFlash) {
        int flashId = -1;
        if (flash != nullptr) {
            const long position = flash->Tell();
            flashId = ReadFlashIdentifier(*flash);
            flash->Seek(position < 0 ? 0 : position);
        }
        if (!ImageFits(ImageKind::Flash, flashId, deviceId, deviceKind))
            return "Improper Flash file for this device";
    }
    return nullptr;
}

// The verdict goes to the device on every path, so it never waits for one.
bool CBootExchange::VersionCheck(CImageFile* flash, bool checkFlash, int ramDeviceId, bool checkRam, int deviceKind)
{
    const char* refusal = CheckVerdict(flash, checkFlash, ramDeviceId, checkRam, deviceKind);
    if (refusal != nullptr)
        line_.SetStatus(refusal);
    const uint8_t verdict = refusal == nullptr ? boot::kProceed : boot::kDoNotProceed;
    if (line_.Port().WriteTimed(&verdict, 1, line_.Timing().replyTimeoutMs) != 1) {
        line_.SetStatus("Acknowledge error");
        return false;
    }
    return refusal == nullptr;
}

bool CBootExchange::SendRamData(CImageFile& image, uint32_t& checksum, bool& userAbort)
{
    std::vector<uint8_t> chunk(kRamChunk);
    bool more = true;
    while (more) {
        if (line_.Request().cancel->Test() || line_.Stopped()) {
            line_.SetStatus("RAM file loading aborted by User");
            userAbort = true;
            return false;
        }
        const size_t n = image.Read(chunk.data(), chunk.size());
        more = n == chunk.size();
        checksum = boot::RamChecksum(checksum, chunk.data(), n);
        if (line_.Port().Write(chunk.data(), static_cast<uint32_t>(n)) != n) {
            line_.NoteIfGone();
            line_.SetStatus(line_.Stopped() ? "RAM file loading aborted by User" : "Error in RAM file loading");
            userAbort = line_.Stopped();
            return false;
        }
        Progress();
    }
    if (!image.AtEnd() || image.ReadFailed()) {
        line_.SetStatus("Error in RAM file reading");
        return false;
    }
    return true;
}

// Four bytes, most significant first; a byte that will not go ends the sending, and the
// acknowledgement wait decides.
void CBootExchange::SendChecksum(uint32_t checksum)
{
    // The verdict may still be on its way when no image bytes followed it; let it go first.
    line_.Port().WaitQueue(line_.Timing().checksumWriteMs, true);
    line_.Port().PurgeOutput();
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<uint8_t>(checksum >> shift);
        if (line_.Port().WriteTimed(&byte, 1, line_.Timing().checksumWriteMs) != 1)
            return;
    }
}

bool CBootExchange::SendRamImage(CImageFile* image, bool& userAbort)
{
    line_.SetStatus("RAM file loading...");
    uint32_t checksum = 0;
    if (image != nullptr && !SendRamData(*image, checksum, userAbort))
        return false;
    Progress();
    SendChecksum(checksum);
    line_.SetStatus("RAM image sent");
    line_.SetStatus("Waiting for acknowledge");
    uint8_t reply = 0;
    if (ReadReply(reply) && reply == boot::kAcknowledge) {
        line_.SetStatus("RAM file loaded");
        return true;
    }
    userAbort = stopped_;
    line_.SetStatus(stopped_ ? "RAM file loading aborted by User" : "Error in RAM file loading");
    return false;
}

bool CBootExchange::WaitFinalAcknowledge(uint32_t finalAckFlag)
{
    if (finalAckFlag == 0)
        return true;
    uint8_t reply = 0;
    return ReadReply(reply) && reply == boot::kAcknowledge;
}

}  // namespace kestrum
