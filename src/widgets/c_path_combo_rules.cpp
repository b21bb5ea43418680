#include "widgets/c_path_combo_rules.h"

#include <algorithm>
#include <utility>

namespace kestrum {

namespace {

// A path as drive ("C:" or none), directory (up to and including its last separator),
// and file name. Paths with a drive letter and a backslash are split at "\", others at "/".
struct PathParts {
    std::string drive;
    char separator = '/';
    std::string directory;
    std::string name;
};

bool IsDrivePath(const std::string& path)
{
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return path.size() >= 2 && isLetter(path[0]) && path[1] == ':' && path.find('\\') != std::string::npos;
}

PathParts Split(const std::string& path)
{
    PathParts parts;
    std::size_t start = 0;
    if (IsDrivePath(path)) {
        parts.drive = path.substr(0, 2);
        parts.separator = '\\';
        start = 2;
    }
    const std::size_t last = path.find_last_of(parts.separator);
    if (last == std::string::npos || last < start) {
        parts.name = path.substr(start);
    } else {
        parts.directory = path.substr(start, last + 1 - start);
        parts.name = path.substr(last + 1);
    }
    return parts;
}

} // namespace

CPathComboRules::CPathComboRules(TextWidth textWidth, int frameWidth, int scrollBarWidth)
    : textWidth_(std::move(textWidth)), frameWidth_(frameWidth), scrollBarWidth_(scrollBarWidth)
{
}

void CPathComboRules::AddEntry(const std::string& path)
{
    widestEntry_ = std::max(widestEntry_, textWidth_(path));
    requiredWidth_ = widestEntry_ * 10 / 13 + 2 * frameWidth_ + scrollBarWidth_;
}

void CPathComboRules::ClearEntries()
{
    widestEntry_ = 0;
    requiredWidth_ = 0;
}

void CPathComboRules::SetExtents(int left, int right)
{
    leftExtent_ = left;
    rightExtent_ = right;
    widen_ = left != 0 || right != 0;
}

std::string CPathComboRules::Shortened(const std::string& path, int clientWidth) const
{
    const PathParts parts = Split(path);
    const std::string separator(1, parts.separator);
    // A path from the root keeps its leading separator in front of the dots; a relative
    // one must not look rooted.
    const bool rooted = !parts.directory.empty() && parts.directory.front() == parts.separator;
    std::string directory = rooted ? parts.directory.substr(1) : parts.directory;
    const std::string dots = parts.drive + (rooted ? separator : std::string()) + "..." + separator;
    const long long limit = static_cast<long long>(clientWidth) * 115 / 100;

    std::string candidate = path;
    while (!directory.empty() && textWidth_(candidate) > limit) {
        // The directory ends in a separator, so each round drops one whole leading name.
        directory.erase(0, directory.find(parts.separator) + 1);
        candidate = dots + directory + parts.name;
    }
    return candidate;
}

CPathComboRules::DropDown CPathComboRules::PlanDropDown(int controlLeft, int controlWidth) const
{
    DropDown plan;
    if (!widen_ || controlWidth >= requiredWidth_)
        return plan;
    if (CanGrowFreelyToTheRight()) {
        // The list grows to the right by itself once its minimum width is set.
        plan.dropWidth = DropDown::Width::Required;
        return plan;
    }
    plan.dropWidth = DropDown::Width::Unchanged;
    int extra = requiredWidth_ - controlWidth;
    int left = controlLeft;
    int right = controlLeft + controlWidth;
    if (leftExtent_ > 0) {
        const int step = std::min(leftExtent_, extra);
        left -= step;
        extra -= step;
    }
    if (rightExtent_ > 0) {
        const int step = std::min(rightExtent_, extra);
        right += step;
        extra -= step;
    }
    if (rightExtent_ == kNoLimit)
        right += extra;
    else if (leftExtent_ == kNoLimit)
        left -= extra;
    plan.placed = true;
    plan.listLeft = left;
    plan.listRight = right;
    return plan;
}

} // namespace kestrum
