#include "loader/boot_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrum;

TEST(BootProtocol, Crc16MatchesTheXmodemCheckValues)
{
    const std::string check = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*>(check.data());
    EXPECT_EQ(boot::Crc16(0, bytes, check.size()), 0x31C3);
    EXPECT_EQ(boot::Crc16(0, nullptr, 0), 0);
    // Chaining: two pieces give the CRC of the whole.
    EXPECT_EQ(boot::Crc16(boot::Crc16(0, bytes, 4), bytes + 4, 5), 0x31C3);
    EXPECT_EQ(boot::Crc16(0xFFFF, bytes, check.size()), 0x29B1);  // CCITT-FALSE
}

TEST(BootProtocol, RamChecksumRotatesSevenThenXors)
{
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(boot::RamChecksum(0, abc, 3), 0x00187163u);
    EXPECT_EQ(boot::RamChecksum(0, nullptr, 0), 0u);
    // The top bits wrap round to the bottom.
    const uint8_t zero = 0;
    EXPECT_EQ(boot::RamChecksum(0x80000000u, &zero, 1), 0x40u);
}

TEST(BootProtocol, FrameLayoutAndChainedCrc)
{
    std::vector<uint8_t> block(boot::kBlockLength, 0);
    for (size_t i = 0; i < 488; ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> frame(boot::kFrameLength);
    const uint16_t crc = boot::BuildFrame(boot::kEndFrame, 488, block.data(), block.size(), 0x1234, frame.data());

    ASSERT_EQ(frame.size(), 518u);
    EXPECT_EQ(frame[0], 0x04);
    EXPECT_EQ(frame[1], 488 & 0xFF);
    EXPECT_EQ(frame[2], 488 >> 8);
    EXPECT_EQ(frame[3 + 487], static_cast<uint8_t>(487 * 7));
    EXPECT_EQ(frame[3 + 488], 0);
    EXPECT_EQ(frame[515], crc & 0xFF);
    EXPECT_EQ(frame[516], crc >> 8);
    EXPECT_EQ(frame[517], 0x03);
    EXPECT_EQ(crc, boot::Crc16(0x1234, frame.data(), 515));
    EXPECT_NE(crc, boot::Crc16(0, frame.data(), 515)) << "the chain value must take part";
}
