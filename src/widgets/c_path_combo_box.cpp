#include "widgets/c_path_combo_box.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>

namespace kestrum {

namespace {

// Widths are taken as the system font would draw the text: 13/10 of the application's
// font, the proportion that the list width's 10/13 undoes. So the list fits its longest
// entry, and a shortened path leaves the box room for its arrow.
int SystemTextWidth(const std::string& text)
{
    return QFontMetrics(QApplication::font()).horizontalAdvance(QString::fromStdString(text)) * 13 / 10;
}

} // namespace

CPathComboBox::CPathComboBox(QWidget* parent)
    : QComboBox(parent), rules_(SystemTextWidth, style()->pixelMetric(QStyle::PM_DefaultFrameWidth),
                                style()->pixelMetric(QStyle::PM_ScrollBarExtent))
{
    setEditable(true);
    // The histories are kept by the page; a typed path is not an entry of its own, and
    // paths are not completed behind the user's back (case matters in file names).
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
}

void CPathComboBox::AddString(const QString& path)
{
    addItem(path);
    rules_.AddEntry(path.toStdString());
}

void CPathComboBox::ResetContent()
{
    clear();
    rules_.ClearEntries();
    SetDropWidth(0);
    fullPath_.clear();
    setEditText(QString());
}

void CPathComboBox::SetCurSel(int index)
{
    setCurrentIndex(index);
    fullPath_ = currentIndex() >= 0 ? itemText(currentIndex()) : QString();
    // The user who picked the entry is still in the box: shortening now would have the
    // short form taken as the path on leaving.
    if (editing_)
        ShowFullPath();
    else
        ShowShortened();
}

void CPathComboBox::SetExtents(int left, int right)
{
    rules_.SetExtents(left, right);
}

QString CPathComboBox::FullPath() const
{
    return editing_ ? currentText() : fullPath_;
}

void CPathComboBox::showPopup()
{
    using Width = CPathComboRules::DropDown::Width;
    const CPathComboRules::DropDown plan = rules_.PlanDropDown(mapToGlobal(QPoint(0, 0)).x(), width());
    if (plan.dropWidth == Width::AsControl)
        SetDropWidth(0);
    else if (plan.dropWidth == Width::Required)
        SetDropWidth(rules_.RequiredWidth());
    QComboBox::showPopup();
    if (plan.placed)
        PlaceList(plan.listLeft, plan.listRight);
}

void CPathComboBox::focusInEvent(QFocusEvent* event)
{
    QComboBox::focusInEvent(event);
    if (editing_)
        return;
    editing_ = true;
    ShowFullPath();
    lineEdit()->selectAll();
}

void CPathComboBox::focusOutEvent(QFocusEvent* event)
{
    QComboBox::focusOutEvent(event);
    if (!editing_ || StaysInBox(event))
        return;
    editing_ = false;
    fullPath_ = currentText();
    ShowShortened();
}

void CPathComboBox::resizeEvent(QResizeEvent* event)
{
    QComboBox::resizeEvent(event);
    // The short form depends on the width; an owner may size the box after filling it.
    if (!editing_)
        ShowShortened();
}

bool CPathComboBox::StaysInBox(const QFocusEvent* event) const
{
    // Dropping the list down moves the keyboard into the list, not the user out of the box.
    const QWidget* now = QApplication::focusWidget();
    return event->reason() == Qt::PopupFocusReason || now == this ||
           (now != nullptr && view()->window()->isAncestorOf(now));
}

void CPathComboBox::ShowFullPath()
{
    setEditText(fullPath_);
}

void CPathComboBox::ShowShortened()
{
    setEditText(QString::fromStdString(rules_.Shortened(fullPath_.toStdString(), width())));
    lineEdit()->setCursorPosition(0);
}

void CPathComboBox::SetDropWidth(int width)
{
    view()->setMinimumWidth(width);
}

void CPathComboBox::PlaceList(int left, int right)
{
    // Across left..right at the height the list chose, but never off the screen.
    QWidget* list = view()->window();
    QRect area = list->geometry();
    area.setLeft(left);
    area.setRight(right - 1);
    const QRect screenArea = screen()->availableGeometry();
    area.setWidth(std::min(area.width(), screenArea.width()));
    if (area.right() > screenArea.right())
        area.moveRight(screenArea.right());
    if (area.left() < screenArea.left())
        area.moveLeft(screenArea.left());
    list->setGeometry(area);
}

} // namespace kestrum
