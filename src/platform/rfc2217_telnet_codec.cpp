#include "platform/rfc2217_telnet_codec.h"

#include <algorithm>

namespace kestrum {

using namespace rfc2217;

// Plain data runs go to the sink in one piece; returns the bytes taken.
size_t Rfc2217TelnetCodec::FeedData(const uint8_t* data, size_t count, Sink& sink)
{
    const uint8_t* end = std::find(data, data + count, kIac);
    const size_t run = static_cast<size_t>(end - data);
    if (run > 0)
        sink.OnData(data, run);
    if (run < count)
        state_ = State::Iac;
    return run < count ? run + 1 : run;
}

void Rfc2217TelnetCodec::FeedControl(uint8_t byte, Sink& sink)
{
    switch (state_) {
    case State::Iac:
        if (byte == kIac) {
            sink.OnData(&byte, 1);
            state_ = State::Data;
        } else if (byte == kWill || byte == kWont || byte == kDo || byte == kDont) {
            verb_ = byte;
            state_ = State::Option;
        } else if (byte == kSb) {
            sub_.clear();
            state_ = State::Sub;
        } else {
            state_ = State::Data;
        }
        break;
    case State::Option:
        sink.OnOption(verb_, byte);
        state_ = State::Data;
        break;
    case State::Sub:
        if (byte == kIac)
            state_ = State::SubIac;
        else if (sub_.size() < kMaxSubnegotiation)
            sub_.push_back(byte);
        break;
    case State::SubIac:
        if (byte == kIac) {
            if (sub_.size() < kMaxSubnegotiation)
                sub_.push_back(byte);
            state_ = State::Sub;
        } else if (byte == kSe) {
            if (!sub_.empty()) {
                // Kept between calls: a busy line brings millions of these.
                payload_.assign(sub_.begin() + 1, sub_.end());
                sink.OnSubnegotiation(sub_[0], payload_);
            }
            state_ = State::Data;
        } else {
            // A command inside a sub-negotiation ends it unreported; read on as normal.
            state_ = State::Iac;
            FeedControl(byte, sink);
        }
        break;
    case State::Data:
        break;
    }
}

void Rfc2217TelnetCodec::Feed(const uint8_t* data, size_t count, Sink& sink)
{
    size_t at = 0;
    while (at < count) {
        if (state_ == State::Data)
            at += FeedData(data + at, count - at, sink);
        else
            FeedControl(data[at++], sink);
    }
}

void Rfc2217TelnetCodec::AppendData(std::vector<uint8_t>& out, const uint8_t* data, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac)
            out.push_back(kIac);
    }
}

void Rfc2217TelnetCodec::AppendOption(std::vector<uint8_t>& out, uint8_t verb, uint8_t option)
{
    out.insert(out.end(), {kIac, verb, option});
}

void Rfc2217TelnetCodec::AppendComPort(std::vector<uint8_t>& out, uint8_t command, uint8_t value)
{
    out.insert(out.end(), {kIac, kSb, kOptionComPort, command});
    AppendData(out, &value, 1);
    out.insert(out.end(), {kIac, kSe});
}

void Rfc2217TelnetCodec::AppendComPort32(std::vector<uint8_t>& out, uint8_t command, uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    out.insert(out.end(), {kIac, kSb, kOptionComPort, command});
    AppendData(out, bytes, sizeof bytes);
    out.insert(out.end(), {kIac, kSe});
}

} // namespace kestrum
