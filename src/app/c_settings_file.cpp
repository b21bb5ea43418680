#include "app/c_settings_file.h"

#include "app/c_ini_text.h"
#include "platform/c_file.h"
#include "platform/c_file_lock.h"
#include "platform/file_replace.h"

#include <algorithm>
#include <climits>

namespace kestrum {

namespace {

int ParseInt(const std::string& text, int defaultValue)
{
    if (text.empty()) {
        return defaultValue;
    }
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
        ++at;
    }
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        ++at;
    }
    long long magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        magnitude = std::min(magnitude * 10 + (text[at] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp(value, static_cast<long long>(INT_MIN), static_cast<long long>(INT_MAX)));
}

std::string ReadOnlyText(const std::string& path)
{
    return path + " is read-only: settings are not saved";
}

}  // namespace

CSettingsFile::CSettingsFile(std::string path, Access access, std::chrono::milliseconds lockWait)
    : path_(std::move(path)), access_(access), lockWait_(lockWait)
{
}

bool CSettingsFile::CheckReadable(std::string& error) const
{
    std::string content;
    return ReadContent(content, error);
}

bool CSettingsFile::ReadContent(std::string& content, std::string& error) const
{
    content.clear();
    if (path_.empty()) {
        error = "No settings file";
        return false;
    }
    // Never blocks: a path that names a FIFO cannot hang the reader.
    CFile file;
    if (!file.Open(path_, CFile::Access::Read)) {
        if (file.Missing()) {
            return true;
        }
        error = "Cannot read " + path_ + ": " + file.ErrorText();
        return false;
    }
    if (file.GetKind() != CFile::Kind::Regular) {
        error = "Not a regular file: " + path_;
        return false;
    }
    // Read in pieces: every look-up reads the file, and a settings file is a few hundred
    // bytes, so a buffer of the largest size allowed would cost more than the reading.
    char piece[16384];
    while (content.size() <= kMaxFileSize) {
        const long got = file.Read(piece, sizeof piece);
        if (got < 0) {
            error = "Cannot read " + path_ + ": " + file.ErrorText();
            content.clear();
            return false;
        }
        if (got == 0) {
            break;
        }
        content.append(piece, static_cast<size_t>(got));
    }
    if (content.size() > kMaxFileSize) {
        error = "Settings file too large: " + path_;
        content.clear();
        return false;
    }
    return true;
}

// What a reader sees: the file, and over it the writes held for the exit.
std::optional<std::string> CSettingsFile::Find(std::string_view section, std::string_view key) const
{
    std::lock_guard lock(mutex_);
    std::string content;
    std::string error;
    if (!ReadContent(content, error)) {
        return std::nullopt;
    }
    CIniText text(content);
    for (const Change& change : held_) {
        text.Set(change.section, change.key, change.value);
    }
    return text.Find(section, key);
}

std::string CSettingsFile::GetText(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const
{
    return Find(section, key).value_or(std::string(defaultValue));
}

int CSettingsFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const
{
    const auto value = Find(section, key);
    return value ? ParseInt(*value, defaultValue) : defaultValue;
}

bool CSettingsFile::WriteInt(std::string_view section, std::string_view key, int value)
{
    return WriteText(section, key, std::to_string(value));
}

bool CSettingsFile::WriteText(std::string_view section, std::string_view key, std::string_view value)
{
    std::lock_guard lock(mutex_);
    if (ReadOnly()) {
        return Fail(ReadOnlyText(path_));
    }
    if (CIniText probe; !probe.Set(section, key, value)) {
        return Fail("Cannot store [" + std::string(section) + "] " + std::string(key) +
                    ": names and values must be single lines, and a key needs a name without '='");
    }
    Change change{std::string(section), std::string(key), std::string(value)};
    if (holding_) {
        held_.push_back(std::move(change));
        lastWriteError_.clear();
        return true;
    }
    std::string error;
    if (!Rewrite({change}, error)) {
        return Fail(error);
    }
    lastWriteError_.clear();
    return true;
}

void CSettingsFile::HoldWrites()
{
    std::lock_guard lock(mutex_);
    holding_ = true;
}

bool CSettingsFile::WriteHeld()
{
    std::lock_guard lock(mutex_);
    holding_ = false;
    const std::vector<Change> changes = std::move(held_);
    held_.clear();
    std::string error;
    if (!changes.empty() && !Rewrite(changes, error)) {
        return Fail(error);
    }
    lastWriteError_.clear();
    return true;
}

// Read, change and replace under the lock, so that the other program's writes of the
// same moment are read first and kept.
bool CSettingsFile::Rewrite(const std::vector<Change>& changes, std::string& error) const
{
    const CFileLock lock(ReplaceTargetPath(path_) + ".lock", lockWait_);
    if (lock.Result() == CFileLock::State::TimedOut) {
        error = "Settings not saved: " + lock.Error();
        return false;
    }
    // A lock that cannot be had at all (a folder we may not write, a file system without
    // locks) leaves the replace to go on as it always could, and to report its own failure.
    std::string content;
    // A file we cannot read is left alone rather than replaced by one holding only our keys.
    if (!ReadContent(content, error)) {
        return false;
    }
    if (CFile::WriteProtected(path_)) {
        error = ReadOnlyText(path_);
        return false;
    }
    CIniText text(content);
    for (const Change& change : changes) {
        text.Set(change.section, change.key, change.value);
    }
    return ReplaceFileContent(path_, text.Render(), error);
}

bool CSettingsFile::Fail(std::string error)
{
    lastWriteError_ = std::move(error);
    return false;
}

std::string CSettingsFile::LastWriteError() const
{
    std::lock_guard lock(mutex_);
    return lastWriteError_;
}

}  // namespace kestrum
