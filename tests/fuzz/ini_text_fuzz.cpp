// The settings file's text, whatever it holds: what is untouched is written back as it
// was, a value that was set is found again (also after a rewrite and a fresh read), and a
// set changes no other key.

#include "app/c_ini_text.h"
#include "fuzz_input.h"

using namespace kestrum;
using kestrum::fuzz::FuzzInput;

namespace {

std::string_view Trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// What a reader gets back for a stored value: blanks around it dropped, then one pair of
// enclosing quotes.
std::string AsRead(std::string_view value)
{
    value = Trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

// Names compare trimmed and without regard to case.
bool SameName(std::string_view a, std::string_view b)
{
    a = Trim(a);
    b = Trim(b);
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::string section = input.TextUntil('\0');
    const std::string key = input.TextUntil('\0');
    const std::string value = input.TextUntil('\0');
    const std::string otherSection = input.TextUntil('\0');
    const std::string otherKey = input.TextUntil('\0');
    const std::string text = input.Rest();

    CIniText ini(text);
    const std::string rendered = ini.Render();
    if (text.find('\r') == std::string::npos)
        FUZZ_CHECK(rendered == text);
    FUZZ_CHECK(CIniText(rendered).Render() == rendered);
    FUZZ_CHECK(CIniText(rendered).Find(section, key) == ini.Find(section, key));

    const std::optional<std::string> otherBefore = ini.Find(otherSection, otherKey);
    if (!ini.Set(section, key, value)) {
        FUZZ_CHECK(ini.Render() == rendered);
        return 0;
    }
    FUZZ_CHECK(ini.Find(section, key) == AsRead(value));
    const CIniText reread(ini.Render());
    FUZZ_CHECK(reread.Find(section, key) == AsRead(value));
    if (!SameName(otherSection, section) || !SameName(otherKey, key))
        FUZZ_CHECK(ini.Find(otherSection, otherKey) == otherBefore);
    return 0;
}
