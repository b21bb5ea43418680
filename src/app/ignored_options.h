#pragma once

#include <string>
#include <vector>

#include "app/command_line_options.h"

namespace kestrum {

// What the window uses once it has applied the command line: the pages fall back without
// a word on values they do not recognise, and the program names each of them on stderr.
struct OptionsInUse {
    std::string unofferedPort;  // a -p the port list does not offer; empty otherwise
    std::string port;           // the port selected instead
    std::string speed;          // the rate selected, as the list writes it
    int handshaking = 0;        // 0 none, 1 RTS/CTS, 2 XON/XOFF
    int deviceKind = 0;         // 0 receiver, 1 power board, 2 VDK-1
    int captureMethod = 0;      // of that kind: 0 pwr, 1 soft, 2 hard
};

// One line per -p, -s, -hs, -d or -c value that was not applied, naming the value and what
// is used instead: "-s 12345 is not a rate this program offers; using 115200". A -p with -a
// is left out: the automatic load says it when it refuses to start.
std::vector<std::string> IgnoredOptionNotes(const CommandLineOptions& options, const OptionsInUse& used);

}  // namespace kestrum
