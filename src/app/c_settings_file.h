#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum {

// The program's settings file: the four operations every part of the program uses to
// keep its settings between runs. Each call reads the file afresh, so two programs (or
// a program and a hand edit) see each other's writes. Reads never fail; a missing file,
// section or key gives the caller's default. Each write rewrites the file atomically
// (temporary file beside it, flushed to disk, then renamed over it), so a crash leaves
// either the old or the new file, never a half-written one. Every rewrite re-reads the
// file under an advisory lock on "<file>.lock", so that programs writing at the same time
// take turns and none loses the keys of another.
//
// Safe to call from several threads; writes of one object are serialised.
class CSettingsFile {
public:
    // Larger files are not ours: they read as empty and are never rewritten.
    static constexpr size_t kMaxFileSize = 1024 * 1024;
    // How long a rewrite waits for another program's rewrite of the same file; a rewrite
    // takes milliseconds, so a holder this slow is stuck and this write gives up.
    static constexpr std::chrono::milliseconds kLockWait{3000};

    // ReadOnly: a file the user does not let us write; writes are refused, never tried.
    enum class Access { ReadWrite, ReadOnly };

    // An object without a path: reads give defaults, writes fail.
    CSettingsFile() = default;
    explicit CSettingsFile(std::string path, Access access = Access::ReadWrite,
                           std::chrono::milliseconds lockWait = kLockWait);
    CSettingsFile(const CSettingsFile&) = delete;
    CSettingsFile& operator=(const CSettingsFile&) = delete;

    const std::string& Path() const { return path_; }
    bool ReadOnly() const { return access_ == Access::ReadOnly; }

    // The stored integer: optional blanks, an optional sign and the leading decimal
    // digits; a value without digits reads as 0 and an empty one as the default.
    // Values beyond the int range are clamped.
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
    std::string GetText(std::string_view section, std::string_view key, std::string_view defaultValue) const;

    // False when the file could not be rewritten or the text cannot be stored in the
    // format (a line break, an empty key); LastWriteError then tells why.
    bool WriteInt(std::string_view section, std::string_view key, int value);
    bool WriteText(std::string_view section, std::string_view key, std::string_view value);

    // The program's exit: from HoldWrites on, writes are collected (and reads see them)
    // instead of each rewriting the file; WriteHeld then puts them all in with one
    // rewrite. Two programs ending together thus neither lose nor mix keys: each keeps
    // the other's, and key by key the later one wins. WriteHeld ends the collecting; false
    // (with LastWriteError) when the file could not be rewritten, and the writes are lost.
    void HoldWrites();
    bool WriteHeld();

    std::string LastWriteError() const;

    // Whether the file can be read (a missing one can: it reads as empty); false with the
    // reason when it is unreadable, not a regular file or too large, so that a caller can
    // say why the stored settings are not used.
    bool CheckReadable(std::string& error) const;

private:
    struct Change {
        std::string section;
        std::string key;
        std::string value;
    };

    bool ReadContent(std::string& content, std::string& error) const;
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    bool Rewrite(const std::vector<Change>& changes, std::string& error) const;
    bool Fail(std::string error);

    const std::string path_;
    const Access access_ = Access::ReadWrite;
    const std::chrono::milliseconds lockWait_ = kLockWait;
    mutable std::mutex mutex_;
    std::string lastWriteError_;
    bool holding_ = false;
    std::vector<Change> held_;
};

}  // namespace kestrum
