#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrum {

// Outcome of a tagged receiver exchange: an RE frame, an ER frame, or no frame for the
// tag (not yet complete, time-out, abort).
enum class TaggedStatus : int { Reply = 0, Error = 1, NoFrame = 2 };

struct TaggedReply {
    TaggedStatus status = TaggedStatus::NoFrame;
    std::string text;         // the reply text after "%tag%", for RE and ER frames
    size_t frameStart = 0;    // index of the frame's identifier in the scanned bytes
};

// Finds the receiver's reply frame for tag among n received bytes: "RE" or "ER", three
// hexadecimal digits giving the body length, then the body "%tag%reply". Bytes around the
// frame are ignored. The first frame header for the tag decides: if its body has not
// fully arrived yet, there is no frame yet.
TaggedReply FindTaggedReply(const uint8_t* data, size_t n, std::string_view tag);
TaggedReply FindTaggedReply(std::string_view received, std::string_view tag);

// The command as it goes out: "##\n%tag%command\n".
std::string BuildTaggedCommand(std::string_view tag, std::string_view command);

// A tag of five decimal digits with leading zeros, for a command sent without a tag.
std::string MakeRandomTag();

}  // namespace kestrum
