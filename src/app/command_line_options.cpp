#include "app/command_line_options.h"

#include <array>
#include <string_view>

#include "platform/system_ports.h"

#include "platform/platform_texts.h"

namespace kestrum {

namespace {

bool IsHelpWord(const std::string& argument)
{
    static constexpr std::array<std::string_view, 9> kHelpWords = {
        "h", "-h", "/h", "?", "-?", "/?", "help", "-help", "/help"};
    for (const auto word : kHelpWords) {
        if (argument == word) {
            return true;
        }
    }
    return false;
}

// The field an option with a value fills, or nullptr for any other argument.
std::string* ValueField(CommandLineOptions& options, const std::string& argument)
{
    struct ValueOption {
        std::string_view name;
        std::string CommandLineOptions::*field;
    };
    static constexpr std::array<ValueOption, 7> kValueOptions = {{
        {"-p", &CommandLineOptions::port},
        {"-s", &CommandLineOptions::speed},
        {"-hs", &CommandLineOptions::handshaking},
        {"-f", &CommandLineOptions::flashFile},
        {"-r", &CommandLineOptions::ramFile},
        {"-d", &CommandLineOptions::device},
        {"-c", &CommandLineOptions::captureMethod},
    }};
    for (const auto& option : kValueOptions) {
        if (argument == option.name) {
            return &(options.*option.field);
        }
    }
    return nullptr;
}

}  // namespace

int DeviceKindFromOption(const std::string& value)
{
    if (value.starts_with("rec"))
        return 0;
    if (value.starts_with("pbr"))
        return 1;
    if (value.starts_with("vdk1"))
        return 2;
    return -1;
}

int CaptureMethodFromOption(const std::string& value)
{
    if (value == "pwr")
        return 0;
    if (value == "soft")
        return 1;
    if (value == "hard")
        return 2;
    return -1;
}

// "COM" and a network port's URL stand as written; so does a name in the system's own
// way (a device path); any other value gets "COM" in front, so 2 means COM2.
std::string PortNameFromOption(const std::string& value)
{
    if (value.starts_with("COM") || value.find("://") != std::string::npos)
        return value;
    const std::string local = LocalPortFromOption(value);
    return local.empty() ? "COM" + value : local;
}

CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLineOptions options;
    if (arguments.size() < 2) {
        return options;
    }
    options.hasArguments = true;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (i == 1 && IsHelpWord(argument)) {
            options.helpRequested = true;
        } else if (argument == "-e") {
            options.exitAfterLoad = true;
        } else if (argument == "-a") {
            options.autoLoad = true;
        } else if (std::string* field = ValueField(options, argument); field && i + 1 < arguments.size()) {
            // The value is only peeked at: the next step examines it again.
            *field = field == &options.port ? PortNameFromOption(arguments[i + 1]) : arguments[i + 1];
        }
    }
    return options;
}

CommandLineOptions ParseCommandLine(int argc, const char* const* argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc && argv && argv[i]; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return ParseCommandLine(arguments);
}

std::string CommandLineHelpText()
{
    // The lines for -p say how this platform names its ports.
    static constexpr std::array<std::string_view, 15> kPieces = {
        "\t Command line options:\r\n\r\n",
        "-h\t   get this help screen.\r\n",
        kPortOptionHelp,
        "-s  speed\t   port speed (600..460800); default: 115200.\r\n",
        "-hs  mode\t   handshaking mode (none, rts); default: none.\r\n\r\n",
        "-d  device\t   type of device (rec, pbr, vdk1); default: rec.\r\n",
        "-r  name\t   RAM image file name;   default:\r\n",
        "\t   ramimage.ldr (for Receiver), powbrd.ldr (for Powerboard).\r\n",
        "-f  name\t   FLASH image file name; default: main.ldp (for Receiver).\r\n",
        "-c  method  capture method (pwr, soft); default: pwr.\r\n",
        "-e\t   exit program after successful firmware loading.\r\n",
        "-a\t   automatic firmware loading.\r\n",
        "\r\n",
        "The values of omitted command line options will be taken from INI file\r\n",
        "(if present) or equal to default values.\r\n",
    };
    std::string text;
    for (const auto piece : kPieces) {
        text += piece;
    }
    return text;
}

}  // namespace kestrum
