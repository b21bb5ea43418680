#include "app/c_ini_text.h"

#include <algorithm>

namespace kestrum {

namespace {

std::string_view Trim(std::string_view text)
{
    // A CR that a file with LF line ends keeps inside its lines counts as a blank.
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

// The name of a section header line ("[name]"), or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line)
{
    line = Trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    line.remove_prefix(1);
    const size_t close = line.find(']');
    return Trim(line.substr(0, close));
}

bool IsComment(std::string_view trimmed)
{
    return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// The key of a "key=value" line, or nothing for any other line.
std::optional<std::string_view> KeyName(std::string_view line)
{
    line = Trim(line);
    const size_t equals = line.find('=');
    if (IsComment(line) || SectionName(line) || equals == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) {
        return std::nullopt;
    }
    return key;
}

std::string ValueOf(std::string_view line)
{
    std::string_view value = Trim(line.substr(line.find('=') + 1));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (quoted) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool Storable(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string_view trimmedKey = Trim(key);
    return !HasLineBreak(section) && !HasLineBreak(key) && !HasLineBreak(value) && !trimmedKey.empty() &&
           trimmedKey.size() == key.size() && key.find('=') == std::string_view::npos &&
           section.find(']') == std::string_view::npos && !IsComment(key) && key.front() != '[';
}

}  // namespace

CIniText::CIniText(std::string_view text)
{
    if (text.empty()) {
        return;
    }
    const size_t firstBreak = text.find('\n');
    if (firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r') {
        lineEnd_ = "\r\n";
    }
    lastLineEnd_ = text.back() == '\n' ? lineEnd_ : "";
    size_t start = 0;
    while (start < text.size()) {
        size_t stop = text.find('\n', start);
        if (stop == std::string_view::npos) {
            stop = text.size();
        }
        std::string_view line = text.substr(start, stop - start);
        // Only the CR of a CR LF line end is the file's; any other CR is part of the line
        // and is written back as it was. A file cut off after the CR of its last line end
        // keeps that CR where it was, and a set completes the line end.
        if (lineEnd_ == "\r\n" && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
            if (stop == text.size()) {
                lastLineEnd_ = "\r";
            }
        }
        lines_.emplace_back(line);
        start = stop + 1;
    }
}

std::optional<CIniText::Range> CIniText::FindSection(std::string_view section) const
{
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i]);
        if (!name || !SameName(*name, Trim(section))) {
            continue;
        }
        Range range{i, i + 1};
        while (range.end < lines_.size() && !SectionName(lines_[range.end])) {
            ++range.end;
        }
        return range;
    }
    return std::nullopt;
}

std::optional<size_t> CIniText::FindKeyLine(const Range& range, std::string_view key) const
{
    for (size_t i = range.begin + 1; i < range.end; ++i) {
        const auto name = KeyName(lines_[i]);
        if (name && SameName(*name, Trim(key))) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CIniText::Find(std::string_view section, std::string_view key) const
{
    const auto range = FindSection(section);
    if (!range) {
        return std::nullopt;
    }
    const auto line = FindKeyLine(*range, key);
    if (!line) {
        return std::nullopt;
    }
    return ValueOf(lines_[*line]);
}

bool CIniText::Set(std::string_view section, std::string_view key, std::string_view value)
{
    if (!Storable(section, key, value)) {
        return false;
    }
    lastLineEnd_ = lineEnd_;
    const auto range = FindSection(section);
    if (!range) {
        AppendSection(section, std::string(key) + "=" + std::string(value));
        return true;
    }
    const auto line = FindKeyLine(*range, key);
    if (!line) {
        InsertKey(*range, std::string(key) + "=" + std::string(value));
        return true;
    }
    // Keep the key as the file spells it; only the value changes.
    lines_[*line] = std::string(*KeyName(lines_[*line])) + "=" + std::string(value);
    return true;
}

void CIniText::InsertKey(const Range& range, std::string line)
{
    // After the section's last non-blank line, so blank lines stay between sections.
    size_t at = range.end;
    while (at > range.begin + 1 && Trim(lines_[at - 1]).empty()) {
        --at;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void CIniText::AppendSection(std::string_view section, std::string line)
{
    if (!lines_.empty() && !Trim(lines_.back()).empty()) {
        lines_.emplace_back();
    }
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::move(line));
}

std::string CIniText::Render() const
{
    std::string text;
    for (size_t i = 0; i < lines_.size(); ++i) {
        text += lines_[i];
        text += i + 1 < lines_.size() ? lineEnd_ : lastLineEnd_;
    }
    return text;
}

}  // namespace kestrum
