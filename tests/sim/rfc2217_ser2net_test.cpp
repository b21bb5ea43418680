// Our client against a COM-port-control server we did not write: ser2net serving a
// pseudo-terminal whose other end is the simulated receiver.

#include "link/c_status_channel.h"
#include "loader/c_load_run.h"
#include "platform/rfc2217_serial_device.h"
#include "protocol/c_device_info_query.h"
#include "sim/pty_server.h"
#include "sim/receiver_model.h"
#include "sim/sim_command_line.h"

#include "demo_image_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestrum;

namespace {

constexpr const char* kSer2netPaths[] = {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"};
constexpr int kStartLimitMs = 10000;
constexpr int kStopLimitMs = 3000;

std::string FindSer2net()
{
    for (const char* path : kSer2netPaths)
        if (::access(path, X_OK) == 0)
            return path;
    return "";
}

// A loopback port nobody listens on right now.
int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return connected;
}

// ser2net in the foreground with a configuration of our own, stopped on every path; it
// dies with the test program too, so a crashed test leaves nothing behind.
class Ser2net {
public:
    Ser2net(const std::string& program, const std::string& device)
    {
        dir_ = std::filesystem::temp_directory_path() / ("kestrum-ser2net-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        port_ = FreeLoopbackPort();
        std::ofstream(dir_ / "ser2net.yaml") << "connection: &sim\n"
                                             << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port_ << "\n"
                                             << "  connector: serialdev," << device << ",115200n81,local\n";
        const std::string config = (dir_ / "ser2net.yaml").string();
        const std::string log = (dir_ / "ser2net.log").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execl(program.c_str(), program.c_str(), "-n", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    ~Ser2net()
    {
        Stop();
        std::filesystem::remove_all(dir_);
    }

    // Waits until ser2net takes connections; false (with its log in why) when it ends or
    // does not within the limit.
    bool WaitReady(std::string& why)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                why = "ser2net ended at once: " + Log();
                return false;
            }
            if (Accepts(port_))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        why = "ser2net did not listen on port " + std::to_string(port_) + ": " + Log();
        return false;
    }

    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

    std::string Log() const
    {
        std::ifstream file(dir_ / "ser2net.log");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    void Stop()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopLimitMs);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }

    std::filesystem::path dir_;
    int port_ = -1;
    pid_t pid_ = -1;
};

class ThroughSer2net : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string program = FindSer2net();
        // scripts/setup installs it; a missing one must not pass for a green suite.
        ASSERT_FALSE(program.empty()) << "ser2net is not installed (apt-get install ser2net; scripts/setup does it)";
        receiver_ = std::make_shared<ReceiverModel>();
        pty_ = std::make_unique<PtyServer>(receiver_, false);
        std::string error;
        ASSERT_TRUE(pty_->Open(error)) << error;
        pty_->Start();
        ser2net_ = std::make_unique<Ser2net>(program, pty_->PortPath());
        ASSERT_TRUE(ser2net_->WaitReady(error)) << error;
    }

    void TearDown() override
    {
        ser2net_.reset();
        if (pty_)
            pty_->Stop();
    }

    std::shared_ptr<ReceiverModel> receiver_;
    std::unique_ptr<PtyServer> pty_;
    std::unique_ptr<Ser2net> ser2net_;
};

}  // namespace

TEST_F(ThroughSer2net, ReceiverQueryGetsAllFiveValues)
{
    PortSettings settings;
    settings.port = ser2net_->Url();
    const DeviceInfoResult result = RunDeviceInfoQuery(DeviceKind::Receiver, settings);
    EXPECT_EQ(result.outcome, QueryOutcome::Completed) << result.lastStatus << "\nser2net: " << ser2net_->Log();
    EXPECT_EQ(result.info.model, "RX-24 GNSS");
    EXPECT_EQ(result.info.firmware, "2.4 Mar,14,2026");
}

// A pseudo-terminal carries no control lines, so the capture is the soft break at the
// receiver's own rate; the rate changes of the load reach the terminal through ser2net.
TEST_F(ThroughSer2net, FullReceiverLoad)
{
    const test::DemoImageDir images("kestrum-ser2net-images", "7.2 s2n", "6000", "1500");
    ASSERT_TRUE(images.Ok()) << images.Error();

    CStatusChannel status;
    LoadRequest request;
    request.portName = ser2net_->Url();
    request.baudRate = 115200;
    request.captureMethod = kSoftBreakCapture;
    request.ramPath = images.RamPath();
    request.flashPath = images.FlashPath();
    request.checkRam = request.checkFlash = true;
    request.statusLink = status.Number();
    request.timing.replyTimeoutMs = 5000;
    request.timing.captureLimitMs = 8000;
    EXPECT_EQ(CLoadRun(request).Run(), 0) << status.Text() << "\nser2net: " << ser2net_->Log();
    EXPECT_EQ(receiver_->LoadsCompleted(), 1);
    EXPECT_EQ(receiver_->FirmwareVersion(), "7.2 s2n");
}

// Far more line changes than may be unanswered at a time: ser2net answers each, so none
// of them stalls, and the modem status can still be read after them.
TEST_F(ThroughSer2net, ManyLineChangesAndAModemRead)
{
    Rfc2217SerialDevice device;
    ASSERT_TRUE(device.Open(ser2net_->Url())) << device.OpenErrorText();
    for (int i = 0; i < 5000; ++i)
        ASSERT_TRUE(device.SetRts((i % 2) == 0)) << "change " << i << ": " << device.OpenErrorText();
    bool dsr = false;
    bool cts = false;
    EXPECT_TRUE(device.GetModemStatus(dsr, cts)) << device.OpenErrorText();
}
