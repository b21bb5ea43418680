#pragma once

#include "loader/boot_protocol.h"
#include "sim/device_model.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum::test {

// Plays the PC against a model with a made-up clock: what it says is heard at once, and
// Collect lets time pass and returns what reached the PC meanwhile.
class ModelDriver {
public:
    explicit ModelDriver(std::shared_ptr<DeviceModel> model, uint32_t rate = 115200) : model_(std::move(model))
    {
        pc_.baudRate = rate;
        model_->Attach(PcLines{true, true, false}, now_);
    }

    void SetRate(uint32_t rate) { pc_.baudRate = rate; }
    void Say(std::string_view text) { model_->Hear(text, pc_, now_); }
    void Send(const std::vector<uint8_t>& bytes) { model_->Hear(bytes.data(), bytes.size(), pc_, now_); }
    void Send(uint8_t byte) { model_->Hear(&byte, 1, pc_, now_); }
    void Lines(const PcLines& lines) { model_->ChangeLines(lines, now_); }
    void Pass(int ms) { now_ += SimMs(ms); model_->Advance(now_); }
    SimTime Now() const { return now_; }

    std::vector<uint8_t> CollectBytes(int ms = 100)
    {
        Pass(ms);
        std::vector<DeliveredByte> out;
        model_->TakeOutput(out, pc_, now_);
        std::vector<uint8_t> bytes;
        for (const DeliveredByte& byte : out)
            bytes.push_back(byte.value);
        return bytes;
    }
    std::string Collect(int ms = 100)
    {
        const std::vector<uint8_t> bytes = CollectBytes(ms);
        return std::string(bytes.begin(), bytes.end());
    }

private:
    std::shared_ptr<DeviceModel> model_;
    SerialLineSettings pc_;
    SimTime now_ = SimMs(1'000'000);
};

// A Flash frame as a correct loader builds it.
inline std::vector<uint8_t> MakeFrame(uint8_t type, uint16_t field, const uint8_t* data, size_t count,
                                      uint16_t chain, uint16_t* crcOut = nullptr)
{
    std::vector<uint8_t> frame{type, static_cast<uint8_t>(field & 0xFF), static_cast<uint8_t>(field >> 8)};
    frame.insert(frame.end(), data, data + count);
    frame.resize(3 + boot::kBlockLength, 0);
    const uint16_t crc = boot::Crc16(chain, frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(boot::kFrameEnd);
    if (crcOut)
        *crcOut = crc;
    return frame;
}

inline std::vector<uint8_t> WithChecksum(const std::vector<uint8_t>& image)
{
    std::vector<uint8_t> bytes = image;
    const uint32_t sum = boot::RamChecksum(0, image.data(), image.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<uint8_t>(sum >> shift));
    return bytes;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> bytes;
    for (int v : values)
        bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

}  // namespace kestrum::test
