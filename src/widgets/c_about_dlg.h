#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kestrum {

// One dialog for two purposes: the About box (logo, product, version with build date and
// a web link) and the command-line help (the same header above the help text). Shown
// modally; as the program's main window (a help word first on the command line) it keeps
// a minimise button like any main window.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    enum class Mode { About, Help };

    static constexpr const char* kLinkAddress = "https://www.kestrum.example/";

    CAboutDlg(Mode mode, bool mainWindowForm, QWidget* parent = nullptr);

    static QString ProductLine();
    static QString VersionLine();

    QLineEdit* LinkLine() const { return link_; }
    QPlainTextEdit* HelpBox() const { return helpBox_; }
    QPushButton* OkButton() const { return ok_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    QLineEdit* AddLine(const QString& text, int top);
    void FitWithoutHelpBox();

    QLineEdit* link_ = nullptr;
    QPlainTextEdit* helpBox_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace kestrum
