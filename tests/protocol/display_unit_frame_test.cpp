#include "protocol/display_unit_frame.h"

#include <gtest/gtest.h>

using namespace kestrum;

TEST(BuildDisplayUnitFrame, VersionQueryBytes)
{
    EXPECT_EQ(BuildDisplayUnitFrame("V", ""), std::string("\x23\x56\x79"));
}

TEST(BuildDisplayUnitFrame, ChecksumWrapsModulo256)
{
    // 0x23 + 3 * 0x7a = 0x191, kept modulo 256
    const std::string frame = BuildDisplayUnitFrame("z", "zz");
    ASSERT_EQ(frame.size(), 5u);
    EXPECT_EQ(static_cast<uint8_t>(frame.back()), 0x91);
}

namespace {

struct ReplyCase {
    const char* name;
    std::string received;
    DisplayUnitReplyState state;
    const char* reply;
};

}  // namespace

TEST(FindDisplayUnitReply, Table)
{
    const ReplyCase cases[] = {
        {"six characters, checksum, next frame", "@2V1A2345c@0p", DisplayUnitReplyState::Complete, "1A2345"},
        {"echo and earlier frame before the prefix", "#Vy@0p@2V1A2345c@", DisplayUnitReplyState::Complete,
         "1A2345"},
        {"closing @ not yet arrived", "@2V1A2345c", DisplayUnitReplyState::Pending, ""},
        {"nothing yet", "", DisplayUnitReplyState::Pending, ""},
        {"failure without reply", "@0p@3x", DisplayUnitReplyState::Failed, ""},
        {"reply wins over failure", "@3@2V1A2345c@", DisplayUnitReplyState::Complete, "1A2345"},
        {"another tag's reply", "@2W1A2345c@", DisplayUnitReplyState::Pending, ""},
        {"@ right after the prefix is a reply character", "@2V@x@", DisplayUnitReplyState::Complete, "@"},
    };
    for (const ReplyCase& c : cases) {
        std::string reply;
        EXPECT_EQ(FindDisplayUnitReply(c.received, "V", reply), c.state) << c.name;
        EXPECT_EQ(reply, c.reply) << c.name;
    }
}

TEST(DiscardBeforeDisplayUnitReply, KeepsPrefixAndPartialMarkers)
{
    std::string received = "@0p@0p@2V12";
    DiscardBeforeDisplayUnitReply(received, "V");
    EXPECT_EQ(received, "@2V12");

    received = "@0p@0p@2";  // the prefix may be completed by the next bytes
    DiscardBeforeDisplayUnitReply(received, "V");
    EXPECT_EQ(received, "@2");
    received += "V1A2345c@";
    std::string reply;
    EXPECT_EQ(FindDisplayUnitReply(received, "V", reply), DisplayUnitReplyState::Complete);
    EXPECT_EQ(reply, "1A2345");

    received = "xxxx@";  // a failure mark split over two polls is still seen
    DiscardBeforeDisplayUnitReply(received, "V");
    received += "3";
    EXPECT_EQ(FindDisplayUnitReply(received, "V", reply), DisplayUnitReplyState::Failed);
}
