#include "widgets/c_about_dlg.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

#include "app/build_date.h"
#include "app/command_line_options.h"
#include "app/program_identity.h"
#include "widgets/c_dialog_units.h"

namespace kestrum {

namespace {


// Layout in dialog units.
constexpr int kWidth = 278;
constexpr int kHeight = 177;
constexpr int kTextLeft = 60;
constexpr int kTextWidth = 210;
constexpr int kHelpTop = 66;
constexpr int kHelpWidth = 263;
constexpr int kHelpHeight = 79;
constexpr int kOkWidth = 50;
constexpr int kOkHeight = 14;

// The help text's lines end in CR LF; the text box wants plain line feeds.
QString HelpText()
{
    return QString::fromStdString(CommandLineHelpText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// One tab stop just past the widest option before a tab, so the descriptions line up in a
// column whatever the font.
int TabStop(const QString& text, const QFontMetrics& metrics)
{
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const int tab = line.indexOf(QLatin1Char('\t'));
        if (tab > 0)
            widest = std::max(widest, metrics.horizontalAdvance(line.left(tab)));
    }
    return widest + 2 * metrics.horizontalAdvance(QLatin1Char(' '));
}

}  // namespace

CAboutDlg::CAboutDlg(Mode mode, bool mainWindowForm, QWidget* parent) : QDialog(parent)
{
    Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (mainWindowForm)
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    BuildControls();
    const QString name = QString::fromLatin1(kProgramName);
    if (mode == Mode::Help) {
        setWindowTitle(name + QStringLiteral(" - Command Line Options"));
    } else {
        setWindowTitle(name + QStringLiteral(" - About"));
        FitWithoutHelpBox();
    }
}

QString CAboutDlg::ProductLine()
{
    return QString::fromStdString(kProductLine);
}

QString CAboutDlg::VersionLine()
{
    return QStringLiteral("Version %1  ( Build: %2 )")
        .arg(QString::fromLatin1(kVersionText), QString::fromStdString(BuildDateText()));
}

QLineEdit* CAboutDlg::AddLine(const QString& text, int top)
{
    const CDialogUnits units(font());
    auto* line = new QLineEdit(text, this);
    line->setReadOnly(true);
    line->setFrame(false);
    line->setAlignment(Qt::AlignCenter);
    line->setGeometry(units.Rect(kTextLeft, top, kTextWidth, 11));
    line->setStyleSheet(QStringLiteral("background: transparent"));
    return line;
}

void CAboutDlg::BuildControls()
{
    const CDialogUnits units(font());
    setFixedSize(units.Size(kWidth, kHeight));
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("logo"));
    logo->setPixmap(QPixmap(QStringLiteral(":/resources/logo.png")));
    logo->move(units.X(7), units.Y(7));
    logo->adjustSize();
    AddLine(ProductLine(), 10)->setObjectName(QStringLiteral("productLine"));
    AddLine(VersionLine(), 24)->setObjectName(QStringLiteral("versionLine"));
    link_ = AddLine(QString::fromLatin1(kLinkAddress), 44);
    link_->setObjectName(QStringLiteral("linkLine"));
    QFont underlined = link_->font();
    underlined.setUnderline(true);
    link_->setFont(underlined);
    link_->setStyleSheet(QStringLiteral("background: transparent; color: rgb(0, 0, 255)"));
    link_->setCursor(Qt::PointingHandCursor);
    link_->installEventFilter(this);
    helpBox_ = new QPlainTextEdit(HelpText(), this);
    helpBox_->setObjectName(QStringLiteral("helpText"));
    helpBox_->setReadOnly(true);
    helpBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    helpBox_->setTabStopDistance(TabStop(helpBox_->toPlainText(), helpBox_->fontMetrics()));
    helpBox_->setGeometry(units.Rect((kWidth - kHelpWidth) / 2, kHelpTop, kHelpWidth, kHelpHeight));
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    ok_->setGeometry(units.Rect((kWidth - kOkWidth) / 2, kHeight - kOkHeight - 7, kOkWidth, kOkHeight));
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

// The About box has no help text: OK moves up to 10 pixels below where the box would be,
// and the dialog loses the box's height, so no empty space remains.
void CAboutDlg::FitWithoutHelpBox()
{
    const QRect box = helpBox_->geometry();
    helpBox_->hide();
    ok_->move(box.center().x() - ok_->width() / 2, box.top() + 10);
    setFixedSize(width(), height() - box.height());
}

bool CAboutDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == link_ && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        QDesktopServices::openUrl(QUrl(link_->text()));
    return QDialog::eventFilter(watched, event);
}

}  // namespace kestrum
