#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// What the program writes to a stream, caught in memory.
class CaughtOutput {
public:
    CaughtOutput() : file_(open_memstream(&buffer_, &size_)) {}
    ~CaughtOutput()
    {
        std::fclose(file_);
        std::free(buffer_);
    }
    CaughtOutput(const CaughtOutput&) = delete;
    CaughtOutput& operator=(const CaughtOutput&) = delete;
    std::FILE* File() { return file_; }
    std::string Text()
    {
        std::fflush(file_);
        return std::string(buffer_, size_);
    }

private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* file_;
};
