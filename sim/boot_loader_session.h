#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrum {

struct BootLoaderSettings {
    uint8_t deviceId = 20;
    uint8_t procedureVersion = 0;  // anything above 0 makes a correct loader refuse
    uint8_t ramAck = 0x1E;         // what the RAM image is acknowledged with
    uint32_t ramLimit = 1u << 20;  // largest RAM image the device takes
};

// The boot loader's side of one session after capture: handshake, version check, verdict,
// RAM image with its checksum. It reads the RAM image's length from the image's first word
// (see image_layout.h); an image whose first word is 0 is empty, and that word was its
// checksum. Capture and timing belong to the device model; this is the byte protocol only.
class BootLoaderSession {
public:
    enum class Stage { Handshake, Verdict, RamImage, Done };
    enum class Outcome {
        None,       // the session goes on
        RamLoaded,  // image and checksum taken, acknowledgement sent
        Refused,    // the loader sent the verdict 0x00
        Failed,     // the loader broke the protocol or the checksum; Error() tells how
    };

    explicit BootLoaderSession(const BootLoaderSettings& settings);

    // One byte from the PC; bytes for the PC are appended to reply.
    Outcome Feed(uint8_t byte, std::vector<uint8_t>& reply);

    Stage CurrentStage() const { return stage_; }
    int HandshakesHeard() const { return handshakes_; }
    // The RAM image as received (without the checksum); empty for an empty image.
    const std::vector<uint8_t>& RamImage() const { return image_; }
    // The image's final-acknowledge flag; an empty image asks for it.
    bool FinalAckRequested() const;
    const std::string& Error() const { return error_; }

private:
    Outcome FeedHandshake(uint8_t byte, std::vector<uint8_t>& reply);
    Outcome FeedVerdict(uint8_t byte);
    Outcome FeedRamImage(uint8_t byte, std::vector<uint8_t>& reply);
    Outcome FinishRamImage(std::vector<uint8_t>& reply);
    Outcome Fail(const std::string& why);

    BootLoaderSettings settings_;
    Stage stage_ = Stage::Handshake;
    int handshakes_ = 0;
    uint32_t declaredLength_ = 0;  // 0 until the first word is in
    std::vector<uint8_t> image_;
    std::vector<uint8_t> checksum_;
    std::string error_;
};

}  // namespace kestrum
