#pragma once

#include <functional>
#include <string>

namespace kestrum {

// What the path list decides, without a widget: the shortened form of a path for a box
// of a given width, the width its drop-down list needs for the longest entry, and where
// the list goes when the box is narrower than that. Text is UTF-8 and is measured by a
// function of the caller, so tests can measure without a font.
class CPathComboRules {
public:
    // Width in pixels of a text as the system font draws it.
    using TextWidth = std::function<int(const std::string& text)>;

    static constexpr int kNoLimit = -1; // an extent that lets the list grow without limit

    // What a drop-down asks of the list. dropWidth: the list's own minimum width.
    struct DropDown {
        enum class Width { AsControl, Required, Unchanged };
        Width dropWidth = Width::AsControl;
        bool placed = false;
        int listLeft = 0;  // screen x of the list's left edge, when placed
        int listRight = 0; // screen x just past its right edge, when placed
    };

    // frameWidth: a window edge; scrollBarWidth: a vertical scroll bar.
    CPathComboRules(TextWidth textWidth, int frameWidth, int scrollBarWidth);

    // Entries only count for the list's width.
    void AddEntry(const std::string& path);
    void ClearEntries();
    int RequiredWidth() const { return requiredWidth_; }

    // How far the list may grow to the left and right of the box; kNoLimit for no limit.
    void SetExtents(int left, int right);

    // The path as the box shows it while the user is not editing it: whole leading
    // directories give way to "/.../" ("\...\" in a drive path) until it is no more than
    // 15% wider than clientWidth or only the file name is left.
    std::string Shortened(const std::string& path, int clientWidth) const;

    // The list of a box at screen x controlLeft, controlWidth wide, that is dropping down.
    DropDown PlanDropDown(int controlLeft, int controlWidth) const;

private:
    bool CanGrowFreelyToTheRight() const { return leftExtent_ == 0 && rightExtent_ == kNoLimit; }

    TextWidth textWidth_;
    int frameWidth_;
    int scrollBarWidth_;
    int widestEntry_ = 0;
    int requiredWidth_ = 0;
    int leftExtent_ = 0;
    int rightExtent_ = 0;
    bool widen_ = false;
};

} // namespace kestrum
