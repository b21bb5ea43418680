// The command lines of kestrum, kestrum-cli and kestrum-sim, with any settings file beside
// them: every word list is either taken or refused with a reason, and what is taken is a
// configuration the programs can run with.

#include "app/c_settings_file.h"
#include "app/command_line_options.h"
#include "cli/cli_arguments.h"
#include "cli/cli_config.h"
#include "fuzz_input.h"
#include "sim/sim_command_line.h"

#include <algorithm>
#include <array>
#include <sys/mman.h>
#include <unistd.h>

using namespace kestrum;
using kestrum::fuzz::FuzzInput;

namespace {

constexpr std::array<uint32_t, 14> kRates = {600,   1200,  2400,  4800,   9600,   14400,  19200,
                                             28800, 38400, 57600, 115200, 153600, 230400, 460800};

// The settings text as a file the settings reader opens by path, kept in memory.
class SettingsText {
public:
    explicit SettingsText(const std::string& text) : fd_(memfd_create("kestrum-fuzz-ini", 0))
    {
        if (fd_ >= 0 && ::write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~SettingsText()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SettingsText(const SettingsText&) = delete;
    SettingsText& operator=(const SettingsText&) = delete;

    std::string Path() const { return fd_ >= 0 ? "/proc/self/fd/" + std::to_string(fd_) : ""; }

private:
    int fd_;
};

void CheckDesktopOptions(const std::vector<std::string>& words)
{
    const CommandLineOptions options = ParseCommandLine(words);
    FUZZ_CHECK(options.hasArguments == (words.size() > 1));
    FUZZ_CHECK(DeviceKindFromOption(options.device) >= -1 && DeviceKindFromOption(options.device) <= 2);
    FUZZ_CHECK(CaptureMethodFromOption(options.captureMethod) >= -1 && CaptureMethodFromOption(options.captureMethod) <= 2);
    if (!options.port.empty())
        FUZZ_CHECK(!PortNameFromOption(options.port).empty());
}

void CheckCliConfig(const std::vector<std::string>& words, const CSettingsFile& stored)
{
    const CliArguments parsed = ParseCliArguments(words);
    CliConfig config;
    std::string error;
    if (!ResolveCliConfig(parsed.options, stored, {"/dev/ttyS0", "/dev/ttyUSB0"}, config, error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    FUZZ_CHECK(std::find(kRates.begin(), kRates.end(), config.speed) != kRates.end());
    FUZZ_CHECK(config.handshake == 0 || config.handshake == 1);
    FUZZ_CHECK(config.deviceKind >= 0 && config.deviceKind <= 2);
    FUZZ_CHECK(config.captureMethod >= 0 && config.captureMethod <= 2);
    FUZZ_CHECK(config.softBreakVariant == 0 || config.softBreakVariant == 1);
    FUZZ_CHECK(!config.portName.empty());
}

void CheckSimCommandLine(const std::vector<std::string>& words)
{
    SimCommandLine line;
    std::string error;
    const bool taken = ParseSimCommandLine(std::vector<std::string>(words.begin() + 1, words.end()), line, error);
    FUZZ_CHECK(taken == error.empty());
    if (taken && !line.help && line.imageDirectory.empty())
        FUZZ_CHECK(MakeSimDevice(line) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const SettingsText settings(input.TextUntil('\x01'));
    std::vector<std::string> words{"program"};
    while (!input.Empty() && words.size() < 32)
        words.push_back(input.TextUntil('\0'));

    CheckDesktopOptions(words);
    const CSettingsFile stored(settings.Path());
    CheckCliConfig(words, stored);
    CheckSimCommandLine(words);
    return 0;
}
