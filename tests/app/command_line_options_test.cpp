#include "app/command_line_options.h"
#include "app/ignored_options.h"
#include "platform/platform_texts.h"
#include "platform/system_ports.h"

#include <gtest/gtest.h>

using namespace kestrum;

namespace {

CommandLineOptions Parse(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "kestrum");
    return ParseCommandLine(arguments);
}

}  // namespace

TEST(CommandLine, NoArgumentsSetNothing)
{
    const CommandLineOptions options = Parse({});
    EXPECT_FALSE(options.hasArguments);
    EXPECT_FALSE(options.helpRequested);
    EXPECT_FALSE(options.autoLoad);
    EXPECT_TRUE(options.port.empty());
    EXPECT_FALSE(ParseCommandLine(std::vector<std::string>{}).hasArguments);
}

TEST(CommandLine, EveryHelpWordCountsOnlyInFirstPosition)
{
    for (const char* word : {"h", "-h", "/h", "?", "-?", "/?", "help", "-help", "/help"}) {
        const CommandLineOptions first = Parse({word, "-e"});
        EXPECT_TRUE(first.helpRequested) << word;
        EXPECT_TRUE(first.exitAfterLoad) << "the scan goes on after " << word;

        const CommandLineOptions later = Parse({"-a", word});
        EXPECT_FALSE(later.helpRequested) << word;
        EXPECT_TRUE(later.autoLoad);
    }
    for (const char* notHelp : {"-H", "HELP", "--help", "-help ", "h?"}) {
        EXPECT_FALSE(Parse({notHelp}).helpRequested) << notHelp;
        EXPECT_TRUE(Parse({notHelp}).hasArguments);
    }
}

TEST(CommandLine, ValueOptionsStoreTheNextArgumentUnchanged)
{
    const CommandLineOptions options = Parse({"-s", "57600", "-hs", "rts", "-f", "main.ldp", "-r", "Ram File.ldr",
                                              "-d", "vdk1x", "-c", "Soft", "-e", "-a"});
    EXPECT_TRUE(options.hasArguments);
    EXPECT_EQ(options.speed, "57600");
    EXPECT_EQ(options.handshaking, "rts");
    EXPECT_EQ(options.flashFile, "main.ldp");
    EXPECT_EQ(options.ramFile, "Ram File.ldr");
    EXPECT_EQ(options.device, "vdk1x");
    EXPECT_EQ(options.captureMethod, "Soft");
    EXPECT_TRUE(options.exitAfterLoad);
    EXPECT_TRUE(options.autoLoad);
    EXPECT_TRUE(options.port.empty());
}

TEST(CommandLine, AValueIsExaminedAgainInItsOwnRight)
{
    const CommandLineOptions ramThenAuto = Parse({"-r", "-a"});
    EXPECT_EQ(ramThenAuto.ramFile, "-a");
    EXPECT_TRUE(ramThenAuto.autoLoad);

    // "-s" takes "-f" as its value, then "-f" takes "x.ldp".
    const CommandLineOptions chained = Parse({"-s", "-f", "x.ldp"});
    EXPECT_EQ(chained.speed, "-f");
    EXPECT_EQ(chained.flashFile, "x.ldp");

    const CommandLineOptions later = Parse({"-s", "9600", "-s", "19200"});
    EXPECT_EQ(later.speed, "19200");

    // An option standing last has no value, so no effect.
    EXPECT_TRUE(Parse({"-s"}).speed.empty());
    EXPECT_EQ(Parse({"-p", "3", "-p"}).port, "COM3");
}

TEST(CommandLine, MatchingIsExactAndCaseSensitive)
{
    const CommandLineOptions options = Parse({"-P", "3", "-S", "9600", "-A", "-E", "--a", "-a1", "x", "-s9600"});
    EXPECT_TRUE(options.hasArguments);
    EXPECT_TRUE(options.port.empty());
    EXPECT_TRUE(options.speed.empty());
    EXPECT_FALSE(options.autoLoad);
    EXPECT_FALSE(options.exitAfterLoad);
}

TEST(CommandLine, PortValuesGetTheComPrefixUnlessPathsUrlsOrDevices)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"3", "COM3"},
        {"COM3", "COM3"},
        {"com3", "COMcom3"},
        {"COMPORT", "COMPORT"},
        {"null", "/dev/null"},            // a character device under /dev, named bare
        {"ttyNotThere9", "COMttyNotThere9"},  // no such device
        {"shm", "COMshm"},                // under /dev, but not a device
        {"..", "COM.."},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/serial/by-id/usb-X", "/dev/serial/by-id/usb-X"},
        {"rfc2217://localhost:4000", "rfc2217://localhost:4000"},
        {"", "COM"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(Parse({"-p", value}).port, expected) << "value: " << value;
    }
    // The prefix rule does not apply to other options' values.
    EXPECT_EQ(Parse({"-p", "-a"}).port, "COM-a");
    EXPECT_TRUE(Parse({"-p", "-a"}).autoLoad);
}

// The lines for -p tell what this platform takes (on Linux no COM names, which match no
// port there); every other line is the program's fixed text.
TEST(CommandLine, HelpTextIsTheFixedTextWithThePlatformsPortNames)
{
    const std::string portLines =
        std::string_view(kPlatformName) == "Linux"
            ? "-p  port\t   name of used PC port: a device path (/dev/ttyUSB0, ...),\r\n"
              "\t   a name under /dev (ttyUSB0, ...) or rfc2217://host:port;\r\n"
              "\t   default: the first port found.\r\n"
            : "-p  port\t   name of used PC port (COM1, COM2, ...) or number (1,2, ...);\r\n"
              "\t   default: COM1.\r\n";
    const std::string expected =
        "\t Command line options:\r\n\r\n"
        "-h\t   get this help screen.\r\n" +
        portLines +
        "-s  speed\t   port speed (600..460800); default: 115200.\r\n"
        "-hs  mode\t   handshaking mode (none, rts); default: none.\r\n\r\n"
        "-d  device\t   type of device (rec, pbr, vdk1); default: rec.\r\n"
        "-r  name\t   RAM image file name;   default:\r\n"
        "\t   ramimage.ldr (for Receiver), powbrd.ldr (for Powerboard).\r\n"
        "-f  name\t   FLASH image file name; default: main.ldp (for Receiver).\r\n"
        "-c  method  capture method (pwr, soft); default: pwr.\r\n"
        "-e\t   exit program after successful firmware loading.\r\n"
        "-a\t   automatic firmware loading.\r\n"
        "\r\n"
        "The values of omitted command line options will be taken from INI file\r\n"
        "(if present) or equal to default values.\r\n";
    EXPECT_EQ(CommandLineHelpText(), expected);
}

// Each value the window ignored is named once, with what is used instead; applied values,
// and a -p that the refused automatic load names itself, say nothing.
TEST(IgnoredOptions, EachIgnoredValueIsNamedWithWhatIsUsed)
{
    const OptionsInUse used{"/nonexistent/tty", "/dev/ttyS0", "115200", 1, 1, 0};
    // The system's reason for the port is its own ("No such file or directory" on Linux).
    const std::vector<std::string> expected = {
        "-p /nonexistent/tty is not a port this program offers: " + LocalPortUnavailableReason("/nonexistent/tty") +
            "; using /dev/ttyS0",
        "-s 12345 is not a rate this program offers; using 115200",
        "-hs RTS is not a handshaking mode this program offers; using rts",
        "-d REC is not a device type this program offers; using pbr",
        "-c hard is not a capture method this program offers; using pwr",
    };
    const auto ignored = Parse({"-p", "/nonexistent/tty", "-s", "12345", "-hs", "RTS", "-d", "REC", "-c", "hard"});
    EXPECT_EQ(IgnoredOptionNotes(ignored, used), expected);
    EXPECT_EQ(IgnoredOptionNotes(Parse({"-p", "/nonexistent/tty", "-a"}), used), std::vector<std::string>{});
    const OptionsInUse applied{"", "/dev/ttyS0", "9600", 0, 2, 1};
    const auto taken = Parse({"-s", "9600", "-hs", "none", "-d", "vdk1-unit", "-c", "soft"});
    EXPECT_EQ(IgnoredOptionNotes(taken, applied), std::vector<std::string>{});
}
