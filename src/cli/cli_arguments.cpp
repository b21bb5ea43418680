#include "cli/cli_arguments.h"

#include <algorithm>
#include <set>

#include "platform/platform_texts.h"
#include "platform/system_ports.h"

namespace kestrum {

namespace {

const std::set<std::string> kValueOptions = {"-p", "-s", "-hs",     "-d",
                                             "-r", "-f", "-c",      "--trace", "--vdk-lines"};
constexpr const char* kTraceOption = "--trace";
constexpr const char* kVdkLinesOption = "--vdk-lines";

// Takes every "--trace FILE" out of the option words (a value of another option is no
// option); one standing last stays, for FindUnknownWord to report.
void TakeTraceOption(std::vector<std::string>& words, std::string& traceFile)
{
    for (size_t i = 0; i + 1 < words.size();) {
        if (words[i] == kTraceOption) {
            traceFile = words[i + 1];
            words.erase(words.begin() + static_cast<long>(i), words.begin() + static_cast<long>(i) + 2);
        } else {
            i += kValueOptions.count(words[i]) ? 2 : 1;
        }
    }
}

// Anything the program's parser would silently skip is a mistake in a script: say so.
std::string FindUnknownWord(const std::vector<std::string>& words)
{
    for (size_t i = 0; i < words.size(); ++i) {
        if (kValueOptions.count(words[i])) {
            if (i + 1 == words.size())
                return "option " + words[i] + " needs a value";
            ++i;
            continue;
        }
        if (words[i] != "--json")
            return "unknown argument \"" + words[i] + "\"";
    }
    return {};
}

// Every -p value in order; a value may list several ports, separated by commas.
std::vector<std::string> PortWords(const std::vector<std::string>& words, std::string& error)
{
    std::vector<std::string> ports;
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] != "-p")
            continue;
        const std::string& value = words[++i];
        for (size_t start = 0;;) {
            const size_t comma = value.find(',', start);
            const std::string port = value.substr(start, comma == std::string::npos ? comma : comma - start);
            if (port.empty()) {
                // An unset variable in a script must not mean the stored port.
                error =
                    value.empty() ? "option -p needs a port name" : "empty port name in \"" + value + "\"";
                return {};
            }
            ports.push_back(port);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    return ports;
}

// The last --vdk-lines given; a word it does not know is a mistake.
std::optional<VdkLines> VdkLinesWord(const std::vector<std::string>& words, std::string& error)
{
    std::optional<VdkLines> chosen;
    for (size_t i = 0; i + 1 < words.size(); i += kValueOptions.count(words[i]) ? 2 : 1) {
        VdkLines lines = VdkLines::Auto;
        if (words[i] != kVdkLinesOption)
            continue;
        if (!ParseVdkLines(words[i + 1], lines)) {
            error = "--vdk-lines must be auto, bitbang or control, not " + words[i + 1];
            return {};
        }
        chosen = lines;
    }
    return chosen;
}

CliArguments::Command CommandOf(const std::string& word)
{
    if (word == "load")
        return CliArguments::Command::Load;
    if (word == "info")
        return CliArguments::Command::Info;
    if (word == "ports")
        return CliArguments::Command::Ports;
    if (word == "help" || word == "-h" || word == "--help")
        return CliArguments::Command::Help;
    if (word == "--version")
        return CliArguments::Command::Version;
    return CliArguments::Command::None;
}

}  // namespace

CliArguments ParseCliArguments(const std::vector<std::string>& arguments)
{
    CliArguments parsed;
    // Known before anything else, so that even a mistake in the words is told as JSON.
    parsed.json = std::find(arguments.begin() + std::min<size_t>(1, arguments.size()), arguments.end(),
                            "--json") != arguments.end();
    // The trace may be asked for before the command, as a program-wide option.
    size_t first = 1;
    while (first + 1 < arguments.size() && arguments[first] == kTraceOption) {
        parsed.traceFile = arguments[first + 1];
        first += 2;
    }
    if (arguments.size() <= first) {
        parsed.error =
            first > 1 || arguments.size() < 2 ? "no command given" : "option --trace needs a value";
        return parsed;
    }
    parsed.command = CommandOf(arguments[first]);
    if (parsed.command == CliArguments::Command::None) {
        parsed.error = arguments[first] == kTraceOption ? "option --trace needs a value"
                                                        : "unknown command \"" + arguments[first] + "\"";
        return parsed;
    }
    // The option words, with the program name in front as the program's parser expects.
    std::vector<std::string> words(arguments.begin() + static_cast<long>(first) + 1, arguments.end());
    TakeTraceOption(words, parsed.traceFile);
    parsed.error = FindUnknownWord(words);
    if (parsed.error.empty())
        parsed.ports = PortWords(words, parsed.error);
    if (parsed.error.empty())
        parsed.vdkLines = VdkLinesWord(words, parsed.error);
    if (parsed.error.empty() && parsed.ports.size() > 1 && parsed.command != CliArguments::Command::Load)
        parsed.error = "only load works on several ports";
    words.insert(words.begin(), arguments[0]);
    parsed.options = ParseCommandLine(words);
    parsed.options.port = parsed.ports.empty() ? "" : PortNameFromOption(parsed.ports.front());
    return parsed;
}

std::string CliUsageText()
{
    return std::string("Usage: kestrum-cli [--trace FILE] COMMAND [options]\n") +
           "\n"
           "Commands:\n"
           "  load    load firmware into the device (-d rec, pbr or vdk1); into the devices on several\n"
           "          ports at once when -p names several (add --json for a JSON summary)\n"
           "  info    read the device's information (add --json for JSON)\n"
           "  ports   list " + kPortListing + " (add --json for JSON)\n"
           "  help    show this text (also -h, --help); --version shows the version\n"
           "\n"
           "Options (omitted ones come from kestrum.ini when present, which is never written):\n"
           + std::string(kCliPortOptionHelp) +
           "  -s speed    port speed (600..460800); default: 115200\n"
           "  -hs mode    handshaking mode (none, rts); default: none\n"
           "  -d device   type of device (rec, pbr, vdk1); default: rec\n"
           "  -r name     RAM image file; default: ramimage.ldr (receiver), powbrd.ldr (power board)\n"
           "  -f name     Flash image file; default: main.ldp (receiver)\n"
           "  -c method   capture method (pwr, soft, hard); default: pwr\n"
           "  --trace FILE  write every byte in and out of the line, with its time, to FILE\n"
           "                (also KESTRUM_TRACE=FILE)\n"
           "  --vdk-lines how  how a VDK-1 run reaches the unit (auto, bitbang, control); default:\n"
           "                auto, the bit-bang mode of an FTDI adapter where it has one\n"
           "\n"
           "Exit status of load: 0 when loading completed (on every port), else the loader's result\n"
           "code (1..9); with several ports, that of the first port named whose load did not complete.\n"
           "64 for a mistake in the command line.\n"
           "Ctrl-C cancels.\n";
}

}  // namespace kestrum
