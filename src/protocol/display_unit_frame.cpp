#include "protocol/display_unit_frame.h"

#include <cstdint>

namespace kestrum {

namespace {

constexpr std::string_view kReplyStart = "@2";
constexpr std::string_view kFailureMark = "@3";
// The "@" that closes a reply is looked for from this index after the prefix, so the
// first reply characters can never end it.
constexpr size_t kFirstCloseIndex = 2;

std::string ReplyPrefix(std::string_view tag)
{
    return std::string(kReplyStart) + std::string(tag);
}

}  // namespace

std::string BuildDisplayUnitFrame(std::string_view tag, std::string_view argument)
{
    std::string frame = "#";
    frame += tag;
    frame += argument;
    uint8_t sum = 0;
    for (char c : frame)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    frame += static_cast<char>(sum);
    return frame;
}

DisplayUnitReplyState FindDisplayUnitReply(std::string_view received, std::string_view tag, std::string& reply)
{
    const std::string prefix = ReplyPrefix(tag);
    const size_t start = received.find(prefix);
    if (start == std::string_view::npos)
        return received.find(kFailureMark) != std::string_view::npos ? DisplayUnitReplyState::Failed
                                                                      : DisplayUnitReplyState::Pending;
    const std::string_view rest = received.substr(start + prefix.size());
    const size_t close = rest.find('@', kFirstCloseIndex);
    if (close == std::string_view::npos)
        return DisplayUnitReplyState::Pending;  // keep the prefix: the rest is on its way
    reply.assign(rest.substr(0, close - 1));
    return DisplayUnitReplyState::Complete;
}

void DiscardBeforeDisplayUnitReply(std::string& received, std::string_view tag)
{
    const std::string prefix = ReplyPrefix(tag);
    const size_t start = received.find(prefix);
    if (start != std::string::npos) {
        received.erase(0, start);
        return;
    }
    // No prefix yet: only a tail shorter than the prefix can still grow into one.
    const size_t keep = prefix.size() - 1;
    if (received.size() > keep)
        received.erase(0, received.size() - keep);
}

}  // namespace kestrum
