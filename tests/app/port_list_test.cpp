#include "app/port_list.h"

#include "app/temp_dir.h"
#include "link/pty_pair.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace kestrum;

namespace {

// A fake /sys/class/tty and /dev, laid out as the kernel and udev do.
class FakeTtyTree {
public:
    FakeTtyTree()
    {
        std::filesystem::create_directories(ClassDir());
        std::filesystem::create_directories(DeviceDir());
        std::filesystem::create_directories(dir_.Path() / "devices/platform");
    }

    // uartType < 0: no "type" attribute (not a serial-core port).
    void AddTty(const std::string& name, bool hasDevice, int uartType, bool hasNode = true)
    {
        const auto entry = std::filesystem::path(ClassDir()) / name;
        std::filesystem::create_directories(entry);
        if (hasDevice) {
            std::filesystem::create_directory_symlink(dir_.Path() / "devices/platform", entry / "device");
        }
        if (uartType >= 0) {
            WriteFile((entry / "type").string(), std::to_string(uartType) + "\n");
        }
        if (hasNode) {
            WriteFile(DeviceDir() + "/" + name, "");
        }
    }

    std::string ClassDir() const { return dir_ / "class/tty"; }
    std::string DeviceDir() const { return dir_ / "dev"; }
    std::string Node(const std::string& name) const { return DeviceDir() + "/" + name; }

private:
    TempDir dir_;
};

}  // namespace

TEST(PortList, ListsPortsWithARealDeviceInNaturalOrder)
{
    FakeTtyTree tree;
    tree.AddTty("tty0", false, -1);         // a virtual console
    tree.AddTty("ptmx", false, -1);
    tree.AddTty("ttyS10", true, 4);
    tree.AddTty("ttyS0", true, 4);
    tree.AddTty("ttyS1", true, 0);          // listed by the kernel, but no UART answers
    tree.AddTty("ttyS2", true, 4);
    tree.AddTty("ttyS3", true, 4, false);   // no device node
    tree.AddTty("ttyUSB0", true, -1);
    tree.AddTty("ttyACM1", true, -1);
    tree.AddTty("ttyAMA0", true, 0);

    const std::vector<std::string> expected = {tree.Node("ttyACM1"), tree.Node("ttyS0"), tree.Node("ttyS2"),
                                               tree.Node("ttyS10"), tree.Node("ttyUSB0")};
    EXPECT_EQ(BuildPortList(tree.ClassDir(), tree.DeviceDir()), expected);
}

TEST(PortList, NoPortGivesTheFallbackEntryWhichIsAlsoTheDefault)
{
    FakeTtyTree tree;
    tree.AddTty("tty1", false, -1);
    tree.AddTty("ttyS0", true, 0);
    const std::vector<std::string> fallback = {kFallbackPortName};
    EXPECT_EQ(BuildPortList(tree.ClassDir(), tree.DeviceDir()), fallback);
    EXPECT_EQ(BuildPortList(tree.ClassDir() + "/missing", tree.DeviceDir()), fallback);
    EXPECT_EQ(DefaultPortName(fallback), kFallbackPortName);
    EXPECT_EQ(DefaultPortName({}), kFallbackPortName);

    tree.AddTty("ttyUSB3", true, -1);
    EXPECT_EQ(DefaultPortName(BuildPortList(tree.ClassDir(), tree.DeviceDir())), tree.Node("ttyUSB3"));
}

TEST(PortList, NaturalOrderComparesNumbersByValue)
{
    EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(NaturalLess("ttyS", "ttyS0"));
    EXPECT_TRUE(NaturalLess("ttyUSB1", "ttyUSB1a"));
    EXPECT_FALSE(NaturalLess("ttyS3", "ttyS3"));
    // Leading zeros: equal in value, still a strict order so sorting stays sound.
    EXPECT_NE(NaturalLess("ttyS01", "ttyS1"), NaturalLess("ttyS1", "ttyS01"));
    EXPECT_TRUE(NaturalLess("ttyS01", "ttyS2"));
}

TEST(PortList, NamedCharacterDeviceIsAppendedOnce)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string pty = ::ptsname(master);

    std::vector<std::string> ports = {"/dev/ttyS0"};
    EXPECT_TRUE(AcceptNamedPort(ports, pty));
    EXPECT_TRUE(AcceptNamedPort(ports, pty));
    EXPECT_TRUE(AcceptNamedPort(ports, "/dev/ttyS0"));
    const std::vector<std::string> expected = {"/dev/ttyS0", pty};
    EXPECT_EQ(ports, expected);
    ::close(master);
}

// ... and each refusal has its reason, the system's where it gives one.
TEST(PortList, OtherNamesAreNotAcceptedAndSayWhy)
{
    TempDir dir;
    WriteFile(dir / "plain", "");
    const std::pair<std::string, std::string> refused[] = {
        {dir / "plain", "not a serial device"},
        {dir / "missing", "No such file or directory"},
        {dir / "plain/below", "Not a directory"},
        {dir.Path().string(), "not a serial device"},
        {"COMcom3", "not a device path"},
        {"COM3", "not a device path"},
        {"dev/null", "not a device path"},
        {"", "not a device path"},
        {"rfc2217://localhost", "not an address of the form rfc2217://host:port"},
    };
    std::vector<std::string> ports = {"/dev/ttyS0"};
    for (const auto& [name, reason] : refused) {
        EXPECT_FALSE(AcceptNamedPort(ports, name)) << name;
        EXPECT_EQ(PortUnavailableReason(name), reason) << name;
    }
    EXPECT_EQ(ports.size(), 1u);
    EXPECT_EQ(UnavailablePortText(dir / "missing"),
              "Port " + (dir / "missing") + " is not available: No such file or directory");
    EXPECT_EQ(PortUnavailableReason("/dev/null"), "");
}

TEST(PortList, NetworkPortsNeedAHostAndAPortNumber)
{
    for (const char* good : {"rfc2217://localhost:4000", "rfc2217://192.0.2.7:1", "rfc2217://[::1]:65535"}) {
        EXPECT_TRUE(IsNetworkPortName(good)) << good;
    }
    for (const char* bad : {"rfc2217://localhost", "rfc2217://:4000", "rfc2217://host:0", "rfc2217://host:65536",
                            "rfc2217://host:40a", "rfc2217://ho st:4000", "RFC2217://host:4000",
                            "telnet://host:4000", "rfc2217://host:999999999999"}) {
        EXPECT_FALSE(IsNetworkPortName(bad)) << bad;
    }
    std::vector<std::string> ports = {"/dev/ttyS0"};
    EXPECT_FALSE(AcceptNamedPort(ports, "rfc2217://localhost"));
    EXPECT_TRUE(AcceptNamedPort(ports, "rfc2217://localhost:4000"));
    EXPECT_EQ(ports.back(), "rfc2217://localhost:4000");
}

TEST(PortList, ByIdLinkNamesTheSamePortAsItsDevice)
{
    kestrum::test::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    TempDir dir;
    const std::string link = dir / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    std::filesystem::create_symlink(pty.SlaveName(), link);

    std::vector<std::string> ports = {"/dev/ttyS0", pty.SlaveName()};
    EXPECT_TRUE(AcceptNamedPort(ports, link));
    EXPECT_EQ(ports.size(), 2u) << "the port is listed once, under its device name";
    EXPECT_EQ(ListedPortName(ports, link), pty.SlaveName());
    EXPECT_EQ(ListedPortName(ports, pty.SlaveName()), pty.SlaveName());
    EXPECT_EQ(ListedPortName(ports, dir / "missing"), "");
    EXPECT_EQ(ListedPortName(ports, "rfc2217://localhost:4000"), "");

    // A link to a device the list does not hold is taken under its own name.
    std::vector<std::string> without = {"/dev/ttyS0"};
    EXPECT_TRUE(AcceptNamedPort(without, link));
    EXPECT_EQ(without.back(), link);
}
