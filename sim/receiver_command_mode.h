#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace kestrum {

// What the receiver's parameter prints answer.
struct ReceiverInfo {
    std::string model = "RX-24 GNSS";
    std::string id = "24A0031F";
    std::string firmware = "2.4 Mar,14,2026";
    std::string hardware = "3";
    std::string ramKb = "4096";
    std::string powerFirmware = "1.7 Jan,20,2026";
    std::string powerHardware = "2";
};

struct CommandModeSettings {
    uint32_t rate = 115200;  // the rate the receiver believes it runs at
    bool echo = false;
    bool rtsCts = false;
    std::string echoOff = "#OFF#";
    // Per command text: the reply text instead of the built-in one.
    std::map<std::string, std::string> answers;
    std::set<std::string> refused;     // answered with ER
    std::set<std::string> unanswered;  // no reply at all
};

// The receiver's command language, line by line. A line ends at LF or CR; "##" discards
// everything before it on the line. "%tag%command" is answered with an RE (or ER) frame
// carrying the tag; an untagged command is carried out without a reply. The echo-off
// string on a line of its own silences the echo.
class ReceiverCommandMode {
public:
    enum class Action { None, ChangeRate, Restart };

    struct Outcome {
        std::string reply;      // bytes to send (an RE/ER frame, or nothing)
        Action action = Action::None;
    };

    static constexpr size_t kLineLimit = 1024;  // a longer line is dropped as noise

    ReceiverCommandMode(const CommandModeSettings& settings, const ReceiverInfo* info);

    // One byte heard; garbled bytes spoil the line they fall in. An outcome comes back when a
    // line ends.
    std::optional<Outcome> Feed(uint8_t byte, bool garbled);

    uint32_t Rate() const { return rate_; }
    bool Echo() const { return echo_; }
    bool RtsCts() const { return rtsCts_; }

    // The reply frame for a tag and a text: identifier, three hex digits, "%tag%text".
    static std::string Frame(const char* identifier, const std::string& tag, const std::string& text);

private:
    Outcome Execute(const std::string& line);
    Outcome Run(const std::string& command, bool tagged);
    std::optional<std::string> Print(const std::string& path) const;
    Outcome SetRate(const std::string& value);

    CommandModeSettings settings_;
    const ReceiverInfo* info_;
    uint32_t rate_;
    bool echo_;
    bool rtsCts_;
    std::string line_;
    bool lineSpoilt_ = false;
};

// The rates the receiver can be set to.
bool IsReceiverRate(uint32_t rate);

}  // namespace kestrum
