#include "sim/ft232r_model.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/sim_bit_bang_port.h"
#include "sim/sim_port_registry.h"

using namespace kestrum;

namespace {

// A far end that shows the PC's RTS on its DSR and the PC's DTR on its CTS, and keeps the
// lines it was given.
class LoopbackPlug : public DeviceModel {
public:
    PcLines Seen() const
    {
        std::lock_guard lock(ModelMutex());
        return Lines();
    }

protected:
    void OnByte(const HeardByte&, SimTime) override {}
    void OnLines(const PcLines&, const PcLines& after, SimTime) override
    {
        SetModemLines(DeviceLines{after.rts, after.dtr});
    }
};

std::vector<uint8_t> Exchange(IBitBangPort& port, std::vector<uint8_t> states)
{
    std::vector<uint8_t> samples(states.size());
    EXPECT_EQ(port.Exchange(states, samples), IBitBangPort::Transfer::Done) << port.LastError();
    return samples;
}

} // namespace

// Each sample shows the pins just before its own state was applied, so the read-back runs
// one state behind; the cable's transceiver inverts every pin onto the line.
TEST(Ft232rModel, SamplesRunOneStateBehindAndTheCableInvertsEveryPin)
{
    auto plug = std::make_shared<LoopbackPlug>();
    auto adapter = std::make_shared<Ft232rModel>(plug, Ft232rModel::Options{});
    SimBitBangPort port(adapter);

    ASSERT_TRUE(port.Open({1, 5, 0}, 0xFF, 250000)) << port.LastError();
    EXPECT_EQ(Exchange(port, {0x55, 0xAA, 0xAA}), (std::vector<uint8_t>{0xFF, 0x55, 0xAA}));
    port.Close();

    // TXD, RTS# and DTR# driven, the rest read. RTS# and DTR# low raise RTS and DTR, which
    // come back on DSR and CTS and pull DSR# and CTS# low; TXD low is a break.
    ASSERT_TRUE(port.Open({1, 5, 0}, 0x15, 250000));
    const std::vector<uint8_t> samples = Exchange(port, {0xFF, 0xEB, 0xEB, 0xFA});
    EXPECT_EQ(samples[1], 0xFF) << "all lines off: every pin high";
    EXPECT_EQ(samples[2], 0xC3) << "RTS# and DTR# low, and so DSR# and CTS#";
    EXPECT_EQ(samples[3], 0xC3);
    EXPECT_EQ(plug->Seen(), (PcLines{false, true, true})) << "DTR# high again, RTS# and TXD low";
}

// Bit-bang mode takes the chip from its serial driver: the serial port of the same adapter
// is gone meanwhile and back afterwards. Only the adapter's own USB location opens it.
TEST(Ft232rModel, BitBangModeHoldsTheAdapterUntilClosed)
{
    auto plug = std::make_shared<LoopbackPlug>();
    Ft232rModel::Options options;
    options.location = {3, 7, 0};
    auto adapter = std::make_shared<Ft232rModel>(plug, options);
    RegisterSimBackend();
    RegisterSimPort("sim:ft232r-serial", plug, SimSerialDevice::Options{false});
    SimBitBangPort port(adapter);

    EXPECT_FALSE(port.Open({3, 8, 0}, 0x15, 250000));
    EXPECT_EQ(port.LastError(), "device not found");
    ASSERT_TRUE(port.Open({3, 7, 0}, 0x15, 250000));
    EXPECT_FALSE(adapter->DriverAttached());
    std::unique_ptr<SimSerialDevice> serial = CreateSimSerialDevice("sim:ft232r-serial");
    EXPECT_FALSE(serial->Open("sim:ft232r-serial"));
    port.Close();
    EXPECT_TRUE(adapter->DriverAttached());
    EXPECT_TRUE(serial->Open("sim:ft232r-serial")) << serial->OpenErrorText();
    EXPECT_FALSE(port.Open({3, 7, 0}, 0x15, 250000)) << "the serial port is in use now";
    EXPECT_TRUE(adapter->DriverAttached());
    serial->Close();

    adapter->Unplug();
    EXPECT_FALSE(port.Open({3, 7, 0}, 0x15, 250000));
    UnregisterSimPort("sim:ft232r-serial");
}
