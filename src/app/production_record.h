#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "loader/load_request.h"
#include "protocol/device_info.h"

namespace kestrum {

// What a station keeps of one device's load: which device (as it reported itself before
// and after), which images (by their SHA-256), when, where, and how it ended.
struct ProductionRecord {
    enum class Result { Completed, Skipped, Failed };

    std::chrono::system_clock::time_point time;  // when the device's work began
    std::string station;                         // host name
    std::string program;                         // "kestrum-cli 1.0.07"
    std::string port;
    std::string adapterSerial;                   // empty: not known
    std::string adapterById;
    DeviceKind kind = DeviceKind::Receiver;
    std::optional<DeviceInfo> before;            // none: not asked, or no answer
    std::optional<DeviceInfo> after;
    std::vector<ImageDigest> images;             // as sent; none when nothing was sent
    Result result = Result::Failed;
    int code = 0;                                // the exit status the device's work gives
    std::string text;
    double seconds = 0;
};

// A record begun now for a device on port: this station, the adapter behind the port
// when the system knows it.
ProductionRecord BeginRecord(const std::string& program, const std::string& port, DeviceKind kind);

// The record as one line of JSON, line end included.
std::string ProductionRecordLine(const ProductionRecord& record);

// "2026-12-08T17:20:01.123Z"
std::string UtcTimeText(std::chrono::system_clock::time_point time);

}  // namespace kestrum
