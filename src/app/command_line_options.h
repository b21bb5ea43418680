#pragma once

#include <string>
#include <vector>

namespace kestrum {

// What the command line asked for, collected once at start-up. Texts are stored as
// given; the pages that own each setting decide whether a value means anything, and
// apply it only when hasArguments is true and the text is not empty.
struct CommandLineOptions {
    bool hasArguments = false;
    bool helpRequested = false;  // a help word as the first argument
    std::string port;            // -p
    std::string speed;           // -s
    std::string handshaking;     // -hs
    std::string flashFile;       // -f
    std::string ramFile;         // -r
    std::string device;          // -d
    std::string captureMethod;   // -c
    bool exitAfterLoad = false;  // -e
    bool autoLoad = false;       // -a
};

// Parses the argument vector; its first entry (the program) is not examined. An
// option's value is the next argument, which is then examined again in its own right,
// so "-r -a" names the RAM file "-a" and also sets autoLoad. Matching is exact and
// case-sensitive; unknown arguments and a value option standing last are ignored.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments);
CommandLineOptions ParseCommandLine(int argc, const char* const* argv);

// The device kind "-d value" chooses by how the value begins: "rec" 0 (receiver), "pbr" 1
// (power board), "vdk1" 2; -1 for anything else. Case-sensitive.
int DeviceKindFromOption(const std::string& value);
// The capture method "-c value" names: "pwr" 0, "soft" 1, "hard" 2; -1 for anything else.
int CaptureMethodFromOption(const std::string& value);

// The port name that "-p value" stands for: a device path ("/...") or a URL ("...://...")
// as written, the bare name of a character device under /dev as that device ("ttyUSB0"),
// anything else with "COM" in front unless it already begins with "COM", so "-p 2" means
// COM2 as on the program's first platform.
std::string PortNameFromOption(const std::string& value);

// The help text that the help dialog shows, with tabs and "\r\n" line ends.
std::string CommandLineHelpText();

}  // namespace kestrum
