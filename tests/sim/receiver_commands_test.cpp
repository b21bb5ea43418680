#include "model_driver.h"
#include "sim/receiver_model.h"

#include <gtest/gtest.h>

using namespace kestrum;
using namespace kestrum::test;

namespace {

struct Exchange {
    const char* said;
    const char* answered;
};

std::shared_ptr<ReceiverModel> Receiver(ReceiverConfig config = {})
{
    return std::make_shared<ReceiverModel>(config);
}

}  // namespace

TEST(ReceiverCommands, TaggedCommandsGetFramedReplies)
{
    ReceiverConfig config;
    config.info = ReceiverInfo{"RX-7", "ID42", "3.1 Jun,01,2026", "B2", "8192", "1.9", "P4"};
    ModelDriver pc(Receiver(config));
    const Exchange table[] = {
        {"##\n%DM%dm\n##\n", "RE004%DM%"},
        {"%RATE%print,/par/cur/term/rate\n", "RE00C%RATE%115200"},
        {"%SPEED%\n", "RE007%SPEED%"},
        {"%MODEL%print,/par/rcv/model\n", "RE00B%MODEL%RX-7"},
        {"%IDENT%print,/par/rcvid\n", "RE00B%IDENT%ID42"},
        {"%FRMWR%print,/par/version/main\n", "RE016%FRMWR%3.1 Jun,01,2026"},
        {"%BOARD%print,/par/rcv/ver/board\n", "RE009%BOARD%B2"},
        {"%RAMSZ%print,/par/rcv/mem\n", "RE00B%RAMSZ%8192"},
        {"%POWER_BOARD%print,/par/rcv/ver/pow/fw\n", "RE010%POWER_BOARD%1.9"},
        {"%POWER_BOARD%print,/par/rcv/ver/pow/hw\n", "RE00F%POWER_BOARD%P4"},
        {"%X%print,/par/nothing\n", "ER014%X%unknown parameter"},
        {"%X%fly,away\n", "ER012%X%unknown command"},
        {"%X%set,cur/term/rate,12345\n", "ER00B%X%bad rate"},
        {"print,/par/rcv/model\n", ""},               // untagged: carried out, no reply
        {"UUUU##\n##\n%T%dm\n", "RE003%T%"},          // noise before "##" does no harm
        {"%A%dm\r%B%dm\r", "RE003%A%RE003%B%"},       // CR ends a line too
    };
    for (const Exchange& row : table) {
        pc.Say(row.said);
        EXPECT_EQ(pc.Collect(), row.answered) << row.said;
    }
}

TEST(ReceiverCommands, ConfiguredAnswersRefusalsAndSilence)
{
    ReceiverConfig config;
    config.commands.answers["print,/par/rcv/model"] = "  Padded  ";
    config.commands.refused.insert("print,/par/rcvid");
    config.commands.unanswered.insert("print,/par/rcv/mem");
    ModelDriver pc(Receiver(config));
    pc.Say("%MODEL%print,/par/rcv/model\n");
    EXPECT_EQ(pc.Collect(), "RE011%MODEL%  Padded  ");
    pc.Say("%IDENT%print,/par/rcvid\n");
    EXPECT_EQ(pc.Collect(), "ER00E%IDENT%refused");
    pc.Say("%RAMSZ%print,/par/rcv/mem\n");
    EXPECT_EQ(pc.Collect(), "");
}

TEST(ReceiverCommands, EchoRepeatsEverythingUntilTheEchoOffString)
{
    ReceiverConfig config;
    config.commands.echo = true;
    auto receiver = Receiver(config);
    ModelDriver pc(receiver);
    pc.Say("%A%dm\n");
    EXPECT_EQ(pc.Collect(), "%A%dm\nRE003%A%");
    pc.Say("##\n#OFF#\n");
    EXPECT_EQ(pc.Collect(), "##\n#OFF#\n");
    EXPECT_FALSE(receiver->EchoOn());
    pc.Say("%A%dm\n");
    EXPECT_EQ(pc.Collect(), "RE003%A%");
}

TEST(ReceiverCommands, RateChangeAnswersAtTheOldRateThenMoves)
{
    auto receiver = Receiver();
    ModelDriver pc(receiver, 115200);
    pc.Say("%NEWSPEED%set,cur/term/rate,9600\n");
    EXPECT_EQ(pc.Collect(), "RE00A%NEWSPEED%");
    EXPECT_EQ(receiver->CommandRate(), 9600u);
    pc.Say("##\n%SPEED%\n");  // still at 115200: garbage to the receiver
    EXPECT_EQ(pc.Collect().find("RE"), std::string::npos);
    pc.SetRate(9600);
    pc.Say("##\n%SPEED%\n");
    EXPECT_EQ(pc.Collect(), "RE007%SPEED%");
}

TEST(ReceiverCommands, BytesAtAnotherRateAreGarbageBothWays)
{
    ModelDriver pc(Receiver(), 9600);
    pc.Say("##\n%DM%dm\n##\n");
    const std::string heard = pc.Collect();
    EXPECT_EQ(heard.find("RE"), std::string::npos);
}

TEST(ReceiverCommands, RateMultipleMakesTheReceiverReportAMultipleOfTheLineRate)
{
    ReceiverConfig config;
    config.commands.rate = 460800;
    config.rateMultiple = 4;
    ModelDriver pc(Receiver(config), 115200);
    pc.Say("%RATE%print,/par/cur/term/rate\n");
    EXPECT_EQ(pc.Collect(), "RE00C%RATE%460800");
    // Told 115200, it runs its line at 28800.
    pc.Say("%NEWSPEED%set,cur/term/rate,115200\n");
    EXPECT_EQ(pc.Collect(), "RE00A%NEWSPEED%");
    pc.SetRate(28800);
    pc.Say("##\n%SPEED%\n");
    EXPECT_EQ(pc.Collect(), "RE007%SPEED%");
}

TEST(ReceiverCommands, HandshakingHoldsRepliesWhileRtsIsOff)
{
    auto receiver = Receiver();
    ModelDriver pc(receiver);
    pc.Say("%H%set,cur/term/rtscts,on\n");
    EXPECT_EQ(pc.Collect(), "RE003%H%");
    EXPECT_TRUE(receiver->RtsCtsOn());
    pc.Lines(PcLines{true, false, false});
    pc.Say("%C%\n");
    EXPECT_EQ(pc.Collect(), "");
    pc.Lines(PcLines{true, true, false});
    EXPECT_EQ(pc.Collect(), "RE003%C%");
    pc.Say("##\nset,cur/term/rtscts,off\n");  // untagged, as the connection search sends it
    pc.Lines(PcLines{true, false, false});
    pc.Say("%C%\n");
    EXPECT_EQ(pc.Collect(), "RE003%C%");
}

TEST(ReceiverCommands, ResetAndSleepRestartIntoTheBootLoaderWindow)
{
    for (const char* command : {"##\n##\nset,reset,yes\n", "##\n##\nset,sleep,on\n"}) {
        auto receiver = Receiver();
        ModelDriver pc(receiver);
        pc.Say(command);
        pc.Pass(5);
        EXPECT_EQ(receiver->CurrentMode(), ReceiverModel::Mode::BootWindow) << command;
        pc.Pass(2000);  // no capture stream: the firmware starts again
        EXPECT_EQ(receiver->CurrentMode(), ReceiverModel::Mode::Firmware) << command;
        pc.Say("%A%dm\n");
        EXPECT_EQ(pc.Collect(), "RE003%A%");
    }
}

TEST(ReceiverCommands, LineFaultsChangeWhatReachesThePc)
{
    auto receiver = Receiver();
    ModelDriver pc(receiver);
    LineFaults faults;
    faults.silent = true;
    receiver->SetFaults(faults);
    pc.Say("%A%dm\n");
    EXPECT_EQ(pc.Collect(), "");

    faults = LineFaults{};
    faults.slowReplyMs = 400;
    receiver->SetFaults(faults);
    pc.Say("%A%dm\n");
    EXPECT_EQ(pc.Collect(100), "");
    EXPECT_EQ(pc.Collect(400), "RE003%A%");

    faults = LineFaults{};
    faults.dropToPcEvery = 2;
    receiver->SetFaults(faults);
    pc.Say("%A%dm\n");
    EXPECT_EQ(pc.Collect(), "R03A");  // every second byte lost

    faults = LineFaults{};
    faults.garbleFromPcEvery = 3;  // the command's third byte is spoilt
    receiver->SetFaults(faults);
    pc.Say("%A%dm\n");
    EXPECT_EQ(pc.Collect(), "");
}
