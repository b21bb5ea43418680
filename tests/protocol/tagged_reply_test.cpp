#include "protocol/tagged_reply.h"

#include <gtest/gtest.h>

using namespace kestrum;

namespace {

struct ScanCase {
    const char* name;
    std::string received;
    const char* tag;
    TaggedStatus status;
    const char* text;
};

}  // namespace

TEST(FindTaggedReply, Table)
{
    const ScanCase cases[] = {
        {"reply", "RE00C%RATE%115200", "RATE", TaggedStatus::Reply, "115200"},
        {"error frame", "ER008%DM%oops", "DM", TaggedStatus::Error, "oops"},
        {"lower-case length digits", "RE00c%RATE%115200", "RATE", TaggedStatus::Reply, "115200"},
        {"noise around the frame", "##\n%RATE%print\nxxRE00C%RATE%115200\r\nRE", "RATE", TaggedStatus::Reply,
         "115200"},
        {"body takes only its declared length", "RE008%RATE%11xyz", "RATE", TaggedStatus::Reply, "11"},
        {"empty reply ending the bytes, short tag", "RE004%DM%", "DM", TaggedStatus::Reply, ""},
        {"length shorter than the marker", "RE002%DM%tail", "DM", TaggedStatus::Reply, ""},
        {"body still arriving", "RE00C%RATE%1152", "RATE", TaggedStatus::NoFrame, ""},
        {"first header decides even if a later one is complete", "RE0FF%RATE%1RE00C%RATE%115200", "RATE",
         TaggedStatus::NoFrame, ""},
        {"another tag's complete frame", "RE00C%BAUD%115200", "RATE", TaggedStatus::NoFrame, ""},
        {"tag inside a longer tag", "RE00E%XRATE%115200", "RATE", TaggedStatus::NoFrame, ""},
        {"identifier is case-sensitive", "re00C%RATE%115200", "RATE", TaggedStatus::NoFrame, ""},
        {"other identifier", "OK00C%RATE%115200", "RATE", TaggedStatus::NoFrame, ""},
        {"non-hex length", "RE0G0%RATE%115200", "RATE", TaggedStatus::NoFrame, ""},
        {"marker without a header before it", "E00C%RATE%115200", "RATE", TaggedStatus::NoFrame, ""},
        {"bad header skipped, good one used", "REXYZ%RATE%RE00C%RATE%115200", "RATE", TaggedStatus::Reply,
         "115200"},
        {"fewer than five bytes", "RE00", "RATE", TaggedStatus::NoFrame, ""},
        {"empty tag never matches", "RE002%%", "", TaggedStatus::NoFrame, ""},
        {"binary bytes in the reply", std::string("RE008%TG%\0\x01\xff\n", 13), "TG", TaggedStatus::Reply,
         ""},
    };
    for (const ScanCase& c : cases) {
        const TaggedReply found = FindTaggedReply(c.received, c.tag);
        EXPECT_EQ(found.status, c.status) << c.name;
        if (std::string(c.name) == "binary bytes in the reply")
            EXPECT_EQ(found.text, std::string("\0\x01\xff\n", 4)) << c.name;
        else
            EXPECT_EQ(found.text, c.text) << c.name;
    }
}

TEST(FindTaggedReply, LargestLengthNeedsAllItsBytes)
{
    std::string frame = "REFFF%T%" + std::string(0xFFF - 3 - 1, 'x');
    EXPECT_EQ(FindTaggedReply(frame, "T").status, TaggedStatus::NoFrame);
    frame += 'y';
    const TaggedReply found = FindTaggedReply(frame, "T");
    ASSERT_EQ(found.status, TaggedStatus::Reply);
    EXPECT_EQ(found.text.size(), 0xFFFu - 3);
    EXPECT_EQ(found.text.back(), 'y');
}

TEST(BuildTaggedCommand, FramesTagAndCommand)
{
    EXPECT_EQ(BuildTaggedCommand("RATE", "print,/par/cur/term/rate"), "##\n%RATE%print,/par/cur/term/rate\n");
    EXPECT_EQ(BuildTaggedCommand("SPEED", ""), "##\n%SPEED%\n");
}
