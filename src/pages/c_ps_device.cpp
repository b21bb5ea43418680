#include "pages/c_ps_device.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>

#include "app/c_kestrum_app.h"
#include "pages/c_ps_loader.h"
#include "protocol/device_info.h"

namespace kestrum {

namespace {

constexpr int kKindCount = 3;

// The labels the box shows for a kind before any query.
QString LabelBlock(int kind)
{
    if (kind == 0)
        return QString::fromStdString(ReceiverLabelsText());
    if (kind == 1)
        return QStringLiteral("Firmware:\r\nHardware:\r\n");
    return QStringLiteral("Firmware:\r\nHardware:");
}

QString KindName(int kind)
{
    return QString::fromUtf8(DeviceKindName(static_cast<DeviceKind>(kind)));
}

// The box is a text box: CR LF line ends show as plain line breaks.
QString ForTheBox(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

CPSDevice::CPSDevice(CPSLoader& sheet) : CPSPage(sheet, QStringLiteral("Device"))
{
    const int stored = App().Settings().GetInt(kSection, "Device_Type", 0);
    kind_ = stored >= 0 && stored < kKindCount ? stored : 0;
    const CommandLineOptions& options = App().Options();
    if (options.hasArguments && !options.device.empty()) {
        if (const int chosen = DeviceKindFromOption(options.device); chosen >= 0)
            kind_ = chosen;
    }
}

CPSDevice::~CPSDevice()
{
    if (App().SaveSettingsOnExit())
        App().Settings().WriteInt(kSection, "Device_Type", kind_);
}

QString CPSDevice::TitleFor(int kind)
{
    return QStringLiteral("Vexil Firmware Loader:  Device = ") + KindName(kind);
}

void CPSDevice::OnInitDialog()
{
    auto* label = new QLabel(QStringLiteral("Device Type:"), this);
    label->setGeometry(Units().Rect(7, 9, 50, 9));
    kindList_ = new QComboBox(this);
    kindList_->setObjectName(QStringLiteral("deviceType"));
    kindList_->setGeometry(Units().Rect(57, 7, 100, 13));
    label->setBuddy(kindList_);
    for (int kind = 0; kind < kKindCount; ++kind)
        kindList_->addItem(KindName(kind));
    kindList_->setCurrentIndex(kind_);
    connect(kindList_, &QComboBox::activated, this, &CPSDevice::OnKindChanged);
    auto* group = new QGroupBox(QStringLiteral("Device Information"), this);
    group->setGeometry(Units().Rect(7, 26, 180, 89));
    infoBox_ = new QPlainTextEdit(group);
    infoBox_->setObjectName(QStringLiteral("deviceInformation"));
    infoBox_->setReadOnly(true);
    infoBox_->setGeometry(Units().Rect(6, 12, 168, 70));
    SetKindLabels();
}

void CPSDevice::OnKindChanged(int kind)
{
    if (kind < 0 || kind >= kKindCount)
        return;
    kind_ = kind;
    SetKindLabels();
    update();
}

void CPSDevice::SetKindLabels()
{
    if (infoBox_ != nullptr)
        infoBox_->setPlainText(ForTheBox(LabelBlock(kind_)));
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

void CPSDevice::RefreshInfoText()
{
    SetKindLabels();
}

bool CPSDevice::StopQuery()
{
    return true;
}

void CPSDevice::EnableControls(bool enable)
{
    if (kindList_ != nullptr)
        kindList_->setEnabled(enable);
}

}  // namespace kestrum
