#pragma once

#include <filesystem>
#include <string>
#include <unistd.h>

#include "sim/sim_command_line.h"

namespace kestrum::test {

// kestrum-sim's demo images, written as its --write-images writes them, in a folder of
// their own that goes away with the object on every path out of a test.
class DemoImageDir {
public:
    DemoImageDir(const std::string& name, const std::string& flashVersion, const std::string& flashSize,
                 const std::string& ramSize)
        : dir_(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid())))
    {
        std::filesystem::create_directories(dir_);
        SimCommandLine line;
        ok_ = ParseSimCommandLine({"--write-images", dir_.string(), "--flash-version", flashVersion, "--flash-size",
                                   flashSize, "--ram-size", ramSize},
                                  line, error_) &&
              WriteDemoImages(line, error_);
    }
    ~DemoImageDir() { std::filesystem::remove_all(dir_); }
    DemoImageDir(const DemoImageDir&) = delete;
    DemoImageDir& operator=(const DemoImageDir&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Error() const { return error_; }
    std::string RamPath() const { return (dir_ / "ramimage.ldr").string(); }
    std::string FlashPath() const { return (dir_ / "main.ldp").string(); }

private:
    std::filesystem::path dir_;
    bool ok_ = false;
    std::string error_;
};

}  // namespace kestrum::test
