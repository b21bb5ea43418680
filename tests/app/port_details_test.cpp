#include "app/port_details.h"

#include "app/fake_usb_adapter.h"
#include "app/temp_dir.h"

#include <gtest/gtest.h>

using namespace kestrum;
using namespace kestrum::test;

namespace {

// A machine with a built-in UART, a serial-core port without one, an FTDI adapter with a
// serial number and its by-id link, and an ACM board that gives no serial number.
class PortDetailsTest : public ::testing::Test {
protected:
    PortDetailsTest()
    {
        const auto platform = dir_.Path() / "devices/platform/serial8250";
        std::filesystem::create_directories(platform);
        std::filesystem::create_directories(DeviceDir());
        for (const auto& [name, uartType] : {std::pair{"ttyS0", "4"}, std::pair{"ttyS1", "0"}}) {
            std::filesystem::create_directories(ClassDir() + "/" + name);
            std::filesystem::create_directory_symlink(platform, ClassDir() + "/" + name + "/device");
            WriteFile(ClassDir() + "/" + name + "/type", std::string(uartType) + "\n");
            WriteFile(DeviceDir() + "/" + name, "");
        }
        AddFakeUsbAdapter({"ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI", kFtdiById}, dir_.Path(),
                          ClassDir(), DeviceDir());
        AddFakeUsbAdapter(
            {"ttyACM0", "Acme", "Widget Board", "", "", "2341", "0043", "0001", "3", "12", "0a"}, dir_.Path(),
            ClassDir(), DeviceDir());
    }

    std::string ClassDir() const { return dir_ / "class/tty"; }
    std::string DeviceDir() const { return dir_ / "dev"; }
    std::string Node(const std::string& name) const { return DeviceDir() + "/" + name; }

    static constexpr const char* kFtdiById = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    TempDir dir_;
};

} // namespace

TEST_F(PortDetailsTest, UsbAdaptersTellWhatTheyAreAndTheirStableName)
{
    const std::vector<std::string> ports = BuildPortList(ClassDir(), DeviceDir());
    const std::vector<std::string> expected = {Node("ttyACM0"), Node("ttyS0"), Node("ttyUSB0")};
    ASSERT_EQ(ports, expected) << "the serial-core port without a UART is not listed";

    const std::vector<PortDetails> details = DescribePorts(ports, ClassDir(), DeviceDir());
    ASSERT_EQ(details.size(), 3u);

    const PortDetails& board = details[0];
    EXPECT_EQ(board.path, Node("ttyACM0"));
    EXPECT_TRUE(board.IsUsb());
    EXPECT_EQ(board.vendorId, "2341");
    EXPECT_EQ(board.productId, "0043");
    EXPECT_EQ(board.serialNumber, "");
    EXPECT_EQ(board.byIdPath, "");
    EXPECT_EQ(board.Summary(), "Acme Widget Board");
    EXPECT_EQ(board.deviceRelease, "0001");
    EXPECT_EQ(board.busNumber, 3);
    EXPECT_EQ(board.deviceAddress, 12);
    EXPECT_EQ(board.interfaceNumber, 10) << "bInterfaceNumber is hexadecimal";

    const PortDetails& builtIn = details[1];
    EXPECT_FALSE(builtIn.IsUsb());
    EXPECT_EQ(builtIn.busNumber, -1);
    EXPECT_EQ(builtIn.interfaceNumber, -1);
    EXPECT_EQ(builtIn.Summary(), "");
    EXPECT_EQ(builtIn.byIdPath, "");

    const PortDetails& ftdi = details[2];
    EXPECT_EQ(ftdi.manufacturer, "FTDI");
    EXPECT_EQ(ftdi.product, "FT232R USB UART");
    EXPECT_EQ(ftdi.serialNumber, "A50285BI");
    EXPECT_EQ(ftdi.byIdPath, DeviceDir() + "/serial/by-id/" + kFtdiById);
    EXPECT_EQ(ftdi.Summary(), "FTDI FT232R USB UART, serial A50285BI");
    // Where bit-bang mode finds the chip: its release names it, bus and address open it.
    EXPECT_EQ(ftdi.deviceRelease, "0600");
    EXPECT_EQ(ftdi.busNumber, 1);
    EXPECT_EQ(ftdi.deviceAddress, 4);
    EXPECT_EQ(ftdi.interfaceNumber, 0);
}

TEST_F(PortDetailsTest, NamesThatAreNoDevicePathsHaveNoDetails)
{
    const std::vector<PortDetails> details =
        DescribePorts({"rfc2217://localhost:4000", Node("gone"), "sim:rx"}, ClassDir(), DeviceDir());
    ASSERT_EQ(details.size(), 3u);
    for (const PortDetails& port : details) {
        EXPECT_FALSE(port.IsUsb()) << port.path;
        EXPECT_EQ(port.byIdPath, "") << port.path;
    }
    EXPECT_EQ(details[0].path, "rfc2217://localhost:4000");
}

TEST(PortDetails, AdapterThatNamesNothingIsShownByItsIdentifiers)
{
    PortDetails silent;
    silent.vendorId = "1a86";
    silent.productId = "7523";
    EXPECT_EQ(silent.Summary(), "USB device 1a86:7523");
    silent.serialNumber = "0001";
    EXPECT_EQ(silent.Summary(), "USB device 1a86:7523, serial 0001");
}
