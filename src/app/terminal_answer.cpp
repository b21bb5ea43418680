#include "app/terminal_answer.h"

#include <algorithm>
#include <cstdlib>

#include "app/command_line_options.h"
#include "app/program_identity.h"

namespace kestrum {

namespace {

constexpr size_t kDescriptionColumn = 18;

bool EnvironmentSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// The help text's lines, without their CR LF ends.
std::vector<std::string> HelpLines()
{
    std::vector<std::string> lines;
    const std::string help = CommandLineHelpText();
    for (size_t start = 0; start < help.size();) {
        size_t end = help.find("\r\n", start);
        if (end == std::string::npos)
            end = help.size();
        lines.push_back(help.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::string SingleSpaced(const std::string& text)
{
    std::string spaced;
    for (const char c : text)
        if (c != ' ' || spaced.empty() || spaced.back() != ' ')
            spaced += c;
    return spaced;
}

// An option line of the help text: the option and its value word up to the tab (or, for a
// line without one, the first two words), then what it means.
std::string OptionLine(const std::string& line)
{
    size_t split = line.find('\t');
    if (split == std::string::npos) {
        const size_t afterOption = line.find_first_not_of(' ', line.find(' '));
        split = afterOption == std::string::npos ? line.size() : line.find(' ', afterOption);
        split = split == std::string::npos ? line.size() : split;
    }
    std::string option = "  " + SingleSpaced(line.substr(0, split));
    option.resize(std::max<size_t>(option.size() + 2, kDescriptionColumn), ' ');
    return option + Trimmed(line.substr(split)) + "\n";
}

} // namespace

// The help dialog's text, laid out in columns of spaces as terminals and help2man read
// options; the words are the dialog's own.
std::string TerminalHelpText()
{
    std::string text = "Usage: kestrum [options]\n\n";
    for (const std::string& line : HelpLines()) {
        if (line.starts_with("-"))
            text += OptionLine(line);
        else if (line.starts_with("\t   "))
            text += std::string(kDescriptionColumn, ' ') + Trimmed(line) + "\n";
        else
            text += Trimmed(line) + "\n";
    }
    return text;
}

TerminalAnswer AnswerOnTerminal(const std::vector<std::string>& arguments, bool displayAvailable)
{
    TerminalAnswer answer;
    const std::string first = arguments.size() > 1 ? arguments[1] : "";
    if (first == "--version") {
        answer.answered = true;
        answer.out = std::string("kestrum ") + kVersionText + "\n";
    } else if (first == "--help" || (!displayAvailable && ParseCommandLine(arguments).helpRequested)) {
        answer.answered = true;
        answer.out = TerminalHelpText();
    } else if (!displayAvailable) {
        answer.answered = true;
        answer.status = 1;
        answer.err =
            "kestrum: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
            "kestrum-cli loads without one\n";
    }
    return answer;
}

bool DisplayAvailable(const std::vector<std::string>& arguments)
{
    return EnvironmentSet("QT_QPA_PLATFORM") || EnvironmentSet("DISPLAY") ||
           EnvironmentSet("WAYLAND_DISPLAY") ||
           std::find(arguments.begin(), arguments.end(), "-platform") != arguments.end();
}

} // namespace kestrum
