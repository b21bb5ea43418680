#include "app/build_date.h"

#include <array>

namespace kestrum {

std::string FormatBuildDate(const std::string& compilerDate)
{
    static constexpr std::array<const char*, 12> kShort = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static constexpr std::array<const char*, 12> kLong = {
        "January", "February", "March",     "April",   "May",      "June",
        "July",    "August",   "September", "October", "November", "December"};
    std::string text = compilerDate;
    if (text.size() > 5)
        text.insert(text.size() - 5, ",");
    if (text.size() > 3) {
        for (size_t month = 0; month < kShort.size(); ++month) {
            if (text.compare(0, 3, kShort[month]) == 0) {
                text.replace(0, 3, kLong[month]);
                break;
            }
        }
    }
    return text;
}

std::string BuildDateText()
{
    return FormatBuildDate(__DATE__);
}

}  // namespace kestrum
