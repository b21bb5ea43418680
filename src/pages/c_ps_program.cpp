#include "pages/c_ps_program.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimerEvent>

#include "app/c_kestrum_app.h"
#include "loader/load_result.h"
#include "pages/c_capturing_dialog.h"
#include "pages/c_ps_connection.h"
#include "pages/c_ps_device.h"
#include "pages/c_ps_loader.h"
#include "platform/message_pump.h"
#include "widgets/c_lamp_ctrl.h"
#include "widgets/c_path_combo_box.h"
#include "widgets/c_private_message_event.h"
#include "widgets/c_pump_pause.h"
#include "widgets/c_text_progress_ctrl.h"

namespace kestrum {

namespace {

const QStringList kCaptureMethods = {QStringLiteral("Power On Capture"), QStringLiteral("Soft Break Capture"),
                                     QStringLiteral("Hardware Reset")};

// Layout in dialog units, inside the 278 by 122 page.
constexpr int kGroupTop = 24;
constexpr int kGroupHeight = 60;
constexpr int kRamRow = kGroupTop + 14;
constexpr int kFlashRow = kGroupTop + 36;
constexpr int kBoxLeft = 72;
constexpr int kBoxWidth = 138;

std::string Text(const CPathComboBox* box)
{
    return box->FullPath().toStdString();
}

}  // namespace

CPSProgram::CPSProgram(CPSLoader& sheet)
    : CPSPage(sheet, QStringLiteral("Program")), cancel_(std::make_shared<CEvent>(CEvent::ResetMode::Auto)),
      receiverFlow_(status_, cancel_), displayUnitFlow_(cancel_)
{
    status_.LinkTo(sheet.MainStatus());
    settings_.LoadProgramSettings(App().Settings());
}

CPSProgram::~CPSProgram()
{
    capturing_.reset();
    receiverFlow_.StopAndWait();
    if (App().SaveSettingsOnExit())
        settings_.SaveProgramSettings(App().Settings());
}

int CPSProgram::Kind() const
{
    return Sheet().Device().GetDeviceKind();
}

bool CPSProgram::Done() const
{
    return !receiverFlow_.Busy() && !displayUnitFlow_.Running() && !recorder_.Busy();
}

// --- controls ---------------------------------------------------------------------------

void CPSProgram::BuildControls()
{
    auto* captureLabel = new QLabel(QStringLiteral("Capture Method:"), this);
    captureLabel->setGeometry(Units().Rect(7, 9, 60, 9));
    captureList_ = new QComboBox(this);
    captureList_->setObjectName(QStringLiteral("captureMethod"));
    captureList_->setGeometry(Units().Rect(kBoxLeft, 7, 100, 13));
    captureLabel->setBuddy(captureList_);
    firmware_ = new QGroupBox(QStringLiteral("Firmware"), this);
    firmware_->setGeometry(Units().Rect(7, kGroupTop, 264, kGroupHeight));
    firmware_->lower();
    const auto row = [this](int top, const char* label, const char* boxName, const char* browse) {
        auto* lamp = new CLampCtrl(this);
        lamp->move(Units().X(13), Units().Y(top + 2));
        auto* caption = new QLabel(QString::fromUtf8(label), this);
        caption->setGeometry(Units().Rect(27, top + 2, 44, 9));
        auto* box = new CPathComboBox(this);
        box->setObjectName(QString::fromUtf8(boxName));
        box->setGeometry(Units().Rect(kBoxLeft, top, kBoxWidth, 13));
        caption->setBuddy(box);
        auto* button = new QPushButton(QString::fromUtf8(browse), this);
        button->setGeometry(Units().Rect(kBoxLeft + kBoxWidth + 6, top, 50, 14));
        return std::make_tuple(lamp, caption, box, button);
    };
    std::tie(ramLamp_, ramLabel_, ramBox_, browseRam_) = row(kRamRow, "RAM file:", "ramFile", "Browse &R");
    std::tie(flashLamp_, flashLabel_, flashBox_, browseFlash_) = row(kFlashRow, "Flash file:", "flashFile", "Browse &F");
    progress_ = new CTextProgressCtrl(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setGeometry(Units().Rect(7, kGroupTop + kGroupHeight + 6, 264, 11));
    load_ = new QPushButton(QStringLiteral("&Load"), this);
    load_->setGeometry(Units().Rect(160, 104, 52, 14));
    cancelButton_ = new QPushButton(QStringLiteral("&Cancel"), this);
    cancelButton_->setGeometry(Units().Rect(219, 104, 52, 14));

    connect(captureList_, &QComboBox::activated, this,
            [this](int index) { settings_.SetCaptureMethod(Kind(), index); });
    connect(ramBox_, &QComboBox::activated, this, &CPSProgram::OnRamSelected);
    connect(flashBox_, &QComboBox::activated, this, &CPSProgram::OnFlashSelected);
    connect(ramBox_->lineEdit(), &QLineEdit::textEdited, this, &CPSProgram::UpdateLoadButton);
    connect(flashBox_->lineEdit(), &QLineEdit::textEdited, this, &CPSProgram::UpdateLoadButton);
    connect(browseRam_, &QPushButton::clicked, this, [this] { OnBrowse(true); });
    connect(browseFlash_, &QPushButton::clicked, this, [this] { OnBrowse(false); });
    connect(load_, &QPushButton::clicked, this, &CPSProgram::OnLoad);
    connect(cancelButton_, &QPushButton::clicked, this, &CPSProgram::OnCancel);
}

void CPSProgram::OnInitDialog()
{
    BuildControls();
    // The lists may grow up to the page's edges.
    const int left = ramBox_->x();
    const int right = width() - ramBox_->geometry().right() - 1;
    ramBox_->SetExtents(left, right);
    flashBox_->SetExtents(left, right);
    settings_.LoadProgramSettings(App().Settings());
    settings_.AddDefaultEntries();
    ApplyCommandLine();
    FillCaptureList();
    SelectCaptureMethod();
    GreyLamps();
    progress_->ShowText(false);
    progress_->SetBackgroundColour(QColor(190, 190, 190));
    RefreshForKind();
    EnableControls(true);
}

void CPSProgram::FillCaptureList()
{
    captureList_->clear();
    const int offered = settings_.HardwareResetAvailable() ? 3 : 2;
    for (int method = 0; method < offered; ++method)
        captureList_->addItem(kCaptureMethods[method]);
}

// A stored method the list does not offer ("Hardware Reset" without it) becomes power-on.
void CPSProgram::SelectCaptureMethod()
{
    const int kind = Kind();
    if (settings_.CaptureMethod(kind) >= captureList_->count())
        settings_.SetCaptureMethod(kind, 0);
    captureList_->setCurrentIndex(settings_.CaptureMethod(kind));
}

void CPSProgram::ApplyCommandLine()
{
    const CommandLineOptions& options = App().Options();
    if (!options.hasArguments)
        return;
    const int kind = Kind();
    settings_.ApplyCaptureOption(kind, options.captureMethod);
    if (kind == 0 && !options.ramFile.empty()) {
        settings_.AddToHistory(CProgramSettings::kRamHistory, options.ramFile, true);
        selected_[kRamSlot] = 0;
    }
    if (kind == 0 && !options.flashFile.empty()) {
        settings_.AddToHistory(CProgramSettings::kFlashHistory, options.flashFile, true);
        selected_[kFlashSlot] = 0;
    }
    if (kind == 1 && !options.ramFile.empty()) {
        settings_.AddToHistory(CProgramSettings::kPowerHistory, options.ramFile, true);
        selected_[kPowerSlot] = 0;
    }
}

// Histories 0 and 2 fill the RAM box, 1 and 3 the Flash box.
void CPSProgram::FillPathCombo(int history)
{
    CPathComboBox* box = history % 2 == 0 ? ramBox_ : flashBox_;
    if (box == nullptr)
        return;
    box->ResetContent();
    for (const std::string& path : settings_.Entries(history))
        box->AddString(QString::fromStdString(path));
}

void CPSProgram::AddToHistory(int history, const std::string& path, bool moveToFront)
{
    settings_.AddToHistory(history, path, moveToFront);
    if (moveToFront)
        FillPathCombo(history);
}

void CPSProgram::SelectEntry(int history, int index)
{
    selected_[history] = index;
    (history % 2 == 0 ? ramBox_ : flashBox_)->SetCurSel(index);
}

void CPSProgram::ShowControlsForKind(int kind)
{
    browseRam_->setVisible(kind != 2);
    browseFlash_->setVisible(kind == 0);
    ramLabel_->setVisible(kind != 2);
    flashLabel_->setVisible(kind != 1);
    ramBox_->setVisible(kind != 2);
    flashBox_->setVisible(kind == 0);
    ramLamp_->setVisible(kind != 2);
    flashLamp_->setVisible(kind != 1);
}

void CPSProgram::GreyLamps()
{
    ramLamp_->SetCell(CLampCtrl::Colour::Blue, CLampCtrl::Shade::Grey);
    flashLamp_->SetCell(CLampCtrl::Colour::Blue, CLampCtrl::Shade::Grey);
}

void CPSProgram::RefreshForKind()
{
    if (!Initialised())
        return;
    const int kind = Kind();
    if (kind == lastKindShown_)
        return;
    lastKindShown_ = kind;
    GreyLamps();
    progress_->ShowText(false);
    progress_->SetPos(0);
    status_.SetStatus("");
    ShowControlsForKind(kind);
    if (kind == 0) {
        FillPathCombo(CProgramSettings::kRamHistory);
        ramBox_->SetCurSel(selected_[kRamSlot]);
        FillPathCombo(CProgramSettings::kFlashHistory);
        flashBox_->SetCurSel(selected_[kFlashSlot]);
    } else if (kind == 1) {
        FillPathCombo(CProgramSettings::kPowerHistory);
        ramBox_->SetCurSel(selected_[kPowerSlot]);
    } else {
        FillPathCombo(CProgramSettings::kVdkHistory);
        flashBox_->SetCurSel(selected_[kVdkSlot]);
    }
    SelectCaptureMethod();
    captureList_->setEnabled(kind != 2);
    UpdateLoadButton();
}

bool CPSProgram::IsLoadReady() const
{
    if (!Done())
        return false;
    if (ramBox_ == nullptr)
        return false;
    const int kind = Kind();
    if (kind == 0)
        return !ramBox_->FullPath().isEmpty() && !flashBox_->FullPath().isEmpty();
    if (kind == 1)
        return !ramBox_->FullPath().isEmpty();
    return true;
}

// A Device-page query holds the line: nothing turns "&Load" on until it has ended.
bool CPSProgram::LoadAllowed() const
{
    return IsLoadReady() && !Sheet().Device().Busy();
}

void CPSProgram::UpdateLoadButton()
{
    if (load_ != nullptr)
        load_->setEnabled(LoadAllowed());
}

void CPSProgram::EnableControls(bool enable)
{
    if (captureList_ == nullptr)
        return;
    for (QWidget* control : {static_cast<QWidget*>(cancelButton_), static_cast<QWidget*>(browseRam_),
                             static_cast<QWidget*>(browseFlash_), static_cast<QWidget*>(ramBox_),
                             static_cast<QWidget*>(flashBox_)})
        control->setEnabled(enable);
    // A VDK-1 has no capture method to choose.
    captureList_->setEnabled(enable && Kind() != 2);
    load_->setEnabled(enable && LoadAllowed());
}

void CPSProgram::EnableLoadAndCancel(bool enable)
{
    if (load_ == nullptr)
        return;
    cancelButton_->setEnabled(enable);
    load_->setEnabled(enable && LoadAllowed());
}

void CPSProgram::EnableOtherPages(bool enable)
{
    Sheet().Connection().EnableControls(enable);
    Sheet().Device().EnableControls(enable);
}

void CPSProgram::showEvent(QShowEvent* event)
{
    CPSPage::showEvent(event);
    const CPumpPause showing;
    if (Done())
        RefreshForKind();
}

// --- lamps, capture prompt, progress -----------------------------------------------------

void CPSProgram::SetLamp(int type, bool flag)
{
    if (ramLamp_ == nullptr || type < 0 || type > 5)
        return;
    CLampCtrl* lamp = type == 1 || type == 4 ? flashLamp_ : ramLamp_;
    const bool transfer = type <= 2;
    if (transfer)
        lamp->SetCell(flag ? CLampCtrl::Colour::Red : CLampCtrl::Colour::Green, CLampCtrl::Shade::Bright);
    else
        lamp->SetCell(CLampCtrl::Colour::Blue, flag ? CLampCtrl::Shade::Bright : CLampCtrl::Shade::Grey);
}

// Over the page: centred on it, its frame's bottom on the bottom of the "Firmware" group,
// as the run recorded them when it started.
void CPSProgram::ShowCapturingDialog(bool show, int countdownMs)
{
    if (!show || !receiverFlow_.CaptureDialogAllowed()) {
        capturing_.reset();
        return;
    }
    if (!capturing_) {
        capturing_ = std::make_unique<CCapturingDialog>(window());
        capturing_->SetCancelEvent(cancel_, countdownMs);
    }
    const QRect area(QPoint(captureArea_.left, captureArea_.top), QPoint(captureArea_.right, captureArea_.bottom));
    capturing_->PlaceOver(area);
    capturing_->show();
    // The frame around the window is known only once it is on screen.
    capturing_->PlaceOver(area);
    capturing_->repaint();
}

void CPSProgram::OnCancel()
{
    cancel_->Set();
}

// --- starting and following a load -------------------------------------------------------

void CPSProgram::OnLoad()
{
    if (!Done() || !Initialised() || Sheet().Device().Busy())
        return;
    status_.SetStatus("");
    cancel_->Reset();
    const int kind = Kind();
    if (kind == 0)
        LoadReceiver();
    else if (kind == 1)
        LoadPowerBoard();
    else
        LoadDisplayUnit();
}

void CPSProgram::LoadReceiver()
{
    const std::string ram = Text(ramBox_);
    const std::string flash = Text(flashBox_);
    const CReceiverLoadFlow::FileCheck check = receiverFlow_.CheckReceiverFiles(ram, flash);
    if (check.remember) {
        RememberFile(CProgramSettings::kRamHistory, ram);
        RememberFile(CProgramSettings::kFlashHistory, flash);
    }
    if (!check.Passed()) {
        status_.SetStatus(check.complaint);
        return;
    }
    GreyLamps();
    BeginRun();
}

// This flow reports in message boxes, where the receiver's reports in the status bar.
void CPSProgram::LoadPowerBoard()
{
    const std::string image = Text(ramBox_);
    const CReceiverLoadFlow::FileCheck check = receiverFlow_.CheckPowerBoardImage(image);
    if (!check.Passed()) {
        QMessageBox::information(this, window()->windowTitle(), QString::fromStdString(check.complaint));
        return;
    }
    RememberFile(CProgramSettings::kPowerHistory, image);
    // The RAM lamp turns blue when the board has taken the image as its own, as a receiver's does.
    GreyLamps();
    BeginRun();
}

// The path goes to the front of its history and is selected there.
void CPSProgram::RememberFile(int history, const std::string& path)
{
    AddToHistory(history, path, true);
    SelectEntry(history, 0);
}

// Every input but "&Cancel" off, the other pages too, then the start on the next turn of
// the event loop.
void CPSProgram::BeginRun()
{
    EnableControls(false);
    cancelButton_->setEnabled(true);
    EnableOtherPages(false);
    if (!BeginRecord(Kind())) {
        EndRunNotStarted();
        return;
    }
    receiverFlow_.Begin(captureList_->currentIndex());
    QCoreApplication::postEvent(this, new CPrivateMessageEvent(WM_START_LOAD, 0, 0));
}

void CPSProgram::customEvent(QEvent* event)
{
    if (event->type() == CPrivateMessageEvent::TypeOf(WM_START_LOAD)) {
        OnStartLoad();
        return;
    }
    CPSPage::customEvent(event);
}

void CPSProgram::OnStartLoad()
{
    const int method = std::max(0, captureList_->currentIndex());
    const int started = receiverFlow_.Start(method, MakeSetup());
    if (started == CLoadSession::kStarted) {
        pollTimer_.start(kPollTimerMs, this);
        progressTimer_.start(kProgressTimerMs, this);
        Q_EMIT LoadStarted();
        return;
    }
    const int result = CReceiverLoadFlow::ResultOfFailedStart(started);
    FinishRecord(result, {});
    EnableControls(true);
    EnableOtherPages(true);
    GreyLamps();
    Q_EMIT LoadFinished(result);
}

// What the page and the other pages tell the load; the flow adds the files and the cancel
// event. The Capturing dialog goes over the page down to its "Firmware" group.
LoadSetup CPSProgram::MakeSetup()
{
    const QPoint topLeft = mapToGlobal(QPoint(0, 0));
    const QPoint groupBottom = firmware_->mapToGlobal(QPoint(0, firmware_->height() - 1));
    captureArea_ = {topLeft.x(), topLeft.y(), topLeft.x() + width() - 1, groupBottom.y()};
    PortSettings port;
    Sheet().Connection().GetPortSettings(port);
    LoadSetup setup;
    setup.portName = port.port;
    setup.baudRate = static_cast<uint32_t>(port.speed);
    setup.flowControl = port.handshaking;
    setup.deviceKind = Kind();
    setup.softBreakVariant = settings_.SoftBreakVariant();
    setup.captureArea = captureArea_;
    setup.statusLink = Sheet().MainStatus();
    setup.setRange = [this](int steps) {
        progress_->SetRange(0, steps);
        progress_->SetStep(1);
        progress_->ShowText(true);
        progress_->SetPos(0);
    };
    setup.timing = timings_.load;
    setup.protocolTiming = timings_.protocol;
    CKestrumApp& app = App();
    setup.receiverSettings = LinkSettings{&app.Settings(), [&app] { return app.SaveSettingsOnExit(); }};
    return setup;
}

void CPSProgram::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == pollTimer_.timerId()) {
        OnPollTimer();
    } else if (event->timerId() == progressTimer_.timerId()) {
        progress_->SetPos(receiverFlow_.ProgressSteps());
    } else {
        CPSPage::timerEvent(event);
    }
}

void CPSProgram::OnPollTimer()
{
    if (!Done())
        return;
    progress_->SetPos(receiverFlow_.ProgressSteps());
    const CReceiverLoadFlow::Outcome outcome = receiverFlow_.TakeOutcome();
    if (outcome.next == CReceiverLoadFlow::Next::Retry) {
        pollTimer_.stop();
        progressTimer_.stop();
        OnStartLoad();
        return;
    }
    FinishLoad(outcome.result);
}

void CPSProgram::FinishLoad(int result)
{
    pollTimer_.stop();
    progressTimer_.stop();
    FinishRecord(result, receiverFlow_.SentImages());
    EnableControls(true);
    EnableOtherPages(true);
    // A failure keeps the load's own last text, which says more than the result's.
    if (result == LOAD_OK)
        status_.SetStatus("Loading completed");
    if (result == LOAD_CANT_CAPTURE)
        GreyLamps();
    load_->setFocus();
    Q_EMIT LoadFinished(result);
    CloseIfExitAfterLoad(result);
}

// With a record file chosen, the device is asked what it runs before anything else touches
// the line; a record file that cannot be opened keeps the run from starting.
bool CPSProgram::BeginRecord(int kind)
{
    recorder_.SetRecordFile(settings_.RecordFile());
    PortSettings port;
    Sheet().Connection().GetPortSettings(port);
    CKestrumApp& app = App();
    const LinkSettings link{&app.Settings(), [&app] { return app.SaveSettingsOnExit(); }};
    std::string error;
    if (recorder_.Begin(static_cast<DeviceKind>(kind), port, status_.Number(), link, cancel_.get(), error))
        return true;
    status_.SetStatus(error);
    return false;
}

// A run the record kept from starting leaves the page as it found it.
void CPSProgram::EndRunNotStarted()
{
    EnableControls(true);
    EnableOtherPages(true);
    GreyLamps();
}

// The run's record, with the device asked again after a completed load; the result shown
// stays the load's own unless the record could not be written.
void CPSProgram::FinishRecord(int result, std::vector<ImageDigest> images)
{
    std::string text = "Loading completed";
    if (result != LOAD_OK)
        GetLoadResultText(result, text);
    std::string error;
    if (!recorder_.Finish(result, text, std::move(images), error))
        status_.SetStatus(error);
}

// -e: the program ends after a successful load, of any device kind.
void CPSProgram::CloseIfExitAfterLoad(int result)
{
    const CommandLineOptions& options = App().Options();
    if (result == LOAD_OK && options.hasArguments && options.exitAfterLoad)
        QMetaObject::invokeMethod(window(), "close", Qt::QueuedConnection);
}

// The run is asked to stop; a worker ends within moments of that, and the caller (the
// main window's close timer) asks again until it has.
bool CPSProgram::StopLoad()
{
    pollTimer_.stop();
    if (!Done()) {
        cancel_->Set();
        receiverFlow_.RequestStop();
    }
    receiverFlow_.JoinEnded();
    return Done();
}

// --- the VDK-1 -----------------------------------------------------------------------------

// The run's waits keep the window alive meanwhile.
void CPSProgram::LoadDisplayUnit()
{
    status_.SetStatus("");
    EnableControls(false);
    flashLamp_->SetCell(CLampCtrl::Colour::Blue, CLampCtrl::Shade::Bright);
    cancelButton_->setEnabled(true);
    EnableOtherPages(false);
    if (!BeginRecord(Kind())) {
        EndRunNotStarted();
        return;
    }
    PortSettings port;
    Sheet().Connection().GetPortSettings(port);
    CDisplayUnitLoadFlow::Job job{port.port, settings_.DisplayUnitLines(), timings_.displayUnit, {}, {}};
    job.callbacks.status = [this](const std::string& text) { status_.SetStatus(text); };
    job.callbacks.lamp = [this](FlashLamp lamp) { SetLamp(1, lamp == FlashLamp::TransferRunning); };
    job.callbacks.showProgressText = [this] { progress_->ShowText(true); };
    job.callbacks.progress = [this](uint32_t counter) {
        progress_->SetPos(CDisplayUnitLoadFlow::ProgressPercent(counter));
    };
    job.started = [this] { Q_EMIT LoadStarted(); };
    progress_->SetRange(0, 100);
    progress_->SetPos(0);
    const int result = displayUnitFlow_.Run(std::move(job));
    FinishRecord(result, {});
    EnableOtherPages(true);
    EnableControls(true);
    Q_EMIT LoadFinished(result);
    CloseIfExitAfterLoad(result);
}

// --- the path boxes and the file dialogs ---------------------------------------------------

void CPSProgram::OnRamSelected(int index)
{
    const int kind = Kind();
    if (kind == 0 || kind == 1)
        SelectEntry(kind == 0 ? CProgramSettings::kRamHistory : CProgramSettings::kPowerHistory, index);
    UpdateLoadButton();
}

void CPSProgram::OnFlashSelected(int index)
{
    const int kind = Kind();
    if (kind == 0 || kind == 2)
        SelectEntry(kind == 0 ? CProgramSettings::kFlashHistory : CProgramSettings::kVdkHistory, index);
    UpdateLoadButton();
}

void CPSProgram::OnBrowse(bool ramButton)
{
    const int kind = Kind();
    struct Variant {
        CProgramSettings::Filter filter;
        int history;
        const char* filterText;
    };
    Variant variant{};
    if (ramButton && kind == 0)
        variant = {CProgramSettings::kRamFilter, CProgramSettings::kRamHistory, "RAM image files (*.ldr)"};
    else if (!ramButton && kind == 0)
        variant = {CProgramSettings::kFlashFilter, CProgramSettings::kFlashHistory, "Flash EEPROM image files (*.ldp)"};
    else if (ramButton && kind == 1)
        variant = {CProgramSettings::kPowerFilter, CProgramSettings::kPowerHistory, "Flash EEPROM image files (*.ldr)"};
    else
        return;
    CPathComboBox* box = ramButton ? ramBox_ : flashBox_;
    // "*" and not "*.*": on Linux a file name need not have a dot.
    const QStringList filters = {QStringLiteral("All Files (*)"), QString::fromLatin1(variant.filterText)};
    QFileDialog dialog(this, QString(), box->FullPath(), filters.join(QStringLiteral(";;")));
    // A file that is not there yet may be named: "&Load" says so if it is still missing then.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const int stored = settings_.FilterIndex(variant.filter);  // 1-based, as the dialogs count
    if (stored >= 1 && stored <= filters.size())
        dialog.selectNameFilter(filters[stored - 1]);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        settings_.SetFilterIndex(variant.filter, static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1);
        const std::string path = dialog.selectedFiles().first().toStdString();
        if (!path.empty()) {
            AddToHistory(variant.history, path, true);
            SelectEntry(variant.history, 0);
        }
    }
    UpdateLoadButton();
}

std::string CPSProgram::GetProgramInfoText() const
{
    if (captureList_ == nullptr)
        return "";
    std::string text = "Capture Method:\t" + captureList_->currentText().toStdString() + "\r\n";
    const int kind = Kind();
    if (kind == 0 || kind == 1)
        text += "RAM file:\t" + Text(ramBox_) + "\r\n";
    if (kind == 0)
        text += "Flash File:\t" + Text(flashBox_) + "\r\n";
    return text;
}

}  // namespace kestrum
