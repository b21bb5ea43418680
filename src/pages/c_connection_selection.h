#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/c_settings_file.h"
#include "app/command_line_options.h"
#include "link/port_settings.h"

namespace kestrum {

// What the Connection page decides, without a widget: the entries of its seven lists,
// the settings stored in the settings file, which entry each list selects at start (from
// the command line, else the stored settings, else the preliminary choice), and the
// PortSettings the selections stand for. The page shows the lists and reports the user's
// picks; tests drive this object directly.
class CConnectionSelection {
public:
    enum List { kConnectionType, kPort, kRate, kHandshaking, kWordLength, kParity, kStopBits, kListCount };
    static constexpr int kNone = -1;  // a list without a selection

    static constexpr const char* kCommunicSection = "Communic";
    static constexpr const char* kConnTypeKey = "ConnType";
    static constexpr const char* kPortSection = "PortSettings";

    // ports: the port list in its order; defaultPort: the name stored when none is.
    CConnectionSelection(std::vector<std::string> ports, std::string defaultPort);

    const std::vector<std::string>& Entries(List list) const { return entries_[list]; }
    int Selected(List list) const { return selected_[list]; }
    // A pick of the user; kNone or an index outside the list changes nothing. The
    // connection type is kept at once, the others are read when asked for.
    void Select(List list, int index);

    // Reads the connection type and the stored PortSettings (defaults for missing keys).
    void LoadPortSettings(const CSettingsFile& file);
    // The selections at start: preliminary ones, then the command line's port, speed and
    // handshaking (when there are arguments and the list offers the value), else the
    // stored ones; stored indexes outside a list's range are ignored.
    void Initialise(const CommandLineOptions& options);

    // Overwrites settings from the selections; a list without a selection leaves the
    // caller's value, and the line-level flags are never touched.
    void GetPortSettings(PortSettings& settings) const;
    // Takes the selections into the stored record and writes it with the connection type.
    void StorePortSettings(CSettingsFile& file);

    // The connection block of the device-information file: each list's label and the
    // text of its selected entry (empty without a selection), one per line.
    std::string ConnectionInfoText() const;

    // The text of a list's selected entry; empty without a selection.
    std::string SelectedText(List list) const;
    // A port the command line named that the list does not offer (the stored or first
    // port is selected instead); empty when it named none or one the list offers.
    const std::string& UnofferedPort() const { return unofferedPort_; }

    const PortSettings& Stored() const { return stored_; }
    int ConnectionType() const { return connectionType_; }

private:
    int IndexOf(List list, const std::string& text) const;
    void SelectStoredIndex(List list, int index);
    void SelectPort(const CommandLineOptions& options);
    void SelectRate(const CommandLineOptions& options);
    void SelectHandshaking(const CommandLineOptions& options);

    std::array<std::vector<std::string>, kListCount> entries_;
    std::array<int, kListCount> selected_{};
    std::string defaultPort_;
    PortSettings stored_;
    int connectionType_ = 0;
    std::string unofferedPort_;
};

}  // namespace kestrum
