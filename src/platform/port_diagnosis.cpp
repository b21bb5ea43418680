#include "platform/port_diagnosis.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrum {

namespace {

namespace fs = std::filesystem;

constexpr const char* kModemManager = "ModemManager";
constexpr size_t kNameBufferSize = 16384;
// The timer an FTDI adapter should have for a load: each reply reaches us at once.
constexpr int kBestLatencyMs = 1;

struct Holder {
    int pid = 0;
    std::string name;
};

std::string FirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string UserName(uid_t uid, gid_t* primaryGroup = nullptr)
{
    std::vector<char> buffer(kNameBufferSize);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::to_string(uid);
    if (primaryGroup != nullptr)
        *primaryGroup = found->pw_gid;
    return found->pw_name;
}

std::string GroupName(gid_t gid)
{
    std::vector<char> buffer(kNameBufferSize);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::to_string(gid);
    return found->gr_name;
}

// Whether the group database lists the user in the group: what the user's next login gets.
bool ListedInGroup(const std::string& user, gid_t primaryGroup, gid_t wanted)
{
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user.c_str(), primaryGroup, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(user.c_str(), primaryGroup, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(static_cast<size_t>(count));
    return std::find(groups.begin(), groups.end(), wanted) != groups.end();
}

bool ProcessHasGroup(gid_t wanted)
{
    if (::getegid() == wanted)
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 0)));
    return count > 0 && ::getgroups(count, groups.data()) == count &&
           std::find(groups.begin(), groups.end(), wanted) != groups.end();
}

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Who may use the device decides the cure: a group the user can join, a session that
// must start again to get the group, or a device only its owner may use.
std::vector<std::string> DiagnosePermission(const std::string& path)
{
    struct stat device {};
    if (::stat(path.c_str(), &device) != 0)
        return {};
    const mode_t groupUse = S_IRGRP | S_IWGRP;
    const std::string owner = UserName(device.st_uid);
    if (device.st_uid == ::geteuid() || (device.st_mode & groupUse) != groupUse)
        return {path + " has mode " + ModeText(device.st_mode) + " for its owner " + owner + " and group " +
                GroupName(device.st_gid) +
                "; a udev rule must give it to a group such as dialout (see the README)"};
    if (ProcessHasGroup(device.st_gid))
        return {}; // the group may use it: something else refuses (an ACL, a security module)
    const std::string group = GroupName(device.st_gid);
    gid_t primaryGroup = ::getgid();
    const std::string user = UserName(::geteuid(), &primaryGroup);
    if (ListedInGroup(user, primaryGroup, device.st_gid))
        return {"User " + user + " is in the group " + group +
                " now, but this session began before that: log out and in again (or start the program "
                "under: newgrp " +
                group + ")"};
    return {path + " belongs to the group " + group + "; add user " + user +
            " to it with: sudo usermod -aG " + group + " " + user + ", then log out and in again"};
}

bool IsProcessDirectory(const fs::directory_entry& entry)
{
    const std::string name = entry.path().filename().string();
    return !name.empty() && std::all_of(name.begin(), name.end(),
                                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool HoldsDevice(const fs::path& processDir, dev_t device, bool& hidden)
{
    std::error_code error;
    fs::directory_iterator it(processDir / "fd", error);
    if (error) {
        hidden = true; // another user's process: its open files are not ours to see
        return false;
    }
    for (fs::directory_iterator end; it != end; it.increment(error)) {
        if (error)
            return false;
        struct stat target {};
        if (::stat(it->path().c_str(), &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == device)
            return true;
    }
    return false;
}

// Every process that has the device open, and every ModemManager that runs: the processes
// of other users are hidden from an ordinary user, ModemManager's among them.
void FindHolders(const std::string& path, const DiagnosisRoots& roots, std::vector<Holder>& holders,
                 std::vector<Holder>& modemManagers, bool& hidden)
{
    struct stat device {};
    if (::stat(path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode))
        return;
    std::error_code error;
    for (fs::directory_iterator it(roots.proc, error), end; !error && it != end; it.increment(error)) {
        if (!IsProcessDirectory(*it))
            continue;
        const std::string pid = it->path().filename().string();
        Holder process{0, FirstLine(it->path() / "comm")};
        std::from_chars(pid.data(), pid.data() + pid.size(), process.pid);
        if (process.name == kModemManager)
            modemManagers.push_back(process);
        if (HoldsDevice(it->path(), device.st_rdev, hidden))
            holders.push_back(process);
    }
}

std::string ModemManagerAdvice()
{
    return "ModemManager probes every new adapter for a modem for a few seconds: try again, or keep it "
           "away from the adapter with the udev rule in the README";
}

std::vector<std::string> DiagnoseBusy(const std::string& path, const DiagnosisRoots& roots)
{
    std::vector<Holder> holders;
    std::vector<Holder> modemManagers;
    bool hidden = false;
    FindHolders(path, roots, holders, modemManagers, hidden);
    std::vector<std::string> lines;
    bool byModemManager = false;
    for (const Holder& holder : holders) {
        const bool self = holder.pid == ::getpid();
        lines.push_back(path + " is held by " + (self ? "this program itself" : holder.name) + " (pid " +
                        std::to_string(holder.pid) + ")");
        byModemManager = byModemManager || holder.name == kModemManager;
    }
    if (byModemManager)
        lines.push_back(ModemManagerAdvice());
    if (holders.empty() && hidden) {
        lines.push_back("The program that holds " + path + " belongs to another user, so it cannot be named");
        for (const Holder& modemManager : modemManagers)
            lines.push_back(std::string(kModemManager) + " (pid " + std::to_string(modemManager.pid) +
                            ") runs: " + ModemManagerAdvice());
    }
    return lines;
}

} // namespace

std::vector<std::string> DiagnoseOpenFailure(const std::string& path, SerialOpenError error,
                                             const DiagnosisRoots& roots)
{
    if (!path.starts_with("/"))
        return {};
    if (error == SerialOpenError::Permission)
        return DiagnosePermission(path);
    if (error == SerialOpenError::Busy)
        return DiagnoseBusy(path, roots);
    return {};
}

std::vector<std::string> DiagnoseOpenedPort(const std::string& path, const DiagnosisRoots& roots,
                                            LowLatencyMode lowLatency)
{
    if (lowLatency == LowLatencyMode::Granted || lowLatency == LowLatencyMode::AlreadyOn)
        return {};
    std::error_code error;
    const fs::path device = path.starts_with("/") ? fs::canonical(path, error) : fs::path();
    if (error || device.empty())
        return {};
    const fs::path timer = fs::path(roots.ttyClassDir) / device.filename() / "device/latency_timer";
    std::ifstream in(timer);
    int milliseconds = 0;
    if (!(in >> milliseconds) || milliseconds <= kBestLatencyMs)
        return {};
    return {"The adapter's latency timer is " + std::to_string(milliseconds) +
            " ms: loads run faster with 1 ms. Set it with: echo 1 | sudo tee " + timer.string() +
            " (the README has a udev rule that does it for every such adapter)"};
}

} // namespace kestrum
