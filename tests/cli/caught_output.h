#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// What the program writes to a stream, caught in a temporary file that goes with it.
class CaughtOutput {
public:
    CaughtOutput() : file_(std::tmpfile()) {}
    ~CaughtOutput() { std::fclose(file_); }
    CaughtOutput(const CaughtOutput&) = delete;
    CaughtOutput& operator=(const CaughtOutput&) = delete;
    std::FILE* File() { return file_; }
    std::string Text()
    {
        std::fflush(file_);
        const long end = std::ftell(file_);
        std::string text(static_cast<size_t>(end > 0 ? end : 0), '\0');
        std::rewind(file_);
        text.resize(std::fread(text.data(), 1, text.size(), file_));
        std::fseek(file_, 0, SEEK_END);
        return text;
    }

private:
    std::FILE* file_;
};
