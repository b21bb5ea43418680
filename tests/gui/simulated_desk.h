#pragma once

// A main window as a technician has it in front of a device: started on its own settings
// file, with a simulated device under a "sim:" port chosen on the Connection page.
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "desktop_fixture.h"
#include "gui/c_kestrum_view.h"
#include "gui/c_main_frame.h"
#include "pages/c_ps_loader.h"
#include "sim/device_model.h"
#include "sim/sim_port_registry.h"

namespace kestrum::test {

class SimulatedDesk {
public:
    SimulatedDesk(std::shared_ptr<DeviceModel> model, std::vector<std::string> arguments, const std::string& settings)
        : port_("sim:desk-" + std::to_string(++counter_))
    {
        RegisterSimBackend();
        RegisterSimPort(port_, std::move(model), SimSerialDevice::Options{false, 4096, 65536});
        desktop_.WriteSettings("[PortSettings]\nName=" + port_ + "\n" + settings);
        frame_ = std::make_unique<CMainFrame>(desktop_.Start(std::move(arguments)), desktop_.Hooks());
        frame_->show();
    }
    ~SimulatedDesk()
    {
        frame_.reset();
        UnregisterSimPort(port_);
    }
    SimulatedDesk(const SimulatedDesk&) = delete;
    SimulatedDesk& operator=(const SimulatedDesk&) = delete;

    // The window the user works in has the keyboard, as after a dialog has closed.
    void Activate()
    {
        frame_->activateWindow();
        if (!QTest::qWaitForWindowActive(frame_.get()))
            qWarning("the main window did not become active");
    }

    CMainFrame& Frame() { return *frame_; }
    CPSLoader& Sheet() { return *frame_->View()->Sheet(); }
    const std::string& Port() const { return port_; }

    static QPushButton* Button(QWidget& page, const QString& text)
    {
        for (QPushButton* button : page.findChildren<QPushButton*>()) {
            if (button->text() == text)
                return button;
        }
        return nullptr;
    }

    // A file beside the settings file, removed with it.
    std::string Path(const std::string& name) const { return desktop_.SettingsPath() + "." + name; }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

private:
    static inline std::atomic<int> counter_{0};
    DesktopFixture desktop_;
    std::string port_;
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace kestrum::test
