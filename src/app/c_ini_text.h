#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum {

// The text of an INI file as lines, read and changed with the rules of the platform's
// profile functions: section and key names compare without regard to case, the first
// section and the first key of a name win, values lose surrounding blanks and one pair
// of enclosing quotes. Everything the program does not understand (comments, other
// sections, malformed lines) is kept as it was, so a rewrite changes only what was set.
class CIniText {
public:
    CIniText() = default;
    explicit CIniText(std::string_view text);

    // The stored value, or nothing when the section or key is absent.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // Replaces the key's value in place, or adds the key at the end of its section, or
    // adds the section at the end. False (text unchanged) for names or a value that
    // the format cannot hold: line breaks anywhere, an empty key, '=' in a key, ']'
    // in a section name.
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole text, with the line ending the original text used ("\n" for a new one).
    std::string Render() const;

private:
    struct Range {
        size_t begin = 0;  // the section header line
        size_t end = 0;    // one past the section's last line
    };

    std::optional<Range> FindSection(std::string_view section) const;
    std::optional<size_t> FindKeyLine(const Range& range, std::string_view key) const;
    void InsertKey(const Range& range, std::string line);
    void AppendSection(std::string_view section, std::string line);

    std::vector<std::string> lines_;
    std::string lineEnd_ = "\n";
    std::string lastLineEnd_ = "\n";  // what follows the last line: a line end, nothing, or a lone CR
};

}  // namespace kestrum
