#include "pages/c_ps_device.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

#include "app/build_date.h"
#include "app/c_kestrum_app.h"
#include "platform/file_replace.h"
#include "app/program_identity.h"
#include "pages/c_ps_connection.h"
#include "pages/c_ps_loader.h"
#include "pages/c_ps_program.h"
#include "pages/device_info_file.h"

namespace kestrum {

namespace {

constexpr int kKindCount = 3;

// The labels the box shows for a kind before any query.
std::string LabelBlock(int kind)
{
    if (kind == 0)
        return ReceiverLabelsText();
    if (kind == 1)
        return "Firmware:\r\nHardware:\r\n";
    return "Firmware:\r\nHardware:";
}

QString KindName(int kind)
{
    return QString::fromUtf8(DeviceKindName(static_cast<DeviceKind>(kind)));
}

}  // namespace

CPSDevice::CPSDevice(CPSLoader& sheet) : CPSPage(sheet, QStringLiteral("Device"))
{
    const CSettingsFile& settings = App().Settings();
    const int stored = settings.GetInt(kSection, "Device_Type", 0);
    kind_ = stored >= 0 && stored < kKindCount ? stored : 0;
    filePath_ = settings.GetText(kSection, "File_Path", "device.txt");
    fileType_ = settings.GetInt(kSection, "File_Type", 2);
    const CommandLineOptions& options = App().Options();
    if (options.hasArguments && !options.device.empty()) {
        if (const int chosen = DeviceKindFromOption(options.device); chosen >= 0)
            kind_ = chosen;
    }
    MakeQuery(ProtocolTiming{});
}

CPSDevice::~CPSDevice()
{
    if (!App().SaveSettingsOnExit())
        return;
    CSettingsFile& settings = App().Settings();
    settings.WriteInt(kSection, "Device_Type", kind_);
    settings.WriteText(kSection, "File_Path", filePath_);
    settings.WriteInt(kSection, "File_Type", fileType_);
}

// The echo-off string the receiver link may learn is stored with the other settings.
void CPSDevice::MakeQuery(const ProtocolTiming& timing)
{
    CKestrumApp& app = App();
    query_ = std::make_unique<CDeviceInfoQuery>(
        LinkSettings{&app.Settings(), [&app] { return app.SaveSettingsOnExit(); }}, timing, &cancel_);
    query_->StatusChannel().LinkTo(Sheet().MainStatus());
    query_->SetTextListener([this](const std::string& text) { ShowText(text); });
}

void CPSDevice::SetTiming(const ProtocolTiming& timing)
{
    if (!busy_)
        MakeQuery(timing);
}

QString CPSDevice::TitleFor(int kind)
{
    return QString::fromLatin1(kApplicationTitle) + QStringLiteral(":  Device = ") + KindName(kind);
}

void CPSDevice::BuildControls()
{
    auto* label = new QLabel(QStringLiteral("Device Type:"), this);
    label->setGeometry(Units().Rect(7, 9, 50, 9));
    kindList_ = new QComboBox(this);
    kindList_->setObjectName(QStringLiteral("deviceType"));
    kindList_->setGeometry(Units().Rect(57, 7, 110, 13));
    label->setBuddy(kindList_);
    auto* group = new QGroupBox(QStringLiteral("Device Information"), this);
    group->setGeometry(Units().Rect(7, 26, 186, 89));
    infoBox_ = new QPlainTextEdit(group);
    infoBox_->setObjectName(QStringLiteral("deviceInformation"));
    infoBox_->setReadOnly(true);
    infoBox_->setGeometry(Units().Rect(6, 12, 174, 70));
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    infoBox_->setFont(font);
    // Tab stops as the labels need them: every value lines up two stops in.
    const QFontMetrics metrics(font);
    const int stop = std::max({metrics.horizontalAdvance(QStringLiteral("Firmware: ")),
                               metrics.horizontalAdvance(QStringLiteral("Hardware: ")),
                               metrics.horizontalAdvance(QStringLiteral("RAM Size, KB: ")) / 2 + 1});
    infoBox_->setTabStopDistance(stop);
    const auto button = [this](const char* text, int top) {
        auto* created = new QPushButton(QString::fromUtf8(text), this);
        created->setGeometry(Units().Rect(200, top, 71, 14));
        return created;
    };
    getButton_ = button("&Get from Device", 32);
    saveButton_ = button("&Save to file", 52);
    cancelButton_ = button("&Cancel", 72);
}

void CPSDevice::OnInitDialog()
{
    BuildControls();
    for (int kind = 0; kind < kKindCount; ++kind)
        kindList_->addItem(KindName(kind));
    kindList_->setCurrentIndex(kind_);
    connect(kindList_, &QComboBox::activated, this, &CPSDevice::OnKindChanged);
    connect(getButton_, &QPushButton::clicked, this, &CPSDevice::OnGetFromDevice);
    connect(saveButton_, &QPushButton::clicked, this, &CPSDevice::OnSaveToFile);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancel_.Set(); });
    SetKindLabels();
}

// The values of the last query stay: only a new query clears them.
void CPSDevice::OnKindChanged(int kind)
{
    if (kind < 0 || kind >= kKindCount)
        return;
    kind_ = kind;
    SetKindLabels();
    // The Program page shows the files of the new kind at once, so that a file saved from
    // here names the images that kind would load.
    Sheet().Program().RefreshForKind();
    update();
}

void CPSDevice::ShowText(const std::string& text)
{
    if (infoBox_ == nullptr)
        return;
    // The box is a text box: CR LF line ends show as plain line breaks.
    infoBox_->setPlainText(QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    infoBox_->repaint();
}

void CPSDevice::SetKindLabels()
{
    ShowText(LabelBlock(kind_));
    ShowTitle();
}

void CPSDevice::ShowTitle()
{
    window()->setWindowTitle(TitleFor(kind_));
}

void CPSDevice::showEvent(QShowEvent* event)
{
    CPSPage::showEvent(event);
    ShowTitle();
}

bool CPSDevice::StopQuery()
{
    if (busy_)
        cancel_.Set();
    return !busy_;
}

void CPSDevice::EnableControls(bool enable)
{
    EnableChoices(enable);
    if (cancelButton_ != nullptr)
        cancelButton_->setEnabled(enable);
}

// Everything but "&Cancel", which stops the page's own query.
void CPSDevice::EnableChoices(bool enable)
{
    for (QWidget* control : {static_cast<QWidget*>(kindList_), static_cast<QWidget*>(getButton_),
                             static_cast<QWidget*>(saveButton_)}) {
        if (control != nullptr)
            control->setEnabled(enable);
    }
}

// While a query runs: this page's own buttons and list, the Connection page, and the
// Program page's "&Load" and "&Cancel".
void CPSDevice::EnableForQuery(bool enable)
{
    EnableChoices(enable);
    Sheet().Connection().EnableControls(enable);
    Sheet().Program().EnableLoadAndCancel(enable);
}

void CPSDevice::OnGetFromDevice()
{
    if (busy_ || !Initialised())
        return;
    busy_ = true;
    EnableForQuery(false);
    PortSettings settings;
    Sheet().Connection().GetPortSettings(settings);
    query_->Run(static_cast<DeviceKind>(kind_), settings);
    busy_ = false;
    EnableForQuery(true);
    saveButton_->setFocus();
    Q_EMIT QueryFinished();
}

std::string CPSDevice::GetDeviceInfoText() const
{
    return DeviceInfoBlock(static_cast<DeviceKind>(kind_), query_->Info());
}

void CPSDevice::OnSaveToFile()
{
    // "*" and not "*.*": on Linux a file name need not have a dot.
    const QStringList filters = {QStringLiteral("All Files (*)"), QStringLiteral("Txt files (*.txt)")};
    QFileDialog dialog(this, QString(), QString::fromStdString(filePath_), filters.join(QStringLiteral(";;")));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (fileType_ >= 1 && fileType_ <= filters.size())
        dialog.selectNameFilter(filters[fileType_ - 1]);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    fileType_ = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    const std::string path = dialog.selectedFiles().first().toStdString();
    if (!path.empty())
        WriteDeviceFile(path);
}

// The new text goes beside the old file and replaces it only once it is all on disk, so a
// full disk or a crash never destroys the previous report.
bool CPSDevice::WriteDeviceFile(const std::string& path)
{
    const std::string text =
        DeviceInfoFileText(Sheet().Connection().GetConnectionInfoText(), GetDeviceInfoText(),
                           Sheet().Program().GetProgramInfoText(), BuildDateText());
    std::string error;
    if (!ReplaceFileContent(path, text, error)) {
        QMessageBox box(QMessageBox::Warning, window()->windowTitle(),
                        QStringLiteral("Couldn't create the file:\n") + QString::fromStdString(path),
                        QMessageBox::Ok, this);
        box.setInformativeText(QString::fromStdString(error));
        box.exec();
        return false;
    }
    filePath_ = path;
    return true;
}

}  // namespace kestrum
