#include "app/c_record_file.h"

namespace kestrum {

bool CRecordFile::Open(const std::string& path, std::string& error)
{
    std::lock_guard lock(mutex_);
    path_ = path;
    if (!file_.Open(path, CFile::Access::AppendCreate)) {
        error = "cannot open the record file " + path + ": " + file_.ErrorText();
        return false;
    }
    // A pipe or a device would take the lines, but keep nothing a station could read back.
    if (file_.GetKind() != CFile::Kind::Regular) {
        error = "the record file " + path + " is " + CFile::KindText(file_.GetKind()) + ", not a file";
        file_.Close();
        return false;
    }
    return true;
}

bool CRecordFile::Append(const ProductionRecord& record, std::string& error)
{
    const std::string line = ProductionRecordLine(record);
    std::lock_guard lock(mutex_);
    if (!file_.IsOpen()) {
        error = "the record file is not open";
        return false;
    }
    if (!file_.Write(line.data(), line.size()) || !file_.Sync()) {
        error = "cannot write the record file " + path_ + ": " + file_.ErrorText();
        return false;
    }
    return true;
}

}  // namespace kestrum
