#include "model_driver.h"
#include "sim/receiver_model.h"
#include "sim/wire_log.h"
#include "sim/wire_log_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace kestrum;
using namespace kestrum::test;
using Kind = WireEvent::Kind;

namespace {

std::vector<std::string> Lines(const std::vector<WireEvent>& events)
{
    std::vector<std::string> lines;
    for (const WireEvent& event : events)
        lines.push_back(WireLog::Format(event, events.front().at));
    return lines;
}

} // namespace

TEST(WireLog, KeepsBothDirectionsAndEveryLineChangeWithTheirTimes)
{
    ReceiverConfig config;
    config.replyDelayMs = 2;
    auto receiver = std::make_shared<ReceiverModel>(config);
    ModelDriver pc(receiver); // opens with DTR and RTS on
    pc.Say("%A%dm\n");
    EXPECT_EQ(pc.Collect(10), "RE003%A%");
    pc.Lines(PcLines{false, true, false});
    pc.Pass(1);
    pc.Lines(PcLines{false, false, true});
    pc.SetRate(9600);
    pc.Say("x");

    const std::vector<WireEvent> wire = receiver->WireEvents();
    EXPECT_EQ(Lines(wire), (std::vector<std::string>{
                               "0.000000 open dtr=1 rts=1 break=0",
                               "0.000000 rate 115200",
                               "0.000000 pc 25 '%'",
                               "0.000000 pc 41 'A'",
                               "0.000000 pc 25 '%'",
                               "0.000000 pc 64 'd'",
                               "0.000000 pc 6D 'm'",
                               "0.000000 pc 0A",
                               "0.002087 device 52 'R'",
                               "0.002174 device 45 'E'",
                               "0.002261 device 30 '0'",
                               "0.002348 device 30 '0'",
                               "0.002435 device 33 '3'",
                               "0.002522 device 25 '%'",
                               "0.002609 device 41 'A'",
                               "0.002696 device 25 '%'",
                               "0.010000 dtr 0",
                               "0.011000 rts 0",
                               "0.011000 break 1",
                               "0.011000 rate 9600",
                               "0.011000 pc 78 'x'",
                           }));
    receiver->Detach(pc.Now() + SimMs(5));
    EXPECT_EQ(receiver->WireEvents().back(), (WireEvent{pc.Now() + SimMs(5), Kind::Close, 0}));
}

TEST(WireLog, AByteHandedOverLateStillLandsInTimeOrder)
{
    WireLog log;
    log.Record({SimMs(10), Kind::FromPc, 'a'});
    log.Record({SimMs(30), Kind::FromPc, 'c'});
    log.Record({SimMs(20), Kind::ToPc, 'b'});
    log.Record({SimMs(30), Kind::ToPc, 'd'});
    const std::vector<WireEvent> events(log.Events().begin(), log.Events().end());
    EXPECT_EQ(wire::Values(events, Kind::FromPc), (std::vector<uint32_t>{'a', 'c'}));
    EXPECT_EQ(events[1].value, 'b');
    EXPECT_EQ(events[3].value, 'd') << "equal times keep the order they came in";
}

TEST(WireLog, StreamingHoldsBackTheLastSecondUntilFlushed)
{
    WireLog log;
    std::vector<WireEvent> written;
    log.StreamTo([&](const WireEvent& event) { written.push_back(event); });
    log.Record({SimMs(0), Kind::FromPc, 1});
    log.Record({SimMs(900), Kind::FromPc, 2});
    EXPECT_TRUE(written.empty());
    log.Record({SimMs(1500), Kind::FromPc, 3});
    log.Record({SimMs(1200), Kind::ToPc, 4}); // late, but still within the second held back
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].value, 1u);
    log.Flush();
    EXPECT_EQ(wire::Values(written, Kind::FromPc), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(written[2].value, 4u);
    EXPECT_TRUE(log.Events().empty());
}

TEST(WireLog, ClearedLogStartsWithTheRateInForce)
{
    auto receiver = std::make_shared<ReceiverModel>();
    ModelDriver pc(receiver, 57600);
    pc.Say("x");
    receiver->ClearWireLog();
    EXPECT_EQ(wire::Values(receiver->WireEvents(), Kind::Rate), std::vector<uint32_t>{57600});
    EXPECT_EQ(wire::Bytes(receiver->WireEvents(), Kind::FromPc), "");
}

TEST(WireLog, TimelineFindsTextAndThePauseBeforeAnyByte)
{
    std::vector<WireEvent> events;
    int ms = 0;
    for (char c : std::string("ab##\nab"))
        events.push_back({SimMs(ms += (c == '#' ? 100 : 1)), Kind::FromPc, static_cast<uint8_t>(c)});
    const wire::Timeline sent = wire::Sent(events, Kind::FromPc);
    EXPECT_EQ(sent.Find("ab"), (std::vector<size_t>{0, 5}));
    EXPECT_EQ(sent.GapBefore(2), SimMs(100));
    EXPECT_EQ(sent.GapBefore(0), SimTime(0));
    EXPECT_EQ(wire::RateAt(events, SimMs(50)), 0u);
}

TEST(WireLogFile, WritesEveryEventOnceTheFileIsClosed)
{
    const std::string path = (std::filesystem::temp_directory_path() / "kestrum-wire-log-test.txt").string();
    auto receiver = std::make_shared<ReceiverModel>();
    {
        WireLogFile file;
        std::string error;
        ASSERT_TRUE(file.Start(path, receiver, error)) << error;
        ModelDriver pc(receiver);
        pc.Say("#");
        pc.Pass(2000);
        pc.Lines(PcLines{false, true, false});
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "# times in seconds from 1000.000000 s of the steady clock\n"
                          "0.000000 open dtr=1 rts=1 break=0\n0.000000 rate 115200\n0.000000 pc 23 '#'\n"
                          "2.000000 dtr 0\n");
    std::remove(path.c_str());

    WireLogFile nowhere;
    std::string error;
    EXPECT_FALSE(nowhere.Start("/nonexistent-dir/wire.log", receiver, error));
    EXPECT_EQ(error, "cannot write the wire log /nonexistent-dir/wire.log: No such file or directory");
}
