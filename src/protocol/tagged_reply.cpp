#include "protocol/tagged_reply.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>

namespace kestrum {

namespace {

constexpr size_t kIdentifierLength = 2;
constexpr size_t kLengthDigits = 3;
constexpr size_t kHeaderLength = kIdentifierLength + kLengthDigits;

int HexValue(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The status named by the two identifier bytes, or NoFrame when they name none.
TaggedStatus IdentifierStatus(const uint8_t* id)
{
    if (id[0] == 'R' && id[1] == 'E')
        return TaggedStatus::Reply;
    if (id[0] == 'E' && id[1] == 'R')
        return TaggedStatus::Error;
    return TaggedStatus::NoFrame;
}

// The body length of a header whose digits start at digits, or -1.
int BodyLength(const uint8_t* digits)
{
    int value = 0;
    for (size_t i = 0; i < kLengthDigits; ++i) {
        const int digit = HexValue(digits[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

bool MarkerAt(const uint8_t* data, size_t p, const std::string& marker)
{
    return std::equal(marker.begin(), marker.end(), data + p);
}

}  // namespace

TaggedReply FindTaggedReply(const uint8_t* data, size_t n, std::string_view tag)
{
    TaggedReply result;
    if (n < kHeaderLength || tag.empty())
        return result;
    const std::string marker = "%" + std::string(tag) + "%";
    // A frame may end exactly where the received bytes end, so the scan runs while the
    // marker still fits, however short the tag.
    for (size_t p = kHeaderLength; n - p >= marker.size(); ++p) {
        if (!MarkerAt(data, p, marker))
            continue;
        const TaggedStatus status = IdentifierStatus(data + p - kHeaderLength);
        const int length = BodyLength(data + p - kLengthDigits);
        if (status == TaggedStatus::NoFrame || length < 0)
            continue;
        const size_t bodyLength = static_cast<size_t>(length);
        if (bodyLength > n - p)
            return result;  // the body is still arriving
        result.status = status;
        result.frameStart = p - kHeaderLength;
        if (bodyLength > marker.size())
            result.text.assign(reinterpret_cast<const char*>(data + p + marker.size()), bodyLength - marker.size());
        return result;
    }
    return result;
}

TaggedReply FindTaggedReply(std::string_view received, std::string_view tag)
{
    return FindTaggedReply(reinterpret_cast<const uint8_t*>(received.data()), received.size(), tag);
}

std::string BuildTaggedCommand(std::string_view tag, std::string_view command)
{
    std::string frame = "##\n%";
    frame += tag;
    frame += '%';
    frame += command;
    frame += '\n';
    return frame;
}

std::string MakeRandomTag()
{
    static std::mutex mutex;
    static std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<unsigned> digits(0, 99999);
    unsigned value = 0;
    {
        std::lock_guard lock(mutex);
        value = digits(generator);
    }
    char text[8];
    std::snprintf(text, sizeof text, "%05u", value);
    return text;
}

}  // namespace kestrum
