#include "app/json_text.h"

#include <cstdio>

namespace kestrum {

std::string JsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string JsonStringOrNull(const std::string& text)
{
    return text.empty() ? "null" : JsonString(text);
}

} // namespace kestrum
