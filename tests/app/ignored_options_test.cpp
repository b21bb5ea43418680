#include "app/ignored_options.h"

#include <gtest/gtest.h>

using namespace kestrum;

namespace {

CommandLineOptions Options(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "kestrum");
    return ParseCommandLine(arguments);
}

OptionsInUse InUse()
{
    OptionsInUse used;
    used.port = "/dev/ttyS0";
    used.speed = "115200";
    return used;
}

}  // namespace

// Each value the window ignored is named once, with what the window uses instead.
TEST(IgnoredOptions, EachIgnoredValueIsNamedWithWhatIsUsed)
{
    OptionsInUse used = InUse();
    used.handshaking = 1;
    used.deviceKind = 1;
    used.captureMethod = 0;
    used.unofferedPort = "/nonexistent/tty";
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
}

TEST(IgnoredOptions, AppliedValuesAndAbsentOnesSayNothing)
{
    OptionsInUse used = InUse();
    used.speed = "9600";
    used.deviceKind = 2;
    used.captureMethod = 1;
    EXPECT_TRUE(IgnoredOptionNotes(Options({"-s", "9600", "-hs", "none", "-d", "vdk1-unit", "-c", "soft"}), used)
                    .empty());
    EXPECT_TRUE(IgnoredOptionNotes(Options({"-e"}), InUse()).empty());
    // Without arguments nothing was asked for, whatever the pages use.
    used.unofferedPort = "COM3";
    EXPECT_TRUE(IgnoredOptionNotes(CommandLineOptions{}, used).empty());
}

// With -a the refused automatic load names the port; a second line would only repeat it.
TEST(IgnoredOptions, AnUnofferedPortIsLeftToTheAutomaticLoad)
{
    OptionsInUse used = InUse();
    used.unofferedPort = "COM";
    EXPECT_EQ(IgnoredOptionNotes(Options({"-p", "", "-a"}), used), std::vector<std::string>{});
    EXPECT_EQ(IgnoredOptionNotes(Options({"-p", ""}), used),
              std::vector<std::string>{"-p COM is not a port this program offers: not a device path; using /dev/ttyS0"});
}
