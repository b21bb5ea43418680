#include "vdk_test_cable.h"

#include "line_call_time.h"
#include "platform/forwarding_serial_device.h"
#include "sim/sim_port_registry.h"

#include <thread>

namespace kestrum::test {

namespace {

class WatchedDevice : public ForwardingSerialDevice<SimSerialDevice> {
public:
    WatchedDevice(std::unique_ptr<SimSerialDevice> inner, std::shared_ptr<CableLog> log, CableFaults faults)
        : ForwardingSerialDevice(std::move(inner)), log_(std::move(log)), faults_(faults)
    {
    }
    ~WatchedDevice() override { Close(); }

    bool Open(const std::string& name) override
    {
        return inner_->Open(name) && inner_->ApplySettings(EarlierSettings());
    }
    void Close() override
    {
        SerialLineSettings settings;
        if (inner_->IsOpen() && inner_->GetSettings(settings)) {
            log_->settingsAtClose.push_back(settings);
            log_->dtrAtClose = dtr_;
        }
        inner_->Close();
    }
    bool ApplySettings(const SerialLineSettings& s) override
    {
        if (faults_.refuseSettings && s.baudRate == CProgrammingLink::kBaudRate)
            return false;
        return inner_->ApplySettings(s);
    }
    bool SetDtr(bool on) override { return inner_->SetDtr(Note(dtr_, on)); }
    bool SetRts(bool on) override { return inner_->SetRts(Note(rts_, on)); }
    bool SetBreak(bool on) override { return inner_->SetBreak(Note(break_, on)); }
    bool GetModemStatus(bool& dsr, bool& cts) override
    {
        WatchUnplug();
        ++log_->modemReads;
        if (faults_.failModemReadsAfter >= 0 && log_->modemReads > uint64_t(faults_.failModemReadsAfter))
            return false;
        return inner_->GetModemStatus(dsr, cts);
    }
    // Each step through the calls above, so the cable sees and can fail every one.
    LineBatchResult RunLineBatch(const SerialLineBatch& batch, const std::function<bool()>& stopped) override
    {
        return ISerialDevice::RunLineBatch(batch, stopped);
    }

private:
    bool Note(std::optional<bool>& line, bool on)
    {
        WatchUnplug();
        if (line == on)
            ++log_->redundantLineCalls;
        line = on;
        return on;
    }

    void WatchUnplug()
    {
        test::SpendLineCallTime(faults_.lineCallTime);
        if (!log_->sinceUnplug && faults_.unplugWhen && faults_.unplugWhen(*log_)) {
            log_->sinceUnplug.emplace();
            inner_->InjectDisconnect();
        }
        if (log_->sinceUnplug)
            ++log_->callsAfterUnplug;
    }

    std::shared_ptr<CableLog> log_;
    CableFaults faults_;
    std::optional<bool> dtr_;
    std::optional<bool> rts_;
    std::optional<bool> break_;
};

} // namespace

SerialLineSettings EarlierSettings()
{
    SerialLineSettings s;
    s.baudRate = 19200;
    s.dataBits = 7;
    s.parity = SerialLineSettings::Parity::Even;
    s.stopBits = 2;
    s.flow = SerialLineSettings::Flow::RtsCts;
    return s;
}

bool SameSettings(const SerialLineSettings& a, const SerialLineSettings& b)
{
    return a.baudRate == b.baudRate && a.dataBits == b.dataBits && a.parity == b.parity &&
           a.stopBits == b.stopBits && a.flow == b.flow;
}

std::string RegisterUnit(std::shared_ptr<Vdk1Model> model)
{
    static int next = 0;
    const std::string name = "sim:vdk1-" + std::to_string(++next);
    RegisterSimBackend();
    RegisterSimPort(name, std::move(model), SimSerialDevice::Options{false});
    return name;
}

CProgrammingLink::DeviceFactory WatchedFactory(std::shared_ptr<CableLog> log, CableFaults faults)
{
    return [log, faults](const std::string& name) -> std::unique_ptr<ISerialDevice> {
        return std::make_unique<WatchedDevice>(CreateSimSerialDevice(name), log, faults);
    };
}

} // namespace kestrum::test
