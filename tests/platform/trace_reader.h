#pragma once

// Reads a wire trace back as its records, as a support engineer's script would: each
// record's time, port and what happened, with the bytes of an "out" or "in" record taken
// from its hex columns.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kestrum::test {

struct TraceRecord {
    double ms = 0;
    std::string port;
    std::string what; // "out 23", "in 5", "DTR on", ...
    std::vector<uint8_t> bytes;

    bool IsData(const char* direction) const { return what.starts_with(std::string(direction) + " "); }
};

// A text's lines, without their line ends.
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline std::vector<TraceRecord> ReadTrace(const std::string& path)
{
    constexpr size_t kHexStart = 12 + 4 + 2; // indent, offset, two spaces
    std::vector<TraceRecord> records;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line.starts_with(std::string(12, ' ')) && !records.empty()) {
            const size_t bar = line.find('|', kHexStart);
            std::istringstream hex(line.substr(kHexStart, bar - kHexStart));
            for (std::string pair; hex >> pair;)
                records.back().bytes.push_back(static_cast<uint8_t>(std::strtoul(pair.c_str(), nullptr, 16)));
            continue;
        }
        TraceRecord record;
        char* end = nullptr;
        record.ms = std::strtod(line.c_str(), &end);
        const std::string rest = std::string(end).substr(2);
        const size_t gap = rest.find("  ");
        record.port = rest.substr(0, gap);
        record.what = gap == std::string::npos ? "" : rest.substr(gap + 2);
        records.push_back(record);
    }
    return records;
}

// The bytes of every record of one direction on one port, in order.
inline std::vector<uint8_t> TracedBytes(const std::vector<TraceRecord>& records, const std::string& port,
                                        const char* direction)
{
    std::vector<uint8_t> bytes;
    for (const TraceRecord& record : records)
        if (record.port == port && record.IsData(direction))
            bytes.insert(bytes.end(), record.bytes.begin(), record.bytes.end());
    return bytes;
}

} // namespace kestrum::test
