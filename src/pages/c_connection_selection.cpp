#include "pages/c_connection_selection.h"

#include <algorithm>

#include "app/port_list.h"

namespace kestrum {

namespace {

const std::vector<std::string> kRates = {"600",   "1200",  "2400",  "4800",   "9600",   "14400",  "19200",
                                         "28800", "38400", "57600", "115200", "153600", "230400", "460800"};

bool Given(const CommandLineOptions& options, const std::string& value)
{
    return options.hasArguments && !value.empty();
}

// The leading decimal digits of a rate entry; the entries are all plain numbers.
int32_t RateValue(const std::string& text)
{
    int32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

CConnectionSelection::CConnectionSelection(std::vector<std::string> ports, std::string defaultPort)
    : defaultPort_(std::move(defaultPort))
{
    entries_[kConnectionType] = {"Serial Cable"};
    entries_[kPort] = std::move(ports);
    entries_[kRate] = kRates;
    entries_[kHandshaking] = {"None", "RTS/CTS"};
    entries_[kWordLength] = {"5", "6", "7", "8"};
    entries_[kParity] = {"None", "Odd", "Even"};
    entries_[kStopBits] = {"1", "2"};
    selected_.fill(kNone);
    stored_.port = defaultPort_;
}

void CConnectionSelection::Select(List list, int index)
{
    if (index < 0 || index >= static_cast<int>(entries_[list].size()))
        return;
    selected_[list] = index;
    if (list == kConnectionType)
        connectionType_ = index;
}

void CConnectionSelection::LoadPortSettings(const CSettingsFile& file)
{
    connectionType_ = file.GetInt(kCommunicSection, kConnTypeKey, 0);
    stored_.port = file.GetText(kPortSection, "Name", defaultPort_);
    stored_.speed = file.GetInt(kPortSection, "Speed", 115200);
    stored_.handshaking = file.GetInt(kPortSection, "Handshake", 0);
    stored_.wordLength = file.GetInt(kPortSection, "WordLen", 3);
    stored_.parity = file.GetInt(kPortSection, "Parity", 0);
    stored_.stopBits = file.GetInt(kPortSection, "StopBits", 0);
}

int CConnectionSelection::IndexOf(List list, const std::string& text) const
{
    const auto& entries = entries_[list];
    const auto found = std::find(entries.begin(), entries.end(), text);
    return found == entries.end() ? kNone : static_cast<int>(found - entries.begin());
}

void CConnectionSelection::SelectStoredIndex(List list, int index)
{
    if (index >= 0 && index < static_cast<int>(entries_[list].size()))
        selected_[list] = index;
}

// A by-id link and its /dev/ttyUSBn are one port: either name selects the listed entry.
void CConnectionSelection::SelectPort(const CommandLineOptions& options)
{
    const std::vector<std::string>& ports = entries_[kPort];
    int index = Given(options, options.port) ? IndexOf(kPort, ListedPortName(ports, options.port)) : kNone;
    unofferedPort_ = Given(options, options.port) && index == kNone ? options.port : "";
    if (index == kNone)
        index = IndexOf(kPort, ListedPortName(ports, stored_.port));
    if (index != kNone)
        selected_[kPort] = index;
}

void CConnectionSelection::SelectRate(const CommandLineOptions& options)
{
    int index = Given(options, options.speed) ? IndexOf(kRate, options.speed) : kNone;
    if (index == kNone)
        index = IndexOf(kRate, std::to_string(stored_.speed));
    if (index != kNone)
        selected_[kRate] = index;
}

// The stored value 2 (XON/XOFF) is valid but not offered: the list then shows no selection.
void CConnectionSelection::SelectHandshaking(const CommandLineOptions& options)
{
    if (Given(options, options.handshaking) && options.handshaking == "none") {
        selected_[kHandshaking] = 0;
    } else if (Given(options, options.handshaking) && options.handshaking == "rts") {
        selected_[kHandshaking] = 1;
    } else if (stored_.handshaking >= 0 && stored_.handshaking <= 2) {
        selected_[kHandshaking] = stored_.handshaking == 2 ? kNone : stored_.handshaking;
    }
}

void CConnectionSelection::Initialise(const CommandLineOptions& options)
{
    selected_.fill(kNone);
    SelectStoredIndex(kConnectionType, connectionType_);
    selected_[kWordLength] = 3;
    selected_[kParity] = 0;
    selected_[kStopBits] = 0;
    selected_[kPort] = IndexOf(kPort, defaultPort_);
    selected_[kRate] = IndexOf(kRate, "115200");
    selected_[kHandshaking] = 0;
    SelectPort(options);
    SelectRate(options);
    SelectHandshaking(options);
    SelectStoredIndex(kWordLength, stored_.wordLength);
    SelectStoredIndex(kParity, stored_.parity);
    SelectStoredIndex(kStopBits, stored_.stopBits);
}

void CConnectionSelection::GetPortSettings(PortSettings& settings) const
{
    if (selected_[kPort] != kNone)
        settings.port = entries_[kPort][static_cast<size_t>(selected_[kPort])];
    if (selected_[kRate] != kNone)
        settings.speed = RateValue(entries_[kRate][static_cast<size_t>(selected_[kRate])]);
    const std::pair<List, int32_t*> indexes[] = {{kHandshaking, &settings.handshaking},
                                                 {kWordLength, &settings.wordLength},
                                                 {kParity, &settings.parity},
                                                 {kStopBits, &settings.stopBits}};
    for (const auto& [list, field] : indexes) {
        if (selected_[list] != kNone)
            *field = selected_[list];
    }
}

std::string CConnectionSelection::SelectedText(List list) const
{
    const int selected = selected_[list];
    return selected == kNone ? "" : entries_[list][static_cast<size_t>(selected)];
}

std::string CConnectionSelection::ConnectionInfoText() const
{
    static const char* const kLabels[kListCount] = {"Connection:\t", "PC Port:\t",     "Baud rate:\t", "Handshaking:\t",
                                                    "Word Length:\t", "Parity:\t\t", "Stop Bits:\t"};
    std::string text;
    for (int list = 0; list < kListCount; ++list)
        text += kLabels[list] + SelectedText(static_cast<List>(list)) + "\r\n";
    return text;
}

void CConnectionSelection::StorePortSettings(CSettingsFile& file)
{
    GetPortSettings(stored_);
    file.WriteInt(kCommunicSection, kConnTypeKey, connectionType_);
    file.WriteText(kPortSection, "Name", stored_.port);
    file.WriteInt(kPortSection, "Speed", stored_.speed);
    file.WriteInt(kPortSection, "Handshake", stored_.handshaking);
    file.WriteInt(kPortSection, "WordLen", stored_.wordLength);
    file.WriteInt(kPortSection, "Parity", stored_.parity);
    file.WriteInt(kPortSection, "StopBits", stored_.stopBits);
}

}  // namespace kestrum
