#pragma once

#include "sim/device_model.h"
#include "sim/image_layout.h"
#include "sim/receiver_model.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrum {

// What kestrum-sim was asked to do.
struct SimCommandLine {
    enum class Device { Receiver, PowerBoard, Vdk1 };

    bool help = false;
    bool version = false;
    Device device = Device::Receiver;
    ReceiverConfig receiver;
    // Boot-loader answers for the device chosen, whatever the order of the options.
    std::optional<uint8_t> deviceId;
    std::optional<uint8_t> procedureVersion;
    std::optional<uint8_t> ramAck;
    LineFaults faults;
    bool paced = true;
    bool realTime = false;  // --realtime: serve at a real-time priority where permitted
    // --rfc2217 PORT: serve over TCP with COM-port control instead of on a pseudo-terminal
    // (port 0: any free one), on loopback unless another address is given.
    std::optional<uint16_t> rfc2217Port;
    std::string rfc2217Bind = "127.0.0.1";
    // --wire-log FILE: every byte both ways and every line change, with its time, as text.
    std::string wireLogPath;
    std::chrono::microseconds rfc2217Delay{0}; // added to every round trip
    bool rfc2217SilentAfterOpen = false;       // a server that hangs once a client has opened
    char vdkHardware = '2';
    std::string vdkFirmware = "01.00";

    // --write-images DIR: demo images instead of serving a device.
    std::string imageDirectory;
    RamImageSpec ramImage{true, 20, "", 4000};
    FlashImageSpec flashImage{20, "2.5 Dec,07,2026", 20000, true};
    RamImageSpec powerImage{true, 22, "1.8 Dec,07,2026", 6000};
};

// Reads the arguments after the program name. On a bad argument returns false with a
// message naming it.
bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine& line, std::string& error);

// Every option with its argument and meaning, one a line.
std::string SimHelpText();

// The model the command line describes.
std::shared_ptr<DeviceModel> MakeSimDevice(const SimCommandLine& line);

// Writes ramimage.ldr, main.ldp and powbrd.ldr into the image directory. On failure returns
// false with the reason; on success report lists the files written.
bool WriteDemoImages(const SimCommandLine& line, std::string& report);

}  // namespace kestrum
