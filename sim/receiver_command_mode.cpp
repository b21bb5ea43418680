#include "sim/receiver_command_mode.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

namespace kestrum {

namespace {

constexpr std::array<uint32_t, 15> kRates = {300,   600,   1200,  2400,   4800,   9600,   14400, 19200,
                                             28800, 38400, 57600, 115200, 153600, 230400, 460800};
constexpr size_t kLongestBody = 0xFFF;
constexpr const char* kSetRate = "set,cur/term/rate,";
constexpr const char* kSetRtsCts = "set,cur/term/rtscts,";

}  // namespace

bool IsReceiverRate(uint32_t rate)
{
    return std::find(kRates.begin(), kRates.end(), rate) != kRates.end();
}

ReceiverCommandMode::ReceiverCommandMode(const CommandModeSettings& settings, const ReceiverInfo* info)
    : settings_(settings), info_(info), rate_(settings.rate), echo_(settings.echo), rtsCts_(settings.rtsCts)
{
}

std::string ReceiverCommandMode::Frame(const char* identifier, const std::string& tag, const std::string& text)
{
    std::string body = "%" + tag + "%" + text;
    body.resize(std::min(body.size(), kLongestBody));
    char length[8];
    std::snprintf(length, sizeof length, "%03zX", body.size());
    return identifier + std::string(length) + body;
}

std::optional<ReceiverCommandMode::Outcome> ReceiverCommandMode::Feed(uint8_t byte, bool garbled)
{
    if (!garbled && (byte == '\n' || byte == '\r')) {
        const std::string line = std::move(line_);
        const bool spoilt = lineSpoilt_;
        line_.clear();
        lineSpoilt_ = false;
        // A line is judged by what follows its last "##", so noise before it does no harm.
        const size_t reset = line.rfind("##");
        const std::string command = reset == std::string::npos ? line : line.substr(reset + 2);
        if (spoilt && (reset == std::string::npos || command.find_first_of(std::string("\0\xff", 2)) != std::string::npos))
            return std::nullopt;
        return Execute(command);
    }
    if (line_.size() >= kLineLimit) {
        line_.clear();
        lineSpoilt_ = true;
    }
    line_.push_back(static_cast<char>(byte));
    lineSpoilt_ = lineSpoilt_ || garbled;
    return std::nullopt;
}

ReceiverCommandMode::Outcome ReceiverCommandMode::Execute(const std::string& line)
{
    if (line.empty())
        return {};
    if (line == settings_.echoOff) {
        echo_ = false;
        return {};
    }
    if (line[0] != '%')
        return Run(line, false);
    const size_t close = line.find('%', 1);
    if (close == std::string::npos)
        return Run(line, false);
    const std::string tag = line.substr(1, close - 1);
    const std::string command = line.substr(close + 1);
    Outcome outcome = Run(command, true);
    // Run puts the reply text after a marker byte: 'E' for an error, 'R' for a reply, nothing
    // for no reply at all.
    if (outcome.reply.empty())
        return outcome;
    const bool error = outcome.reply[0] == 'E';
    outcome.reply = Frame(error ? "ER" : "RE", tag, outcome.reply.substr(1));
    return outcome;
}

ReceiverCommandMode::Outcome ReceiverCommandMode::Run(const std::string& command, bool tagged)
{
    Outcome outcome;
    auto reply = [&](char kind, const std::string& text) {
        if (tagged)
            outcome.reply = kind + text;
    };
    if (settings_.unanswered.count(command))
        return outcome;
    if (settings_.refused.count(command)) {
        reply('E', "refused");
        return outcome;
    }
    if (const auto answer = settings_.answers.find(command); answer != settings_.answers.end()) {
        reply('R', answer->second);
        return outcome;
    }
    if (command.empty() || command == "dm") {
        reply('R', "");
    } else if (command.starts_with("print,")) {
        if (const std::optional<std::string> value = Print(command.substr(6)))
            reply('R', *value);
        else
            reply('E', "unknown parameter");
    } else if (command.starts_with(kSetRate)) {
        Outcome changed = SetRate(command.substr(std::char_traits<char>::length(kSetRate)));
        if (!tagged)
            changed.reply.clear();
        return changed;
    } else if (command == std::string(kSetRtsCts) + "on" || command == std::string(kSetRtsCts) + "off") {
        rtsCts_ = command.ends_with("on");
        reply('R', "");
    } else if (command == "set,reset,yes" || command == "set,sleep,on") {
        reply('R', "");
        outcome.action = Action::Restart;
    } else {
        reply('E', "unknown command");
    }
    return outcome;
}

std::optional<std::string> ReceiverCommandMode::Print(const std::string& path) const
{
    if (path == "/par/cur/term/rate")
        return std::to_string(rate_);
    const std::map<std::string, const std::string*> parameters = {
        {"/par/rcv/model", &info_->model},           {"/par/rcvid", &info_->id},
        {"/par/version/main", &info_->firmware},     {"/par/rcv/ver/board", &info_->hardware},
        {"/par/rcv/mem", &info_->ramKb},             {"/par/rcv/ver/pow/fw", &info_->powerFirmware},
        {"/par/rcv/ver/pow/hw", &info_->powerHardware},
    };
    const auto found = parameters.find(path);
    if (found == parameters.end())
        return std::nullopt;
    return *found->second;
}

ReceiverCommandMode::Outcome ReceiverCommandMode::SetRate(const std::string& value)
{
    uint32_t rate = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), rate);
    if (error != std::errc() || end != value.data() + value.size() || !IsReceiverRate(rate))
        return Outcome{"Ebad rate", Action::None};
    rate_ = rate;
    return Outcome{"R", Action::ChangeRate};
}

}  // namespace kestrum
