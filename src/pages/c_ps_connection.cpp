#include "pages/c_ps_connection.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include "app/c_kestrum_app.h"
#include "pages/c_ps_loader.h"

namespace kestrum {

namespace {

// Layout in dialog units, inside the 278 by 122 page.
constexpr int kMargin = 7;
constexpr int kGroupTop = 28;
constexpr int kRowHeight = 22;
constexpr int kGroupHeight = 80;
constexpr int kListHeight = 13;

}  // namespace

CPSConnection::CPSConnection(CPSLoader& sheet)
    : CPSPage(sheet, QStringLiteral("Connection")),
      selection_(sheet.App().PortList(), sheet.App().DefaultPortName())
{
    LoadPortSettings();
    selection_.Initialise(App().Options());
}

CPSConnection::~CPSConnection()
{
    if (App().SaveSettingsOnExit())
        selection_.StorePortSettings(App().Settings());
}

void CPSConnection::LoadPortSettings()
{
    selection_.LoadPortSettings(App().Settings());
}

void CPSConnection::GetPortSettings(PortSettings& settings) const
{
    selection_.GetPortSettings(settings);
}

void CPSConnection::EnableControls(bool enable)
{
    for (QComboBox* list : lists_) {
        if (list != nullptr)
            list->setEnabled(enable);
    }
}

QComboBox* CPSConnection::AddList(CConnectionSelection::List list, const char* name, const char* label, int x,
                                  int y, int labelWidth, int listWidth)
{
    auto* caption = new QLabel(QString::fromUtf8(label), this);
    caption->setGeometry(Units().Rect(x, y + 2, labelWidth, 9));
    auto* box = new QComboBox(this);
    box->setObjectName(QString::fromUtf8(name));
    box->setGeometry(Units().Rect(x + labelWidth, y, listWidth, kListHeight));
    caption->setBuddy(box);
    for (const std::string& entry : selection_.Entries(list))
        box->addItem(QString::fromStdString(entry));
    // The port list may hold long device paths: the open list is as wide as they are.
    box->view()->setMinimumWidth(box->minimumSizeHint().width());
    connect(box, &QComboBox::activated, this, [this, list](int index) { selection_.Select(list, index); });
    lists_[list] = box;
    return box;
}

void CPSConnection::BuildControls()
{
    using Sel = CConnectionSelection;
    AddList(Sel::kConnectionType, "connectionType", "Connection Type:", kMargin, kMargin, 62, 90);
    auto* group = new QGroupBox(QStringLiteral("Connection Settings"), this);
    group->setGeometry(Units().Rect(kMargin, kGroupTop, 278 - 2 * kMargin, kGroupHeight));
    group->lower();
    const int top = kGroupTop + 15;
    DescribePorts(AddList(Sel::kPort, "pcPort", "PC Port:", 15, top, 56, 80));
    AddList(Sel::kRate, "baudRate", "Baud rate:", 15, top + kRowHeight, 56, 80);
    AddList(Sel::kHandshaking, "handshaking", "Handshaking:", 15, top + 2 * kRowHeight, 56, 80);
    AddList(Sel::kWordLength, "wordLength", "Word Length:", 160, top, 56, 50);
    AddList(Sel::kParity, "parity", "Parity:", 160, top + kRowHeight, 56, 50);
    AddList(Sel::kStopBits, "stopBits", "Stop Bits:", 160, top + 2 * kRowHeight, 56, 50);
}

// USB adapters are told apart by what they say of themselves and by their stable name:
// each entry's tooltip shows both, and so does the list's own for the chosen entry.
void CPSConnection::DescribePorts(QComboBox* box)
{
    const std::vector<PortDetails>& ports = App().PortDescriptions();
    for (int index = 0; index < box->count() && index < static_cast<int>(ports.size()); ++index) {
        const PortDetails& port = ports[static_cast<size_t>(index)];
        QStringList lines;
        if (port.IsUsb())
            lines << QString::fromStdString(port.Summary());
        if (!port.byIdPath.empty())
            lines << QString::fromStdString(port.byIdPath);
        if (!lines.isEmpty())
            box->setItemData(index, lines.join(QLatin1Char('\n')), Qt::ToolTipRole);
    }
    connect(box, &QComboBox::currentIndexChanged, box,
            [box] { box->setToolTip(box->currentData(Qt::ToolTipRole).toString()); });
}

void CPSConnection::ShowSelection()
{
    for (int list = 0; list < CConnectionSelection::kListCount; ++list)
        lists_[list]->setCurrentIndex(selection_.Selected(static_cast<CConnectionSelection::List>(list)));
}

void CPSConnection::OnInitDialog()
{
    BuildControls();
    LoadPortSettings();
    selection_.Initialise(App().Options());
    ShowSelection();
}

}  // namespace kestrum
