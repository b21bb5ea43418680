#include "loader/flash_stage.h"

#include "loader/boot_protocol.h"

namespace kestrum {

namespace {

void Progress(CLoadLine& line)
{
    if (line.Request().progress)
        line.Request().progress();
}

}  // namespace

bool SendFlashImage(CLoadLine& line, CImageFile& image, BlockSender& sender, bool& userAbort)
{
    line.SetStatus("Flash file loading...");
    uint8_t piece[boot::kBlockLength];
    while (!image.AtEnd()) {
        if (line.Request().cancel->Test() || line.Stopped()) {
            line.SetStatus("Flash file loading aborted by User");
            userAbort = true;
            return false;
        }
        const size_t n = image.Read(piece, sizeof piece);
        // A read error is not the end of the file: stop rather than send a short image.
        if (n == 0 && image.ReadFailed()) {
            line.SetStatus("Error in Flash file reading");
            return false;
        }
        if (n == 0)
            continue;
        if (sender.Write(piece, n) < 0) {
            userAbort = line.Stopped();
            line.SetStatus(userAbort ? "Flash file loading aborted by User" : "Error in Flash file loading");
            return false;
        }
        Progress(line);
    }
    Progress(line);
    line.SetStatus("Flash file loaded");
    return true;
}

}  // namespace kestrum
