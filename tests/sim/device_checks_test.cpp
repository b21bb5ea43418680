#include "sim/device_checks.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

using namespace kestrum;

namespace {

std::vector<uint8_t> Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

}  // namespace

// Published check values of the CRC-16 family with polynomial 0x1021, no reflection and no
// final XOR; they differ only in the starting value.
TEST(DeviceChecks, FrameCrcMatchesThePublishedCheckValues)
{
    const struct {
        const char* name;
        uint16_t start;
        std::string_view input;
        uint16_t crc;
    } table[] = {
        {"XMODEM", 0x0000, "123456789", 0x31C3},
        {"XMODEM, one byte", 0x0000, "A", 0x58E5},
        {"CCITT-FALSE", 0xFFFF, "123456789", 0x29B1},
        {"AUG-CCITT", 0x1D0F, "123456789", 0xE5CC},
        {"nothing keeps the start", 0x1234, "", 0x1234},
    };
    for (const auto& row : table)
        EXPECT_EQ(device_checks::FrameCrc16(row.start, Bytes(row.input)), row.crc) << row.name;

    // Frames chain: the CRC of one piece continued over the next is the CRC of both.
    const std::vector<uint8_t> check = Bytes("123456789");
    const std::span<const uint8_t> all(check);
    EXPECT_EQ(device_checks::FrameCrc16(device_checks::FrameCrc16(0, all.first(4)), all.subspan(4)), 0x31C3);
}

// Worked by hand: "abc" is 0x61, then 0x3080 ^ 0x62, then 0x187100 ^ 0x63.
TEST(DeviceChecks, RamImageChecksumRotatesSevenThenXors)
{
    const struct {
        const char* name;
        uint32_t start;
        std::vector<uint8_t> input;
        uint32_t sum;
    } table[] = {
        {"abc", 0, Bytes("abc"), 0x00187163},
        {"empty image", 0, {}, 0},
        {"top bits wrap round to the bottom", 0x80000000, {0x00}, 0x00000040},
        {"wrap within the image", 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xEFDFBF70},
    };
    for (const auto& row : table)
        EXPECT_EQ(device_checks::RamImageChecksum(row.start, row.input), row.sum) << row.name;
}
