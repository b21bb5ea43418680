#include "platform/port_diagnosis.h"

#include "app/temp_dir.h"
#include "link/pty_pair.h"

#include <gtest/gtest.h>

using namespace kestrum;
using kestrum::test::PtyPair;

namespace {

namespace fs = std::filesystem;

// A /proc of the test's making: processes by pid with their name and open files.
class FakeProc {
public:
    void AddProcess(int pid, const std::string& name) const
    {
        fs::create_directories(Pid(pid));
        WriteFile(Pid(pid) + "/comm", name + "\n");
    }
    // A process whose open files are readable, with fd 7 open on target.
    void AddHolder(int pid, const std::string& name, const std::string& target) const
    {
        AddProcess(pid, name);
        fs::create_directories(Pid(pid) + "/fd");
        fs::create_symlink(target, Pid(pid) + "/fd/7");
    }
    DiagnosisRoots Roots() const { return {dir_.Path().string(), dir_ / "class/tty"}; }

private:
    std::string Pid(int pid) const { return dir_ / std::to_string(pid); }
    TempDir dir_;
};

} // namespace

TEST(PortDiagnosis, ModemManagerHoldingTheAdapterIsNamedWithWhatToDo)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    FakeProc proc;
    proc.AddHolder(812, "ModemManager", pty.SlaveName());
    proc.AddHolder(813, "bash", "/dev/null");
    fs::create_directories(proc.Roots().proc + "/self");
    const std::vector<std::string> lines =
        DiagnoseOpenFailure(pty.SlaveName(), SerialOpenError::Busy, proc.Roots());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], pty.SlaveName() + " is held by ModemManager (pid 812)");
    EXPECT_NE(lines[1].find("ModemManager probes every new adapter"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("udev rule in the README"), std::string::npos) << lines[1];
}

// An ordinary user cannot look into other users' processes, ModemManager's among them.
TEST(PortDiagnosis, HolderHiddenFromTheUserIsSaidSoAndARunningModemManagerIsNamed)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    FakeProc proc;
    proc.AddProcess(900, "ModemManager"); // no readable fd folder
    proc.AddHolder(1000, "bash", "/dev/null");
    const std::vector<std::string> lines =
        DiagnoseOpenFailure(pty.SlaveName(), SerialOpenError::Busy, proc.Roots());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "The program that holds " + pty.SlaveName() +
                            " belongs to another user, so it cannot be named");
    EXPECT_TRUE(lines[1].starts_with("ModemManager (pid 900) runs: ")) << lines[1];
}

TEST(PortDiagnosis, OnlyPermissionAndBusyOfDevicePathsAreDiagnosed)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    FakeProc proc;
    proc.AddHolder(812, "ModemManager", pty.SlaveName());
    for (const SerialOpenError error : {SerialOpenError::None, SerialOpenError::NotFound,
                                        SerialOpenError::Other, SerialOpenError::Cancelled})
        EXPECT_TRUE(DiagnoseOpenFailure(pty.SlaveName(), error, proc.Roots()).empty());
    EXPECT_TRUE(DiagnoseOpenFailure("rfc2217://localhost:4000", SerialOpenError::Busy, proc.Roots()).empty());
    EXPECT_TRUE(DiagnoseOpenFailure("/dev/gone", SerialOpenError::Busy, proc.Roots()).empty());
    EXPECT_TRUE(DiagnoseOpenFailure("/dev/gone", SerialOpenError::Permission, proc.Roots()).empty());
}

TEST(PortDiagnosis, FtdiLatencyTimerAbove1MsGetsANoteWithTheCure)
{
    TempDir dir;
    const DiagnosisRoots roots{dir / "proc", dir / "class/tty"};
    fs::create_directories(dir / "class/tty/ttyUSB0/device");
    fs::create_directories(dir / "dev");
    WriteFile(dir / "dev/ttyUSB0", "");
    const std::string timer = dir / "class/tty/ttyUSB0/device/latency_timer";

    EXPECT_TRUE(DiagnoseOpenedPort(dir / "dev/ttyUSB0", roots).empty()) << "no timer: not an FTDI adapter";
    WriteFile(timer, "16\n");
    const std::vector<std::string> notes = DiagnoseOpenedPort(dir / "dev/ttyUSB0", roots);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("latency timer is 16 ms"), std::string::npos) << notes[0];
    EXPECT_NE(notes[0].find("faster with 1 ms"), std::string::npos) << notes[0];
    EXPECT_NE(notes[0].find("echo 1 | sudo tee " + timer), std::string::npos) << notes[0];
    // The open asked the driver for low-latency mode: granted, the timer is 1 ms now.
    EXPECT_EQ(DiagnoseOpenedPort(dir / "dev/ttyUSB0", roots, LowLatencyMode::Refused), notes);
    EXPECT_TRUE(DiagnoseOpenedPort(dir / "dev/ttyUSB0", roots, LowLatencyMode::Granted).empty());
    EXPECT_TRUE(DiagnoseOpenedPort(dir / "dev/ttyUSB0", roots, LowLatencyMode::AlreadyOn).empty());

    // Found through a by-id link too, since the timer belongs to the device behind it.
    fs::create_directories(dir / "dev/serial/by-id");
    fs::create_symlink("../../ttyUSB0", dir / "dev/serial/by-id/usb-FTDI_A5-if00-port0");
    EXPECT_EQ(DiagnoseOpenedPort(dir / "dev/serial/by-id/usb-FTDI_A5-if00-port0", roots), notes);

    WriteFile(timer, "1\n");
    EXPECT_TRUE(DiagnoseOpenedPort(dir / "dev/ttyUSB0", roots).empty());
    WriteFile(timer, "garbage\n");
    EXPECT_TRUE(DiagnoseOpenedPort(dir / "dev/ttyUSB0", roots).empty());
}
