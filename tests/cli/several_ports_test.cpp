#include "cli/c_cli_reporter.h"
#include "cli/c_terminal_display.h"
#include "cli/cli_arguments.h"
#include "cli/cli_config.h"
#include "cli/load_summary.h"

#include "app/temp_dir.h"
#include "cli/caught_output.h"
#include "link/pty_pair.h"
#include "platform/c_wire_trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

using namespace kestrum;

namespace {

CliArguments Parse(std::vector<std::string> words)
{
    words.insert(words.begin(), {"kestrum-cli", "load"});
    return ParseCliArguments(words);
}

PortLoadResult Result(std::string port, int code, std::string text, std::string status, double seconds = 1.5,
                      std::optional<double> flashSeconds = std::nullopt)
{
    return PortLoadResult{std::move(port), code, std::move(text), std::move(status), seconds, flashSeconds};
}

} // namespace

TEST(SeveralPorts, RepeatedOptionsAndListsNameThePortsInOrder)
{
    const CliArguments parsed =
        Parse({"-p", "rfc2217://a:1,rfc2217://b:2", "-s", "9600", "-p", "rfc2217://c:3"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.ports, (std::vector<std::string>{"rfc2217://a:1", "rfc2217://b:2", "rfc2217://c:3"}));
    EXPECT_EQ(parsed.options.port, "rfc2217://a:1") << "the first port stands for all where only one can";
    EXPECT_EQ(parsed.options.speed, "9600");
}

// A script's unset variable or stray comma must not load the stored port, nor leave a
// device out.
TEST(SeveralPorts, EmptyNamesAndSeveralPortsOutsideLoadAreMistakes)
{
    for (const char* value : {"", ",", "a,", ",a", "a,,b"})
        EXPECT_NE(Parse({"-p", value}).error, "") << "\"" << value << "\"";
    EXPECT_EQ(Parse({"-p", ""}).error, "option -p needs a port name");
    EXPECT_EQ(ParseCliArguments({"kestrum-cli", "info", "-p", "a", "-p", "b"}).error,
              "only load works on several ports");
    EXPECT_EQ(ParseCliArguments({"kestrum-cli", "info", "-p", "a"}).error, "");
}

TEST(SeveralPorts, EachPortIsResolvedOnceAndOnlyOnce)
{
    const std::vector<std::string> present = {"/dev/ttyS0"};
    CliConfig config;
    config.portName = "/dev/ttyS0";
    std::string error;
    ASSERT_TRUE(ResolveLoadPorts({}, present, config, error)) << error;
    EXPECT_EQ(config.portNames, (std::vector<std::string>{"/dev/ttyS0"})) << "none named: the one chosen";

    ASSERT_TRUE(ResolveLoadPorts({"rfc2217://b:2", "/dev/ttyS0"}, present, config, error)) << error;
    EXPECT_EQ(config.portNames, (std::vector<std::string>{"rfc2217://b:2", "/dev/ttyS0"}));
    EXPECT_EQ(config.portName, "rfc2217://b:2");

    EXPECT_FALSE(ResolveLoadPorts({"/dev/ttyS0", "rfc2217://b:2", "/dev/ttyS0"}, present, config, error));
    EXPECT_EQ(error, "port /dev/ttyS0 is named twice");
    EXPECT_FALSE(ResolveLoadPorts({"/dev/ttyS0", "/dev/none"}, present, config, error));
    EXPECT_EQ(error, "port /dev/none is not available (see kestrum-cli ports)");
}

// A USB adapter's stable by-id link and its /dev/ttyUSBn are one port: two loads on it
// would fight over the line.
TEST(SeveralPorts, APortNamedOnceByItsDeviceAndOnceByALinkIsNamedTwice)
{
    test::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    TempDir dir;
    const std::string link = dir / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    std::filesystem::create_symlink(pty.SlaveName(), link);
    const std::vector<std::string> present = {"/dev/ttyS0", pty.SlaveName()};
    CliConfig config;
    std::string error;

    EXPECT_FALSE(ResolveLoadPorts({pty.SlaveName(), "/dev/ttyS0", link}, present, config, error));
    EXPECT_EQ(error, "port " + link + " is named twice (also as " + pty.SlaveName() + ")");
    EXPECT_FALSE(ResolveLoadPorts({link, pty.SlaveName()}, present, config, error));
    EXPECT_EQ(error, "port " + pty.SlaveName() + " is named twice (also as " + link + ")");
    ASSERT_TRUE(ResolveLoadPorts({link, "/dev/ttyS0"}, present, config, error)) << error;
    EXPECT_EQ(config.portNames, (std::vector<std::string>{link, "/dev/ttyS0"}));
}

TEST(SeveralPorts, SummaryGivesEachPortItsCodeAndTheReasonWhenThereIsOne)
{
    const std::vector<PortLoadResult> results = {
        Result("/dev/ttyUSB10", 0, "Loading completed", "Loading completed", 97.5, 92.25),
        Result("/dev/ttyUSB2", 7, "Error in Flash file loading", "Error in Flash file loading"),
        Result("rfc2217://x:9", 1, "Wrong data at address 00001234/ ff instead of 0c\r\n",
               "Wrong data at address 00001234/ ff instead of 0c\r\n"),
        Result("/dev/ttyUSB3", 2, "Loading aborted by User", "Capturing aborted by User"),
    };
    EXPECT_EQ(LoadSummaryText(results),
              "4 ports: 1 completed, 3 failed\n"
              "  /dev/ttyUSB10  0  Loading completed\n"
              "  /dev/ttyUSB2   7  Error in Flash file loading\n"
              "  rfc2217://x:9  1  Wrong data at address 00001234/ ff instead of 0c\n"
              "  /dev/ttyUSB3   2  Loading aborted by User (Capturing aborted by User)\n");
    EXPECT_EQ(LoadSummaryJson({results[0], results[2]}),
              "{\"ports\": [\n"
              "  {\"port\": \"/dev/ttyUSB10\", \"code\": 0, \"result\": \"Loading completed\", \"status\": "
              "\"Loading "
              "completed\", \"seconds\": 97.50, \"flashSeconds\": 92.25},\n"
              "  {\"port\": \"rfc2217://x:9\", \"code\": 1, \"result\": \"Wrong data at address 00001234/ ff "
              "instead of 0c\\u000d\\u000a\", \"status\": \"Wrong data at address 00001234/ ff instead of "
              "0c\\u000d\\u000a\", \"seconds\": 1.50, \"flashSeconds\": null}],\n"
              " \"completed\": 1, \"failed\": 1, \"exitStatus\": 1}\n");
}

// The exit status is 0 only when every load completed; otherwise the code of the first
// port named that did not, so one port gives its own code as it always did.
TEST(SeveralPorts, ExitStatusIsTheFirstFailingPortsCode)
{
    const auto ok = Result("a", 0, "", "");
    const auto flash = Result("b", 7, "", "");
    const auto aborted = Result("c", 2, "", "");
    EXPECT_EQ(LoadExitStatus({ok, ok, ok}), 0);
    EXPECT_EQ(LoadExitStatus({ok, flash, aborted}), 7);
    EXPECT_EQ(LoadExitStatus({aborted, flash}), 2);
    EXPECT_EQ(LoadExitStatus({flash}), 7);
}

// Without a terminal every line names its port, and each port's progress comes in tenths.
TEST(SeveralPorts, PlainDisplayNamesThePortOnEveryLine)
{
    CaughtOutput out;
    CTerminalDisplay display(out.File(), false, {"/dev/ttyUSB0", "/dev/ttyUSB1"});
    display.Port(1).NoteStatus("Capturing...");
    display.Port(0).NoteStatus("Found receiver at 9600");
    display.Port(1).SetProgress(45, 100);
    display.Refresh();
    display.Port(1).SetProgress(49, 100);
    display.Port(0).ShowCountdown(20000);
    display.Refresh();
    display.Finish();
    EXPECT_EQ(out.Text(),
              "/dev/ttyUSB0: Found receiver at 9600\n"
              "/dev/ttyUSB1: Capturing...\n"
              "/dev/ttyUSB1: Progress: 45%\n"
              "/dev/ttyUSB0: Please power cycle your device now to allow loader to capture it. Time "
              "remaining: 20 sec\n");
}

// On a terminal each port keeps one redrawn line below the texts, which shows its result
// once it has one; the last drawing stays on the screen.
TEST(SeveralPorts, TerminalDisplayKeepsALineForEachPort)
{
    CaughtOutput out;
    CTerminalDisplay display(out.File(), true, {"/dev/ttyUSB0", "/dev/ttyUSB10"});
    display.Port(0).SetProgress(50, 100);
    display.Port(1).NoteStatus("Capturing...");
    display.Refresh();
    EXPECT_EQ(out.Text(), "/dev/ttyUSB10: Capturing...\n"
                          "/dev/ttyUSB0   [###############               ] 50%\n"
                          "/dev/ttyUSB10  Capturing...");
    display.Port(1).NoteResult("Error in Flash file loading");
    display.Port(0).NoteResult("Loading completed");
    display.Finish();
    const std::string text = out.Text();
    EXPECT_NE(text.find("\033[1A\r\033[J/dev/ttyUSB0   Loading completed\n"
                        "/dev/ttyUSB10  Error in Flash file loading\n"),
              std::string::npos)
        << text;
}

// A wire trace that stops early is said once, as the program's own line, not a port's.
TEST(SeveralPorts, TraceThatStopsEarlyIsSaidOnceAsTheProgramsLine)
{
    TempDir dir;
    CaughtOutput out;
    {
        CCliReporter reporter(out.File(), {"/dev/ttyUSB0", "/dev/ttyUSB1"});
        std::string error;
        auto trace = CWireTrace::Create(dir / "trace.txt", "test", error, {.behindBytes = 8});
        ASSERT_NE(trace, nullptr) << error;
        const uint8_t bytes[6] = {};
        for (int i = 0; i < 3; ++i)
            trace->Record(trace->PortNumber("/dev/ttyUSB0"), CWireTrace::Kind::Out, bytes, sizeof bytes);
        reporter.Refresh();
    }
    EXPECT_EQ(out.Text(), "The wire trace " + (dir / "trace.txt") +
                              " is incomplete: more than 8 bytes of it waited to be written; tracing has stopped\n");
}
