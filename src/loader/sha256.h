#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrum {

// SHA-256 of a byte string, fed in pieces of any size: what a production record names an
// image by, so that two stations can tell whether they sent the same bytes.
class CSha256 {
public:
    CSha256();
    void Update(const uint8_t* data, size_t size);
    // The digest as 64 lower-case hexadecimal digits; the object is spent afterwards.
    std::string HexDigest();

    static std::string HexOf(const uint8_t* data, size_t size);

private:
    void Compress(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> block_{};
    size_t blockUsed_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace kestrum
