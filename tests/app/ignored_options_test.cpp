#include "app/ignored_options.h"

#include <gtest/gtest.h>

using namespace kestrum;

namespace {

CommandLineOptions Options(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "kestrum");
    return ParseCommandLine(arguments);
}

}  // namespace

// Each value the window ignored is named once, with what is used instead; applied values,
// and a -p that the refused automatic load names itself, say nothing.
TEST(IgnoredOptions, EachIgnoredValueIsNamedWithWhatIsUsed)
{
    const OptionsInUse used{"/nonexistent/tty", "/dev/ttyS0", "115200", 1, 1, 0};
    const std::vector<std::string> expected = {
        "-p /nonexistent/tty is not a port this program offers: No such file or directory; using /dev/ttyS0",
        "-s 12345 is not a rate this program offers; using 115200",
        "-hs RTS is not a handshaking mode this program offers; using rts",
        "-d REC is not a device type this program offers; using pbr",
        "-c hard is not a capture method this program offers; using pwr",
    };
    EXPECT_EQ(IgnoredOptionNotes(Options({"-p", "/nonexistent/tty", "-s", "12345", "-hs", "RTS", "-d", "REC", "-c",
                                          "hard"}),
                                 used),
              expected);
    EXPECT_EQ(IgnoredOptionNotes(Options({"-p", "/nonexistent/tty", "-a"}), used), std::vector<std::string>{});
    const OptionsInUse applied{"", "/dev/ttyS0", "9600", 0, 2, 1};
    EXPECT_EQ(IgnoredOptionNotes(Options({"-s", "9600", "-hs", "none", "-d", "vdk1-unit", "-c", "soft"}), applied),
              std::vector<std::string>{});
}
