// The scan for the receiver's tagged reply, over any bytes: a frame it reports is really
// there, its text is what the frame carries, and more bytes arriving never change a frame
// that has been found.

#include "fuzz_input.h"
#include "protocol/tagged_reply.h"

#include <cctype>

using namespace kestrum;
using kestrum::fuzz::FuzzInput;

namespace {

size_t HexValue(std::string_view digits)
{
    size_t value = 0;
    for (char c : digits)
        value = value * 16 + static_cast<size_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                              : std::tolower(c) - 'a' + 10);
    return value;
}

void CheckFrame(std::string_view received, std::string_view tag, const TaggedReply& found)
{
    if (found.status == TaggedStatus::NoFrame)
        return;
    const std::string marker = "%" + std::string(tag) + "%";
    FUZZ_CHECK(found.frameStart + 5 + marker.size() <= received.size());
    const std::string_view frame = received.substr(found.frameStart);
    FUZZ_CHECK(frame.substr(0, 2) == (found.status == TaggedStatus::Reply ? "RE" : "ER"));
    for (char c : frame.substr(2, 3))
        FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(c)));
    FUZZ_CHECK(frame.substr(5, marker.size()) == marker);
    const size_t length = HexValue(frame.substr(2, 3));
    FUZZ_CHECK(5 + length <= frame.size());  // the body has arrived whole
    const size_t textLength = length > marker.size() ? length - marker.size() : 0;
    FUZZ_CHECK(found.text == frame.substr(5 + marker.size(), textLength));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::string tag = input.Text(input.Byte() % 12);
    const size_t cut = input.Byte();
    const std::string received = input.Rest();

    const TaggedReply whole = FindTaggedReply(received, tag);
    const TaggedReply bytes = FindTaggedReply(reinterpret_cast<const uint8_t*>(received.data()), received.size(), tag);
    FUZZ_CHECK(whole.status == bytes.status && whole.text == bytes.text && whole.frameStart == bytes.frameStart);
    CheckFrame(received, tag, whole);
    if (tag.empty())
        FUZZ_CHECK(whole.status == TaggedStatus::NoFrame);

    // What the scan found in the bytes so far stays found as the rest arrives.
    const TaggedReply early = FindTaggedReply(std::string_view(received).substr(0, std::min(cut, received.size())), tag);
    if (early.status != TaggedStatus::NoFrame)
        FUZZ_CHECK(early.status == whole.status && early.text == whole.text && early.frameStart == whole.frameStart);
    return 0;
}
