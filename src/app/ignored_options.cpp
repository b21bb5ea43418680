#include "app/ignored_options.h"

#include <array>

#include "app/port_list.h"

namespace kestrum {

namespace {

const std::array<const char*, 3> kHandshakingWords = {"none", "rts", "xonxoff"};
const std::array<const char*, 3> kDeviceWords = {"rec", "pbr", "vdk1"};
const std::array<const char*, 3> kCaptureWords = {"pwr", "soft", "hard"};

template <size_t N>
std::string WordOf(const std::array<const char*, N>& words, int index)
{
    return index >= 0 && index < static_cast<int>(N) ? words[static_cast<size_t>(index)] : "?";
}

std::string Note(const char* option, const std::string& value, const char* what, const std::string& used)
{
    return std::string(option) + " " + value + " is not " + what + " this program offers; using " + used;
}

}  // namespace

std::vector<std::string> IgnoredOptionNotes(const CommandLineOptions& options, const OptionsInUse& used)
{
    std::vector<std::string> notes;
    if (!options.hasArguments)
        return notes;
    if (!used.unofferedPort.empty() && !options.autoLoad) {
        const std::string reason = PortUnavailableReason(used.unofferedPort);
        notes.push_back("-p " + used.unofferedPort + " is not a port this program offers" +
                        (reason.empty() ? "" : ": " + reason) + "; using " + used.port);
    }
    if (!options.speed.empty() && options.speed != used.speed)
        notes.push_back(Note("-s", options.speed, "a rate", used.speed));
    if (!options.handshaking.empty() && options.handshaking != "none" && options.handshaking != "rts")
        notes.push_back(
            Note("-hs", options.handshaking, "a handshaking mode", WordOf(kHandshakingWords, used.handshaking)));
    if (!options.device.empty() && DeviceKindFromOption(options.device) < 0)
        notes.push_back(Note("-d", options.device, "a device type", WordOf(kDeviceWords, used.deviceKind)));
    const std::string& method = options.captureMethod;
    if (!method.empty() && CaptureMethodFromOption(method) != used.captureMethod)
        notes.push_back(Note("-c", method, "a capture method", WordOf(kCaptureWords, used.captureMethod)));
    return notes;
}

}  // namespace kestrum
