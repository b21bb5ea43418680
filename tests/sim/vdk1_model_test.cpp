#include "sim/vdk1_model.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using namespace kestrum;

namespace {

// Plays the PC's side of the cable against the model: control lines for the SPI
// interface, bytes for the frame protocol, and the passing of time.
class Cable {
public:
    explicit Cable(Vdk1Model& model) : model_(model)
    {
        model_.SetPaced(false);
        model_.Attach(lines_, now_);
    }

    void Dtr(bool on) { Change([&] { lines_.dtr = on; }); }
    void EnterProgramming()
    {
        Dtr(false);
        Dtr(true);
    }
    void Clock(bool bit)
    {
        Change([&] { lines_.brk = !bit; });
        Change([&] { lines_.rts = true; });
        Change([&] { lines_.rts = false; });
    }
    // Shifts one byte out and one in: the unit's bit is on DSR (inverted) before each clock.
    uint8_t Transfer(uint8_t out)
    {
        uint8_t in = 0;
        for (int i = 7; i >= 0; --i) {
            in = static_cast<uint8_t>((in << 1) | (model_.Modem().dsr ? 0 : 1));
            Clock(((out >> i) & 1) != 0);
        }
        return in;
    }
    std::array<uint8_t, 4> Command(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
    {
        return {Transfer(a), Transfer(b), Transfer(c), Transfer(d)};
    }
    void Enable() { ASSERT_EQ(Command(0xAC, 0x53, 0, 0)[2], 0x53); }
    uint8_t Read(uint32_t address)
    {
        return Command(address & 1 ? 0x28 : 0x20, static_cast<uint8_t>(address >> 9),
                       static_cast<uint8_t>(address >> 1), 0)[3];
    }

    void Wait(SimTime span) { now_ += span; }
    void Send(const std::string& bytes) { model_.Hear(bytes, Line(), now_); }
    std::string ReceiveFor(SimTime span)
    {
        now_ += span;
        std::vector<DeliveredByte> bytes;
        model_.TakeOutput(bytes, Line(), now_);
        std::string text;
        for (const auto& b : bytes)
            text.push_back(static_cast<char>(b.value));
        return text;
    }

private:
    static SerialLineSettings Line() { return SerialLineSettings{}; }
    template <typename F> void Change(F change)
    {
        change();
        model_.ChangeLines(lines_, now_);
    }

    Vdk1Model& model_;
    PcLines lines_;
    SimTime now_ = SimMs(5000);
};

std::string Framed(const std::string& body)
{
    unsigned sum = 0;
    for (char c : body)
        sum += static_cast<uint8_t>(c);
    return body + static_cast<char>((sum & 0x7F) | 0x80);
}

Vdk1SpiTarget::Flash Erased()
{
    Vdk1SpiTarget::Flash flash;
    flash.fill(0xFF);
    return flash;
}

}  // namespace

TEST(Vdk1Model, AnnouncesAfterBootThenOnceASecondButNotWhileHeldForProgramming)
{
    Vdk1Model model;
    Cable cable(model);
    EXPECT_EQ(cable.ReceiveFor(SimMs(50)), "");
    EXPECT_EQ(cable.ReceiveFor(SimMs(60)), Framed("@0p"));
    EXPECT_EQ(cable.ReceiveFor(SimMs(2000)), Framed("@0p") + Framed("@0p"));
    cable.EnterProgramming();
    EXPECT_EQ(cable.ReceiveFor(SimMs(3000)), "");
    cable.Dtr(false);
    EXPECT_EQ(cable.ReceiveFor(SimMs(150)), Framed("@0p"));
}

TEST(Vdk1Model, AnswersFramedQueriesWithVersionsOrFailure)
{
    struct Case {
        std::string frame;
        std::string reply;
    } cases[] = {
        {std::string("#V") + char(0x79), Framed("@2V201.00")},
        {std::string("#V") + char(0x7A), Framed("@3V")},
        {std::string("#X") , Framed("@3X")},
        {std::string("noise#V") + char(0x79), Framed("@2V201.00")},
    };
    for (const Case& c : cases) {
        Vdk1Model model;
        Cable cable(model);
        cable.ReceiveFor(SimMs(150));  // the boot announcement
        cable.Send(c.frame);
        EXPECT_EQ(cable.ReceiveFor(SimMs(10)), c.reply) << c.frame;
    }
}

TEST(Vdk1Model, FrameChecksumIsNeverTheFrameStart)
{
    // "@2V2AAAAB" sums to 0x240: a plain sum modulo 256 would be '@'.
    Vdk1Model::Options options;
    options.firmwareVersion = "AAAAB";
    Vdk1Model model(options);
    Cable cable(model);
    cable.ReceiveFor(SimMs(150));
    cable.Send(std::string("#V") + char(0x79));
    const std::string reply = cable.ReceiveFor(SimMs(10));
    ASSERT_EQ(reply.size(), 10u);
    EXPECT_EQ(reply.substr(0, 9), "@2V2AAAAB");
    EXPECT_NE(reply[9], '@');
}

TEST(Vdk1Model, ProgrammingEnableEchoesOnlyAfterTheMissedClocksAreMadeUp)
{
    for (int slip : {0, 1, 7, 8, 31}) {
        Vdk1Model model;
        model.SlipOnReset(slip);
        Cable cable(model);
        cable.EnterProgramming();
        int attempts = 1;
        while (cable.Command(0xAC, 0x53, 0, 0)[2] != 0x53 && attempts < 40) {
            cable.Clock(false);
            ++attempts;
        }
        EXPECT_EQ(attempts, slip + 1) << "slip " << slip;
    }
}

TEST(Vdk1Model, InstructionsNeedProgrammingEnable)
{
    Vdk1Model model;
    const auto factory = model.FlashMemory();
    Cable cable(model);
    cable.EnterProgramming();
    cable.Command(0xAC, 0x80, 0, 0);
    EXPECT_EQ(model.ChipErases(), 0);
    EXPECT_EQ(cable.Read(0), 0xFF);  // nothing is driven on MISO
    EXPECT_EQ(model.FlashMemory(), factory);
    cable.Enable();
    EXPECT_EQ(cable.Read(1), factory[1]);
}

TEST(Vdk1Model, ErasesWritesPagesAndReadsBack)
{
    Vdk1Model model;
    Cable cable(model);
    cable.EnterProgramming();
    cable.Enable();
    cable.Command(0xAC, 0x80, 0, 0);
    EXPECT_EQ(model.FlashMemory(), Erased());

    // Page 3 = word address 384: 0x4C 0x01 0x80 0x00.
    cable.Command(0x40, 0, 0, 0x12);
    cable.Command(0x48, 0, 0, 0x34);
    cable.Command(0x48, 0, 127, 0x56);
    cable.Command(0x4C, 0x01, 0x80, 0);
    EXPECT_EQ(cable.Read(3 * 256), 0x12);
    EXPECT_EQ(cable.Read(3 * 256 + 1), 0x34);
    EXPECT_EQ(cable.Read(3 * 256 + 255), 0x56);
    EXPECT_EQ(cable.Read(3 * 256 + 2), 0xFF);
    EXPECT_EQ(cable.Read(2 * 256), 0xFF);

    // Written again without an erase, a cell keeps only the bits both writes left.
    cable.Command(0x40, 0, 0, 0x0F);
    cable.Command(0x4C, 0x01, 0x80, 0);
    EXPECT_EQ(cable.Read(3 * 256), 0x02);
    EXPECT_EQ(model.PagesWritten(), 2);
}

TEST(Vdk1Model, InstructionsWhileErasingOrWritingAreLostWhenBusyTimesAreEnforced)
{
    Vdk1Model::Options options;
    options.enforceBusyTimes = true;
    Vdk1Model model(options);
    Cable cable(model);
    cable.EnterProgramming();
    cable.Enable();
    cable.Command(0xAC, 0x80, 0, 0);
    cable.Command(0x40, 0, 0, 0x00);  // lost: still erasing
    cable.Wait(SimMs(100));
    cable.Command(0x40, 0, 0, 0x12);
    cable.Command(0x4C, 0, 0, 0);
    cable.Command(0x40, 0, 1, 0x34);  // lost: still writing page 0
    EXPECT_EQ(cable.Read(0), 0xFF);   // so is a read
    cable.Wait(SimMs(50));
    EXPECT_EQ(cable.Read(0), 0x12);
    EXPECT_EQ(cable.Read(2), 0xFF);
    EXPECT_EQ(model.PagesWritten(), 1);
}

TEST(Vdk1Model, StuckCellStaysErased)
{
    Vdk1Model model;
    model.SetStuckCells({0x1234});
    Cable cable(model);
    cable.EnterProgramming();
    cable.Enable();
    cable.Command(0xAC, 0x80, 0, 0);
    cable.Command(0x40, 0, 0x1A, 0x0C);  // word 0x1A of page 0x12 is byte 0x1234
    cable.Command(0x48, 0, 0x1A, 0x0D);
    cable.Command(0x4C, 0x09, 0x00, 0);
    EXPECT_EQ(cable.Read(0x1234), 0xFF);
    EXPECT_EQ(cable.Read(0x1235), 0x0D);
}

TEST(Vdk1Model, ReportsTheVersionOfTheFlashItRunsAndIsSilentWhenErased)
{
    Vdk1Model model;
    Cable cable(model);
    cable.EnterProgramming();
    cable.Enable();
    cable.Command(0xAC, 0x80, 0, 0);
    cable.Dtr(false);
    EXPECT_FALSE(model.ReportedFirmware());
    cable.Send(std::string("#V") + char(0x79));
    EXPECT_EQ(cable.ReceiveFor(SimMs(3000)), "");

    Vdk1SpiTarget::Flash image = Erased();
    WriteVersionRecord(image, "02.31");
    model.LoadFlash(image);
    cable.EnterProgramming();
    cable.Dtr(false);
    cable.ReceiveFor(SimMs(150));
    cable.Send(std::string("#V") + char(0x79));
    EXPECT_EQ(cable.ReceiveFor(SimMs(10)), Framed("@2V202.31"));

    image[kVersionRecordOffset] = 0;  // no record, but code in Flash
    model.LoadFlash(image);
    EXPECT_EQ(model.ReportedFirmware(), "?????");
}

TEST(Vdk1Model, AbsentUnitKeepsDsrAndIgnoresTheLines)
{
    for (bool level : {false, true}) {
        Vdk1Model::Options options;
        options.present = false;
        options.absentDsr = level;
        Vdk1Model model(options);
        Cable cable(model);
        cable.EnterProgramming();
        EXPECT_EQ(cable.Command(0xAC, 0x53, 0, 0)[2], level ? 0x00 : 0xFF);
        EXPECT_EQ(model.Modem().dsr, level);
        EXPECT_EQ(cable.ReceiveFor(SimMs(3000)), "");
    }
}
