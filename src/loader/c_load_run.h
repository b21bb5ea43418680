#pragma once

#include <memory>

#include "link/c_serial_port.h"
#include "link/c_status_channel.h"
#include "loader/c_image_file.h"
#include "loader/image_header.h"
#include "loader/load_request.h"

namespace kestrum {

class CLoadLine;

// One receiver or power-board load on the worker thread: opens its own port and the
// images, captures the device, runs the boot-loader exchange, sends the RAM and Flash
// images and resets the device. Returns one result code; the port, the image files and
// the run's status channel are released on every path.
class CLoadRun {
public:
    CLoadRun(LoadRequest& request, const SerialPortTiming& portTiming = SerialPortTiming{});
    ~CLoadRun();
    CLoadRun(const CLoadRun&) = delete;
    CLoadRun& operator=(const CLoadRun&) = delete;

    int Run();

private:
    int OpenPort();
    int OpenImages();
    void NoteImage(const CImageFile& image);
    int ResetOnly(CLoadLine& line);
    int Load(CLoadLine& line);
    int SendImages(CLoadLine& line);
    int SendFlash(CLoadLine& line);
    int Aborted();
    // A failure turns into a user abort when a stop request caused it.
    int Failed(int code);
    void SetFlowControl();
    void PostStage(int stage, bool on);

    LoadRequest& request_;
    const SerialPortTiming portTiming_;
    CStatusChannel status_;
    std::unique_ptr<CSerialPort> port_;
    CImageFile ram_;
    CImageFile flash_;
    RamHeader ramHeader_;
};

// The worker thread's body: marks the request running, runs the load when a port is
// named, stores the result and marks it done.
void RunLoadWorker(const std::shared_ptr<LoadRequest>& request,
                   const SerialPortTiming& portTiming = SerialPortTiming{});

}  // namespace kestrum
