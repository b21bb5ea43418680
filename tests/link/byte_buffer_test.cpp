#include <gtest/gtest.h>

#include <string>

#include "link/c_byte_buffer.h"
#include "link/c_sliding_buffer.h"

namespace kestrum {
namespace {

size_t AppendText(CByteBuffer& buffer, const std::string& text)
{
    return buffer.Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(ByteBuffer, AppendKeepsWhatFitsDropsTheRestAndSignals)
{
    CByteBuffer buffer(8);
    EXPECT_EQ(AppendText(buffer, "abcde"), 5u);
    EXPECT_TRUE(buffer.DataEvent().Test());
    EXPECT_EQ(AppendText(buffer, "fghij"), 8u);
    EXPECT_EQ(buffer.Contents(), "abcdefgh");
    // Full: nothing more is taken, but a consumer is still woken.
    EXPECT_EQ(AppendText(buffer, "x"), 8u);
    EXPECT_TRUE(buffer.DataEvent().Test());
    EXPECT_EQ(buffer.Contents(), "abcdefgh");
}

TEST(ByteBuffer, ConsumeMovesTheRestToTheFrontAndZeroFills)
{
    CByteBuffer buffer(8);
    AppendText(buffer, "abcdef");
    buffer.Consume(2);
    EXPECT_EQ(buffer.Contents(), "cdef");
    buffer.Inspect([](const uint8_t* data, size_t length) {
        ASSERT_EQ(length, 4u);
        EXPECT_EQ(data[4], 0); // reads as a C string
        EXPECT_EQ(data[5], 0); // emptied space is cleared
    });
    buffer.Consume(0);
    EXPECT_EQ(buffer.Length(), 4u);
}

TEST(ByteBuffer, ConsumeEmptiesForNegativeHugeOrWholeLength)
{
    for (long n : {-1L, 4L, 5L, 8L, 100L}) {
        CByteBuffer buffer(8);
        AppendText(buffer, "abcd");
        buffer.Consume(n);
        EXPECT_EQ(buffer.Length(), 0u) << n;
        buffer.Inspect([](const uint8_t* data, size_t) { EXPECT_EQ(data[0], 0); });
    }
}

TEST(SlidingBuffer, DropsOldestBytesToMakeRoomWithoutSignalling)
{
    CSlidingBuffer buffer(8);
    AppendText(buffer, "abcdef");
    EXPECT_EQ(AppendText(buffer, "ghij"), 8u);
    EXPECT_EQ(buffer.Contents(), "cdefghij");
    EXPECT_FALSE(buffer.DataEvent().Test());
    // Longer than the whole buffer: the newest bytes of it stay.
    AppendText(buffer, "0123456789");
    EXPECT_EQ(buffer.Contents(), "23456789");
}

TEST(SlidingBuffer, LogOfManyLinesKeepsTheNewest)
{
    CSlidingBuffer log(65536);
    std::string all;
    for (int i = 0; all.size() <= 70000; ++i) {
        const std::string line =
            std::to_string(i) + " (12:00:00.000) Framing error (" + std::to_string(i) + ")\n";
        AppendText(log, line);
        all += line;
    }
    EXPECT_EQ(log.Length(), 65536u);
    EXPECT_EQ(log.Contents(), all.substr(all.size() - 65536));
}

} // namespace
} // namespace kestrum
