#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// What every fuzz target shares: the input taken apart piece by piece, and a check that
// stops the run with a message when something that must hold does not.

#define FUZZ_CHECK(condition)                                                                          \
    do {                                                                                               \
        if (!(condition)) {                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);         \
            std::abort();                                                                              \
        }                                                                                              \
    } while (0)

namespace kestrum::fuzz {

// Reads an input from the front; past its end every read gives zeros or empty text, so a
// target never needs to count.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to count bytes as text.
    std::string Text(size_t count)
    {
        const size_t n = std::min(count, size_ - at_);
        std::string text(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return text;
    }
    // Text up to the next separator byte (not included), or to the end.
    std::string TextUntil(char separator)
    {
        std::string text;
        while (at_ < size_ && data_[at_] != static_cast<uint8_t>(separator))
            text.push_back(static_cast<char>(data_[at_++]));
        if (at_ < size_)
            ++at_;
        return text;
    }
    std::string Rest() { return Text(size_ - at_); }
    bool Empty() const { return at_ >= size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace kestrum::fuzz
