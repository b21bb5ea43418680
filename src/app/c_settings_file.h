#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace kestrum {

// The program's settings file: the four operations every part of the program uses to
// keep its settings between runs. Each call reads the file afresh, so two programs (or
// a program and a hand edit) see each other's writes. Reads never fail; a missing file,
// section or key gives the caller's default. Each write rewrites the file atomically
// (temporary file beside it, flushed to disk, then renamed over it), so a crash leaves
// either the old or the new file, never a half-written one.
//
// Safe to call from several threads; writes of one object are serialised.
class CSettingsFile {
public:
    // Larger files are not ours: they read as empty and are never rewritten.
    static constexpr size_t kMaxFileSize = 1024 * 1024;

    // An object without a path: reads give defaults, writes fail.
    CSettingsFile() = default;
    explicit CSettingsFile(std::string path);
    CSettingsFile(const CSettingsFile&) = delete;
    CSettingsFile& operator=(const CSettingsFile&) = delete;

    const std::string& Path() const { return path_; }

    // The stored integer: optional blanks, an optional sign and the leading decimal
    // digits; a value without digits reads as 0 and an empty one as the default.
    // Values beyond the int range are clamped.
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
    std::string GetText(std::string_view section, std::string_view key, std::string_view defaultValue) const;

    // False when the file could not be rewritten or the text cannot be stored in the
    // format (a line break, an empty key); LastWriteError then tells why.
    bool WriteInt(std::string_view section, std::string_view key, int value);
    bool WriteText(std::string_view section, std::string_view key, std::string_view value);

    std::string LastWriteError() const;

    // Whether the file can be read (a missing one can: it reads as empty); false with the
    // reason when it is unreadable, not a regular file or too large, so that a caller can
    // say why the stored settings are not used.
    bool CheckReadable(std::string& error) const;

private:
    bool ReadContent(std::string& content, std::string& error) const;
    bool ReplaceContent(const std::string& content, std::string& error) const;
    bool Fail(std::string error);

    const std::string path_;
    mutable std::mutex mutex_;
    std::string lastWriteError_;
};

}  // namespace kestrum
