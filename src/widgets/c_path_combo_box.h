#pragma once

#include <QComboBox>
#include <QString>

#include "widgets/c_path_combo_rules.h"

namespace kestrum {

// An editable drop-down list of file paths. While the user is not in it, a long path is
// shown shortened ("/.../rx/main.ldp"); on entering it shows the full path, all selected,
// and on leaving it takes what the box then holds as the full path. Its drop-down list
// widens to the longest entry, within the room its owner allows on either side.
// The owner hears the user's typing from lineEdit()->textEdited: the box itself changes
// its text on entering and leaving.
class CPathComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit CPathComboBox(QWidget* parent = nullptr);

    void AddString(const QString& path);
    // Removes every entry and the shown path, and narrows the list to the box.
    void ResetContent();
    // Selects an entry and takes it as the full path (-1: none, an empty path).
    void SetCurSel(int index);
    // The room for the list beyond the box's left and right edges, in pixels;
    // CPathComboRules::kNoLimit for no limit. With both 0 the list never widens.
    void SetExtents(int left, int right);

    // The path the box stands for: while the user is in it, the text being typed.
    QString FullPath() const;
    int RequiredWidth() const { return rules_.RequiredWidth(); }

    void showPopup() override;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool StaysInBox(const QFocusEvent* event) const;
    void ShowFullPath();
    void ShowShortened();
    void SetDropWidth(int width);
    void PlaceList(int left, int right);

    CPathComboRules rules_;
    QString fullPath_;
    bool editing_ = false;
};

} // namespace kestrum
