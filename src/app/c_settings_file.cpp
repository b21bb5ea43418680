#include "app/c_settings_file.h"

#include "app/c_ini_text.h"
#include "platform/file_replace.h"
#include "platform/c_file.h"

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

}  // namespace

CSettingsFile::CSettingsFile(std::string path) : path_(std::move(path)) {}

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

bool CSettingsFile::ReplaceContent(const std::string& content, std::string& error) const
{
    return ReplaceFileContent(path_, content, error);
}

std::string CSettingsFile::GetText(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const
{
    std::string content;
    std::string error;
    if (!ReadContent(content, error)) {
        return std::string(defaultValue);
    }
    return CIniText(content).Find(section, key).value_or(std::string(defaultValue));
}

int CSettingsFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const
{
    std::string content;
    std::string error;
    if (!ReadContent(content, error)) {
        return defaultValue;
    }
    const auto value = CIniText(content).Find(section, key);
    return value ? ParseInt(*value, defaultValue) : defaultValue;
}

bool CSettingsFile::WriteInt(std::string_view section, std::string_view key, int value)
{
    return WriteText(section, key, std::to_string(value));
}

bool CSettingsFile::WriteText(std::string_view section, std::string_view key, std::string_view value)
{
    std::lock_guard lock(mutex_);
    std::string content;
    std::string error;
    // A file we cannot read is left alone rather than replaced by one holding only this key.
    if (!ReadContent(content, error)) {
        return Fail(error);
    }
    CIniText text(content);
    if (!text.Set(section, key, value)) {
        return Fail("Cannot store [" + std::string(section) + "] " + std::string(key) +
                    ": names and values must be single lines, and a key needs a name without '='");
    }
    if (!ReplaceContent(text.Render(), error)) {
        return Fail(error);
    }
    lastWriteError_.clear();
    return true;
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
