#pragma once

// What a desktop test starts from: an application object started as the program starts
// it, with its own settings file and a port list of the test's choosing, and the message
// hooks installed. The settings file is kept between Start calls of one fixture, so a
// test can end a run and start the next one on what the first stored.
#include <QApplication>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/c_kestrum_app.h"
#include "app/fake_usb_adapter.h"
#include "app/temp_dir.h"
#include "gui/c_qt_message_hooks.h"
#include "platform/closing_flag.h"

namespace kestrum::test {

class DesktopFixture {
public:
    // ports: the names under the fake /dev, "ttyUSB0" and so on; none: the fallback port.
    explicit DesktopFixture(const std::vector<std::string>& ports = {"ttyS0", "ttyUSB0", "ttyUSB1"})
    {
        std::filesystem::create_directories(ClassDir());
        std::filesystem::create_directories(DeviceDir());
        std::filesystem::create_directories(dir_.Path() / "devices/serial");
        for (const std::string& port : ports) {
            std::filesystem::create_directories(ClassDir() + "/" + port);
            std::filesystem::create_directory_symlink(dir_.Path() / "devices/serial",
                                                      ClassDir() + "/" + port + "/device");
            WriteFile(Port(port), "");
        }
        ClosingFlag::Set(false);
    }

    // Starts a fresh application object on the fixture's settings file.
    CKestrumApp& Start(std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(), "kestrum");
        app_ = std::make_unique<CKestrumApp>();
        std::string error;
        if (!app_->Start(arguments, Environment(), error))
            qFatal("start-up failed: %s", error.c_str());
        app_->ReadSaveFlag();
        return *app_;
    }

    AppEnvironment Environment() const
    {
        AppEnvironment environment;
        environment.settings.explicitPath = SettingsPath();
        environment.ttyClassDir = ClassDir();
        environment.deviceDir = DeviceDir();
        return environment;
    }

    // A USB serial adapter as sysfs and udev show it, beside the fixture's ports.
    void AddUsbAdapter(const FakeUsbAdapter& adapter) const
    {
        AddFakeUsbAdapter(adapter, dir_.Path(), ClassDir(), DeviceDir());
    }

    std::string Port(const std::string& name) const { return DeviceDir() + "/" + name; }
    std::string SettingsPath() const { return dir_ / "kestrum.ini"; }
    std::string Settings() const { return ReadFile(SettingsPath()); }
    void WriteSettings(const std::string& text) const { WriteFile(SettingsPath(), text); }
    CKestrumApp& App() { return *app_; }
    CQtMessageHooks& Hooks() { return hooks_; }

private:
    std::string ClassDir() const { return dir_ / "class/tty"; }
    std::string DeviceDir() const { return dir_ / "dev"; }

    TempDir dir_;
    std::unique_ptr<CKestrumApp> app_;
    CQtMessageHooks hooks_;
};

}  // namespace kestrum::test
