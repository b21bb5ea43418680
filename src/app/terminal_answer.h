#pragma once

#include <string>
#include <vector>

namespace kestrum {

// What the desktop program says on the terminal instead of opening a window: its
// command-line help for --help, its version for --version (either as the first
// argument, as help2man and other tools ask), the help also for a help word when there is
// no display for the help dialog, and why it cannot run at all without a display.
struct TerminalAnswer {
    bool answered = false; // the program ends with status, no window comes
    int status = 0;
    std::string out; // for stdout
    std::string err; // for stderr
};

// arguments[0] is the program.
TerminalAnswer AnswerOnTerminal(const std::vector<std::string>& arguments, bool displayAvailable);

// Whether Qt will find a screen: a platform chosen by QT_QPA_PLATFORM or -platform, or an
// X11 or Wayland display named in the environment.
bool DisplayAvailable(const std::vector<std::string>& arguments);

// The command-line help as a terminal shows it: a usage line, then the help dialog's text.
std::string TerminalHelpText();

} // namespace kestrum
