// The scan for the display unit's reply, over any bytes cut into any pieces: polling the
// pieces as they arrive, with the text kept small between polls, gives the same answer as
// scanning everything received at once.

#include "fuzz_input.h"
#include "protocol/display_unit_frame.h"

using namespace kestrum;
using kestrum::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::string tag = input.Text(input.Byte() % 3);
    const std::string cuts = input.Text(8);
    const std::string stream = input.Rest();

    std::string kept;      // what the link keeps between polls
    std::string received;  // everything so far
    size_t at = 0;
    for (size_t piece = 0; at < stream.size(); ++piece) {
        const size_t length = piece < cuts.size() ? static_cast<uint8_t>(cuts[piece]) % 32 + 1 : stream.size() - at;
        kept += stream.substr(at, length);
        received += stream.substr(at, length);
        at += length;
        std::string keptReply, wholeReply;
        const DisplayUnitReplyState polled = FindDisplayUnitReply(kept, tag, keptReply);
        const DisplayUnitReplyState whole = FindDisplayUnitReply(received, tag, wholeReply);
        FUZZ_CHECK(polled == whole);
        if (polled == DisplayUnitReplyState::Complete)
            FUZZ_CHECK(keptReply == wholeReply);
        if (polled != DisplayUnitReplyState::Pending)
            break;
        const size_t before = kept.size();
        DiscardBeforeDisplayUnitReply(kept, tag);
        FUZZ_CHECK(kept.size() <= before);
        FUZZ_CHECK(received.ends_with(kept));
    }
    // A frame the program builds is what it says: "#", tag, argument, and their sum.
    const std::string frame = BuildDisplayUnitFrame(tag, stream.substr(0, 16));
    FUZZ_CHECK(frame.size() == 2 + tag.size() + std::min<size_t>(stream.size(), 16));
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < frame.size(); ++i)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(frame[i]));
    FUZZ_CHECK(static_cast<uint8_t>(frame.back()) == sum);
    return 0;
}
