#pragma once

#include <mutex>
#include <string>

#include "app/production_record.h"
#include "platform/c_file.h"

namespace kestrum {

// The production record file of a station: opened for appending before any device is
// touched, so a path that cannot be written is found first. Each record goes in with one
// write at the file's end and is on the disk before Append returns, so records of several
// loads, also of programs running at once, never mix or get lost.
class CRecordFile {
public:
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& Path() const { return path_; }
    // Any thread; false with the reason when the record could not be written.
    bool Append(const ProductionRecord& record, std::string& error);

private:
    std::mutex mutex_;
    CFile file_;
    std::string path_;
};

}  // namespace kestrum
