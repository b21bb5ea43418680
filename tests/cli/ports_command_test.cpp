#include "cli/cli_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using namespace kestrum;

namespace {

std::string PortsOutput(const std::vector<PortDetails>& ports, bool json)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
    EXPECT_EQ(RunPortsCommand(ports, json, out.get()), 0);
    std::rewind(out.get());
    std::string text;
    for (int c; (c = std::fgetc(out.get())) != EOF;)
        text += static_cast<char>(c);
    return text;
}

std::vector<PortDetails> Ports()
{
    PortDetails builtIn;
    builtIn.path = "/dev/ttyS0";
    PortDetails ftdi;
    ftdi.path = "/dev/ttyUSB0";
    ftdi.byIdPath = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    ftdi.vendorId = "0403";
    ftdi.productId = "6001";
    ftdi.manufacturer = "FTDI";
    ftdi.product = "FT232R \"USB\" UART";
    ftdi.serialNumber = "A50285BI";
    return {builtIn, ftdi};
}

} // namespace

// Each port on a line of its own, a script's first word; what is known follows.
TEST(PortsCommand, TextNamesEachPortFirstWithItsAdapterAndStableName)
{
    EXPECT_EQ(PortsOutput(Ports(), false),
              "/dev/ttyS0\n"
              "/dev/ttyUSB0  FTDI FT232R \"USB\" UART, serial A50285BI\n"
              "              /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n");
}

TEST(PortsCommand, JsonGivesEveryFieldWithNullForWhatIsNotKnown)
{
    EXPECT_EQ(
        PortsOutput(Ports(), true),
        "[\n"
        "  {\"path\": \"/dev/ttyS0\", \"byId\": null, \"vendorId\": null, \"productId\": null, "
        "\"manufacturer\": null, \"product\": null, \"serial\": null},\n"
        "  {\"path\": \"/dev/ttyUSB0\", \"byId\": "
        "\"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\", \"vendorId\": \"0403\", "
        "\"productId\": \"6001\", \"manufacturer\": \"FTDI\", \"product\": \"FT232R \\\"USB\\\" UART\", "
        "\"serial\": \"A50285BI\"}\n"
        "]\n");
    EXPECT_EQ(PortsOutput({}, true), "[]\n");
}
