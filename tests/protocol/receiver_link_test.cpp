#include "app/c_settings_file.h"
#include "link/c_serial_port.h"
#include "platform/closing_flag.h"
#include "protocol/c_device_info_query.h"
#include "protocol/c_receiver_link.h"
#include "sim/receiver_model.h"
#include "sim_ports.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <mutex>

using namespace kestrum;
using namespace kestrum::test;

namespace {

// The simulated receiver, also keeping every command line it understood (heard at its
// own rate).
class ListeningReceiver : public ReceiverModel {
public:
    using ReceiverModel::ReceiverModel;

    std::vector<std::string> Lines()
    {
        std::lock_guard lock(ModelMutex());
        return lines_;
    }

protected:
    // For derived hooks, which run with the model's lock held.
    bool HeardLineLocked(const std::string& text) const
    {
        return std::find(lines_.begin(), lines_.end(), text) != lines_.end();
    }

    void OnByte(const HeardByte& byte, SimTime now) override
    {
        if (!byte.garbled && (byte.value == '\n' || byte.value == '\r')) {
            if (!line_.empty())
                lines_.push_back(line_);
            line_.clear();
        } else {
            line_.push_back(byte.garbled ? '?' : static_cast<char>(byte.value));
        }
        ReceiverModel::OnByte(byte, now);
    }

private:
    std::string line_;
    std::vector<std::string> lines_;
};

// A receiver whose handshake lines are not wired: once told to use RTS/CTS it hears
// nothing more.
class MiswiredReceiver : public ListeningReceiver {
public:
    using ListeningReceiver::ListeningReceiver;

protected:
    void OnByte(const HeardByte& byte, SimTime now) override
    {
        if (!HeardLineLocked("set,cur/term/rtscts,on"))
            ListeningReceiver::OnByte(byte, now);
    }
};

std::shared_ptr<ListeningReceiver> Receiver(uint32_t rate, uint32_t multiple = 1)
{
    ReceiverConfig config;
    config.commands.rate = rate;
    config.rateMultiple = multiple;
    return std::make_shared<ListeningReceiver>(config);
}

// Shorter pauses and reply time-outs so a whole rate search takes seconds; the order of
// the steps does not change.

// A port opened as a query opens it, and a receiver link on it.
struct Connection {
    explicit Connection(const std::string& name, uint32_t speed = 115200, LinkSettings settings = {},
                        const ProtocolTiming& timing = QuickTiming())
        : port(std::make_unique<CSerialPort>(name)), link(std::move(settings), timing)
    {
        link.StatusChannel().LinkTo(user.Number());
        port->StatusChannel().LinkTo(user.Number());
        EXPECT_TRUE(port->SetBaudRate(speed));
        port->SetHandshake(0);
        port->StartReceive();
    }
    ~Connection() { ClosePort(std::move(port)); }

    int Connect(int tries = 3) { return link.Connect(*port, 0, 0, &cancel, tries); }
    std::vector<std::string> Tries() const { return user.TextsStartingWith("Try "); }

    StatusRecorder user;
    CEvent cancel{CEvent::ResetMode::Auto};
    std::unique_ptr<CPort> port;
    CReceiverLink link;
};

bool Heard(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

}  // namespace

TEST(ReceiverConnect, ReceiverAtTheStartingRateIsFoundAtOnceWithoutRateChange)
{
    auto receiver = Receiver(115200);
    ScopedSimPort sim("sim:rx-direct", receiver);
    Connection c("sim:rx-direct");
    EXPECT_EQ(c.Connect(), kConnected);
    EXPECT_EQ(c.Tries(), std::vector<std::string>{"Try 115200"});
    EXPECT_TRUE(c.user.TextsStartingWith("Change speed").empty());
    EXPECT_EQ(c.link.StatusChannel().Text(), "Receiver connected");
    std::vector<std::string> tagged;
    for (const std::string& line : receiver->Lines())
        if (line.starts_with("%"))
            tagged.push_back(line);
    EXPECT_EQ(tagged, (std::vector<std::string>{"%DM%dm", "%RATE%print,/par/cur/term/rate", "%SPEED%", "%CONNECT%"}));
}

TEST(ReceiverConnect, SearchFindsA9600ReceiverAndMovesItToTheStartingRate)
{
    auto receiver = Receiver(9600);
    ScopedSimPort sim("sim:rx-9600", receiver);
    Connection c("sim:rx-9600");
    EXPECT_EQ(c.Connect(), kConnected);
    EXPECT_EQ(c.Tries(), (std::vector<std::string>{"Try 115200", "Try 460800", "Try 230400", "Try 153600",
                                                   "Try 115200", "Try 57600", "Try 38400", "Try 28800",
                                                   "Try 19200", "Try 14400", "Try 9600"}));
    EXPECT_FALSE(c.user.TextsStartingWith("Found receiver at 9600").empty());
    EXPECT_EQ(c.user.TextsStartingWith("Change speed on "), std::vector<std::string>{"Change speed on 115200"});
    EXPECT_TRUE(Heard(receiver->Lines(), "%NEWSPEED%set,cur/term/rate,115200"));
    EXPECT_EQ(receiver->CommandRate(), 115200u);
    EXPECT_EQ(c.port->GetBaudRate(), 115200u);
    EXPECT_EQ(c.link.StatusChannel().Text(), "Receiver connected");
}

TEST(ReceiverConnect, RateMultipleMovesThePortToTheStartingRateDividedByQ)
{
    auto receiver = Receiver(460800, 4);  // heard at 115200
    ScopedSimPort sim("sim:rx-q4", receiver);
    Connection c("sim:rx-q4");
    EXPECT_EQ(c.Connect(), kConnected);
    EXPECT_EQ(c.user.TextsStartingWith("Change speed on "), std::vector<std::string>{"Change speed on 28800"});
    EXPECT_TRUE(Heard(receiver->Lines(), "%NEWSPEED%set,cur/term/rate,115200"));
    EXPECT_EQ(receiver->CommandRate(), 115200u);
    EXPECT_EQ(c.port->GetBaudRate(), 28800u);
}

TEST(ReceiverConnect, OnePassWithoutReceiverMakesSixteenAttempts)
{
    auto receiver = Receiver(115200);
    LineFaults silent;
    silent.silent = true;
    receiver->SetFaults(silent);
    ScopedSimPort sim("sim:rx-silent", receiver, Unpaced());
    Connection c("sim:rx-silent");
    EXPECT_EQ(c.Connect(1), kConnectNoAnswer);
    EXPECT_EQ(c.Tries().size(), 16u);
    EXPECT_EQ(c.Tries().front(), "Try 115200");
    EXPECT_EQ(c.Tries().back(), "Try 300");
    EXPECT_EQ(c.link.StatusChannel().Text(), "Can't connect with receiver");
}

TEST(ReceiverConnect, UnusableRateReplyGivesCantGetReceiverSpeed)
{
    for (const std::string reply : {"0", "fast", "921600", ""}) {
        ReceiverConfig config;
        config.commands.answers["print,/par/cur/term/rate"] = reply;
        ScopedSimPort sim("sim:rx-rate", std::make_shared<ListeningReceiver>(config));
        Connection c("sim:rx-rate");
        EXPECT_EQ(c.Connect(), kConnectSpeedUnreadable) << reply;
        EXPECT_EQ(c.link.StatusChannel().Text(), "Can't get receiver speed") << reply;
    }
}

TEST(ReceiverConnect, RefusedSpeedChangeGivesResult7)
{
    ReceiverConfig config;
    config.commands.rate = 460800;
    config.commands.refused.insert("set,cur/term/rate,115200");
    ScopedSimPort sim("sim:rx-refuse", std::make_shared<ListeningReceiver>(config));
    Connection c("sim:rx-refuse");
    EXPECT_EQ(c.Connect(), kConnectSpeedNotChanged);
    EXPECT_EQ(c.link.StatusChannel().Text(), "Can't change receiver speed");
}

TEST(ReceiverConnect, CancelDuringTheSearchGivesResult3)
{
    auto receiver = Receiver(300);  // far down the list
    ScopedSimPort sim("sim:rx-cancel", receiver, Unpaced());
    Connection c("sim:rx-cancel");
    c.user.CancelOn("Try 153600", c.cancel);
    EXPECT_EQ(c.Connect(), kConnectCancelled);
    EXPECT_EQ(c.link.StatusChannel().Text(), "Connecting aborted by User");
    EXPECT_EQ(c.Tries().back(), "Try 153600");
}

TEST(ReceiverConnect, ClosingFlagStopsTheSearchAsCancel)
{
    ScopedSimPort sim("sim:rx-closing", Receiver(300));
    Connection c("sim:rx-closing");
    ClosingFlag::Set(true);
    const int result = c.Connect();
    ClosingFlag::Set(false);
    EXPECT_EQ(result, kConnectCancelled);
    EXPECT_TRUE(c.Tries().empty());
}

TEST(ReceiverConnect, HandshakingOnIsTurnedOffForTheSearchAndBackOnAfter)
{
    ReceiverConfig config;
    config.commands.rtsCts = true;
    auto receiver = std::make_shared<ListeningReceiver>(config);
    ScopedSimPort sim("sim:rx-hs", receiver);
    Connection c("sim:rx-hs");
    c.port->SetHandshake(1);
    EXPECT_EQ(c.Connect(), kConnected);
    EXPECT_TRUE(Heard(receiver->Lines(), "set,cur/term/rtscts,on"));
    EXPECT_EQ(c.port->GetHandshake(), 1);
    EXPECT_TRUE(receiver->RtsCtsOn());
}

TEST(ReceiverConnect, LinkCheckFailingWithHandshakingGivesResult9AndTurnsItOff)
{
    ScopedSimPort sim("sim:rx-miswired", std::make_shared<MiswiredReceiver>(ReceiverConfig{}));
    Connection c("sim:rx-miswired");
    c.port->SetHandshake(1);
    EXPECT_EQ(c.Connect(), kConnectHandshakeFailed);
    EXPECT_EQ(c.link.StatusChannel().Text(), "Can't connect with receiver using Hadshaking");
    EXPECT_EQ(c.port->GetHandshake(), 0);
}

TEST(ReceiverConnect, PortRefusingTheComputedRateGivesResult5WithItsName)
{
    // Reports 460800 while heard at 300: the port would have to run at 300 / 1536 = 0.
    auto receiver = Receiver(460800, 1536);
    receiver->SetPaced(false);
    ScopedSimPort sim("sim:rx-ratio", receiver, Unpaced());
    Connection c("sim:rx-ratio", 300);
    EXPECT_EQ(c.Connect(), kConnectRateRefused);
    EXPECT_EQ(c.link.StatusChannel().Text(), "Port sim:rx-ratio does not support 0 rate");
}

TEST(ReceiverLink, EchoOffStringComesFromSettingsAndGoesBackOnlyWhenSaving)
{
    const std::string path = (std::filesystem::temp_directory_path() / "kestrum-echo-off-test.ini").string();
    std::remove(path.c_str());
    CSettingsFile file(path);
    ASSERT_TRUE(file.WriteText("PortSettings", "EchoOff", "#QUIET#"));
    {
        CReceiverLink link(LinkSettings{&file, [] { return false; }});
        EXPECT_EQ(link.EchoOff(), "#QUIET#");
    }
    ASSERT_TRUE(file.WriteText("PortSettings", "Other", "1"));
    std::remove(path.c_str());
    {
        CReceiverLink link(LinkSettings{&file, [] { return false; }});
        EXPECT_EQ(link.EchoOff(), "#OFF#");
    }
    EXPECT_EQ(file.GetText("PortSettings", "EchoOff", "none"), "none");
    {
        CReceiverLink link(LinkSettings{&file, [] { return true; }});
    }
    EXPECT_EQ(file.GetText("PortSettings", "EchoOff", "none"), "#OFF#");
    std::remove(path.c_str());
}

TEST(ReceiverLink, ReadRateTakesTheLeadingDecimalNumber)
{
    EXPECT_EQ(CReceiverLink::ReadRate("115200"), 115200);
    EXPECT_EQ(CReceiverLink::ReadRate(" 9600 baud"), 9600);
    EXPECT_EQ(CReceiverLink::ReadRate("fast"), 0);
    EXPECT_EQ(CReceiverLink::ReadRate("-5"), -5);
    EXPECT_GT(CReceiverLink::ReadRate("99999999999999999999"), 460800);
}

// ---- The connection procedure as the cable carries it ------------------------------------

namespace {

using Kind = WireEvent::Kind;

const std::string kEchoOffLines = "##\n#OFF#\nset,cur/term/rtscts,off\n";
const std::string kProbe = kEchoOffLines + "#OFF#\ndm\n" + kEchoOffLines;

// A tagged command as it goes out: a "##" line, the command, and another "##" line.
std::string Tagged(const std::string& tag, const std::string& command)
{
    return "##\n##\n%" + tag + "%" + command + "\n##\n";
}

int64_t Ms(SimTime t)
{
    return t.count() / 1000;
}

// Pauses are counted in whole milliseconds of a tick count, so one may be up to a
// millisecond short of its length on a finer clock.
int64_t Pause(int ms)
{
    return ms - 1;
}

}  // namespace

TEST(ConnectionWire, FoundAtOnceTheReceiverHearsEchoOffProbeAndFourTaggedCommandsWithShippedPauses)
{
    auto receiver = Receiver(115200);
    ScopedSimPort sim("sim:rx-wire", receiver, Unpaced());
    Connection c("sim:rx-wire", 115200, {}, ProtocolTiming{});
    receiver->ClearWireLog();
    ASSERT_EQ(c.Connect(), kConnected);
    const std::vector<WireEvent> wire = receiver->WireEvents();
    EXPECT_EQ(wire::Bytes(wire, Kind::FromPc),
              kProbe + Tagged("DM", "dm") + Tagged("RATE", "print,/par/cur/term/rate") + Tagged("SPEED", "") +
                  Tagged("CONNECT", ""));

    // The echo-off line settles before the probe follows it, and each tagged command
    // waits after its leading "##" line.
    const wire::Timeline sent = wire::Sent(wire, Kind::FromPc);
    EXPECT_GE(Ms(sent.GapBefore(kEchoOffLines.size())), Pause(kSettlePauseMs));
    const std::vector<size_t> commands = sent.Find("##\n##\n%");
    ASSERT_EQ(commands.size(), 4u);
    for (size_t at : commands)
        EXPECT_GE(Ms(sent.GapBefore(at + 3)), Pause(kExchangePauseMs)) << sent.bytes.substr(at + 3, 10);
}

TEST(ConnectionWire, EveryProbeGoesOutAtTheRateItTriesAndTheNewSpeedAtTheOldRate)
{
    auto receiver = Receiver(9600);
    ScopedSimPort sim("sim:rx-wire-9600", receiver, Unpaced());
    Connection c("sim:rx-wire-9600");
    receiver->ClearWireLog();
    ASSERT_EQ(c.Connect(), kConnected);
    const std::vector<WireEvent> wire = receiver->WireEvents();
    const wire::Timeline sent = wire::Sent(wire, Kind::FromPc);
    std::vector<uint32_t> probeRates;
    for (size_t at : sent.Find(kProbe))
        probeRates.push_back(wire::RateAt(wire, sent.at[at]));
    EXPECT_EQ(probeRates, (std::vector<uint32_t>{115200, 460800, 230400, 153600, 115200, 57600, 38400, 28800, 19200,
                                                 14400, 9600}));
    const auto rateOf = [&](const std::string& text) {
        const std::vector<size_t> at = sent.Find(text);
        return at.size() == 1 ? wire::RateAt(wire, sent.at[at[0]]) : 0u;
    };
    EXPECT_EQ(rateOf(Tagged("RATE", "print,/par/cur/term/rate")), 9600u);
    EXPECT_EQ(rateOf(Tagged("NEWSPEED", "set,cur/term/rate,115200")), 9600u);
    EXPECT_EQ(rateOf(Tagged("SPEED", "")), 115200u);
    EXPECT_EQ(rateOf(Tagged("CONNECT", "")), 115200u);
    // Before telling the receiver, the port tries the new rate and comes back.
    const std::vector<uint32_t> rates = wire::Values(wire, Kind::Rate);
    ASSERT_GE(rates.size(), 3u);
    EXPECT_EQ(std::vector<uint32_t>(rates.end() - 3, rates.end()), (std::vector<uint32_t>{115200, 9600, 115200}));
}

TEST(ConnectionWire, HandshakingIsSwitchedOnByARawLineBetweenTheLinkChecks)
{
    ReceiverConfig config;
    config.commands.rtsCts = true;
    auto receiver = std::make_shared<ListeningReceiver>(config);
    ScopedSimPort sim("sim:rx-wire-hs", receiver, Unpaced());
    Connection c("sim:rx-wire-hs");
    c.port->SetHandshake(1);
    receiver->ClearWireLog();
    ASSERT_EQ(c.Connect(), kConnected);
    const std::string sent = wire::Bytes(receiver->WireEvents(), Kind::FromPc);
    const std::string tail = Tagged("SPEED", "") + "##\nset,cur/term/rtscts,on\n" + Tagged("CONNECT", "") +
                             Tagged("CONNECT", "");
    EXPECT_TRUE(sent.ends_with(tail)) << sent;
}
