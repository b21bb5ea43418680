// What a port that does not open says beyond its fixed text, with real processes and
// permissions: another process of the test holds the port, or the test drops to a user
// without the right to it.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "link/c_serial_port.h"
#include "link/pty_pair.h"
#include "platform/termios_serial_device.h"

using namespace kestrum;
using kestrum::test::PtyPair;

namespace {

// A child process named "port-holder" that keeps the port open, as another program
// would, until the test lets it go.
class PortHolder {
public:
    explicit PortHolder(const std::string& port)
    {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(release_) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_NAME, "port-holder");
            ::close(release_[1]);
            TermiosSerialDevice device;
            const char opened = device.Open(port) ? '1' : '0';
            (void)!::write(ready[1], &opened, 1);
            char byte;
            (void)!::read(release_[0], &byte, 1); // until the test closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release_[0]);
        char opened = '0';
        holding_ = ::read(ready[0], &opened, 1) == 1 && opened == '1';
        ::close(ready[0]);
    }
    ~PortHolder()
    {
        ::close(release_[1]);
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
    }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    bool Holding() const { return holding_; }
    pid_t Pid() const { return pid_; }

private:
    int release_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool holding_ = false;
};

// Runs opening in a child that first became user "nobody", where the test can become
// it; its lines come back through a pipe. Empty with why in skipReason where it cannot.
std::vector<std::string> OpenAsNobody(const std::string& port, std::string& skipReason)
{
    struct passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) {
        skipReason = "no user nobody to drop to";
        return {};
    }
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    int out[2];
    if (::pipe(out) != 0) {
        skipReason = "no pipe";
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        std::string text;
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            text = "SKIP cannot drop privileges here";
        } else {
            CSerialPort opened(port);
            text = opened.LastError();
            for (const std::string& line : opened.OpenDiagnosis())
                text += "\n" + line;
        }
        (void)!::write(out[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    if (text.starts_with("SKIP ")) {
        skipReason = text.substr(5);
        return {};
    }
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string UserName()
{
    struct passwd* user = ::getpwuid(::geteuid());
    return user != nullptr ? user->pw_name : std::to_string(::geteuid());
}

bool InGroupDatabase(const std::string& user, gid_t wanted)
{
    struct passwd* entry = ::getpwnam(user.c_str());
    if (entry == nullptr)
        return false;
    int count = 256;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user.c_str(), entry->pw_gid, groups.data(), &count) < 0)
        return true; // too many to tell: the test cannot know what to expect
    groups.resize(static_cast<size_t>(count));
    return std::find(groups.begin(), groups.end(), wanted) != groups.end();
}

} // namespace

TEST(SerialPortDiagnosis, PortHeldByAnotherProcessNamesItAfterTheFixedText)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    PortHolder holder(pty.SlaveName());
    ASSERT_TRUE(holder.Holding());

    CSerialPort port(pty.SlaveName());
    EXPECT_EQ(port.GetHandle(), nullptr);
    EXPECT_EQ(port.LastError(), "Port " + pty.SlaveName() + " is busy");
    const std::vector<std::string> expected = {pty.SlaveName() + " is held by port-holder (pid " +
                                               std::to_string(holder.Pid()) + ")"};
    EXPECT_EQ(port.OpenDiagnosis(), expected);

    // Posted after the system's reason and the fixed text, never instead of them.
    CStatusChannel channel;
    port.PostOpenFailure(channel);
    EXPECT_EQ(channel.Text(), expected.back());
    EXPECT_EQ(port.LastError(), "Port " + pty.SlaveName() + " is busy");
}

TEST(SerialPortDiagnosis, PortWithoutPermissionNamesTheGroupAndTheCommandThatAddsTheUser)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    std::string port = pty.SlaveName();
    std::vector<std::string> lines;
    std::string user = UserName();
    std::string group;
    if (::geteuid() == 0) {
        // root may open anything: the port is given to dialout and opened as nobody.
        struct group* dialout = ::getgrnam("dialout");
        if (dialout == nullptr)
            GTEST_SKIP() << "no group dialout to give the port to";
        group = dialout->gr_name;
        ASSERT_EQ(::chown(port.c_str(), 0, dialout->gr_gid), 0);
        ASSERT_EQ(::chmod(port.c_str(), 0660), 0);
        std::string skipReason;
        lines = OpenAsNobody(port, skipReason);
        if (lines.empty())
            GTEST_SKIP() << skipReason;
        user = "nobody";
    } else {
        // As a user who is not root: a serial port of the machine that this user's
        // groups may not use, as a fresh account meets it.
        port = "/dev/ttyS0";
        struct stat info {};
        if (::stat(port.c_str(), &info) != 0 || ::access(port.c_str(), R_OK | W_OK) == 0 || errno != EACCES ||
            info.st_uid == ::geteuid() || (info.st_mode & 060) != 060 || ::getgrgid(info.st_gid) == nullptr ||
            InGroupDatabase(user, info.st_gid))
            GTEST_SKIP() << "not root, and no serial port that this user's groups may not open to try";
        group = ::getgrgid(info.st_gid)->gr_name;
        CSerialPort opened(port);
        lines = {opened.LastError()};
        lines.insert(lines.end(), opened.OpenDiagnosis().begin(), opened.OpenDiagnosis().end());
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "No permission to open port " + port +
                            ": add your user to the dialout group, then log in again");
    EXPECT_EQ(lines[1], port + " belongs to the group " + group + "; add user " + user +
                            " to it with: sudo usermod -aG " + group + " " + user +
                            ", then log out and in again");
}

// A by-id link and its device are one port: the one held, the other busy.
TEST(SerialPortDiagnosis, PortHeldUnderItsDeviceNameIsBusyUnderALinkToIt)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    char pattern[] = "/tmp/kestrum-link-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string link = std::string(pattern) + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    ASSERT_EQ(::symlink(pty.SlaveName().c_str(), link.c_str()), 0);
    {
        auto first = std::make_unique<CSerialPort>(pty.SlaveName());
        ASSERT_NE(first->GetHandle(), nullptr);
        CSerialPort second(link);
        EXPECT_EQ(second.GetHandle(), nullptr);
        EXPECT_EQ(second.LastError(), "Port " + link + " is busy");
        ASSERT_EQ(second.OpenDiagnosis().size(), 1u);
        EXPECT_EQ(second.OpenDiagnosis()[0],
                  link + " is held by this program itself (pid " + std::to_string(::getpid()) + ")");
        ClosePort(std::move(first));
    }
    ::unlink(link.c_str());
    ::rmdir(pattern);
}
