#include "sim/sim_command_line.h"

#include "sim/image_layout.h"
#include "sim/vdk1_model.h"
#include "vdk/version_record.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

namespace kestrum {

namespace {

using Apply = std::function<bool(SimCommandLine&, const std::string&)>;

struct Option {
    const char* name;
    const char* argument;  // nullptr: a flag without argument
    const char* meaning;
    Apply apply;
    const char* expected = nullptr;  // what a good value looks like, when the argument's name does not say
};

template <typename T>
bool Number(const std::string& text, T& out, long long low, long long high)
{
    long long value = 0;
    int base = 10;
    const char* begin = text.data();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        begin += 2;
    }
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(begin, end, value, base);
    if (error != std::errc() || stop != end || begin == end || value < low || value > high)
        return false;
    out = static_cast<T>(value);
    return true;
}

// Milliseconds with up to three decimals ("0.5"), as microseconds.
bool Milliseconds(const std::string& text, std::chrono::microseconds& out, long long highMs)
{
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    long long ms = 0;
    long long thousandths = 0;
    if (!Number(whole, ms, 0, highMs) || fraction.size() > 3 ||
        (point != std::string::npos &&
         !Number(fraction.append(3 - fraction.size(), '0'), thousandths, 0, 999)))
        return false;
    out = std::chrono::microseconds(ms * 1000 + thousandths);
    return true;
}

bool OnOff(const std::string& text, bool& out)
{
    if (text != "on" && text != "off")
        return false;
    out = text == "on";
    return true;
}

Apply Text(std::string ReceiverInfo::*field)
{
    return [=](SimCommandLine& line, const std::string& value) {
        line.receiver.info.*field = value;
        return true;
    };
}

Apply Byte(std::optional<uint8_t> SimCommandLine::*field)
{
    return [=](SimCommandLine& line, const std::string& value) {
        uint8_t byte = 0;
        if (!Number(value, byte, 0, 255))
            return false;
        line.*field = byte;
        return true;
    };
}

constexpr long long kMaxMs = 3'600'000;
constexpr long long kMaxCount = std::numeric_limits<int32_t>::max();

const std::vector<Option>& Options()
{
    static const std::vector<Option> options = {
        {"--help", nullptr, "show this list and exit",
         [](SimCommandLine& l, const std::string&) { return l.help = true; }},
        {"--version", nullptr, "show the version and exit",
         [](SimCommandLine& l, const std::string&) { return l.version = true; }},
        {"--device", "receiver|powerboard|vdk1",
         "the device to serve (default receiver); powerboard is a receiver whose power board's boot loader answers "
         "a capture",
         [](SimCommandLine& l, const std::string& v) {
             if (v == "receiver")
                 l.device = SimCommandLine::Device::Receiver;
             else if (v == "powerboard")
                 l.device = SimCommandLine::Device::PowerBoard;
             else if (v == "vdk1")
                 l.device = SimCommandLine::Device::Vdk1;
             else
                 return false;
             l.receiver.loadTarget = l.device == SimCommandLine::Device::PowerBoard ? LoadTarget::PowerBoard
                                                                                   : LoadTarget::Receiver;
             return true;
         }},
        {"--rate", "BAUD", "the receiver's command rate at power-on (default 115200; one of the 15 rates 300..460800)",
         [](SimCommandLine& l, const std::string& v) {
             return Number(v, l.receiver.commands.rate, 300, 460800) && IsReceiverRate(l.receiver.commands.rate);
         }},
        {"--rate-multiple", "Q", "the receiver's line runs at its command rate divided by Q (default 1)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.rateMultiple, 1, 64); }},
        {"--echo", "on|off", "command echo at power-on (default off)",
         [](SimCommandLine& l, const std::string& v) { return OnOff(v, l.receiver.commands.echo); }},
        {"--rtscts", "on|off", "RTS/CTS handshaking at power-on (default off)",
         [](SimCommandLine& l, const std::string& v) { return OnOff(v, l.receiver.commands.rtsCts); }},
        {"--echo-off", "TEXT", "the line that turns the echo off (default #OFF#)",
         [](SimCommandLine& l, const std::string& v) {
             l.receiver.commands.echoOff = v;
             return !v.empty();
         }},
        {"--model", "TEXT", "answer to print,/par/rcv/model", Text(&ReceiverInfo::model)},
        {"--id", "TEXT", "answer to print,/par/rcvid", Text(&ReceiverInfo::id)},
        {"--firmware", "TEXT", "answer to print,/par/version/main until a load changes it",
         Text(&ReceiverInfo::firmware)},
        {"--hardware", "TEXT", "answer to print,/par/rcv/ver/board", Text(&ReceiverInfo::hardware)},
        {"--ram-kb", "TEXT", "answer to print,/par/rcv/mem", Text(&ReceiverInfo::ramKb)},
        {"--power-firmware", "TEXT", "answer to print,/par/rcv/ver/pow/fw until a load changes it",
         Text(&ReceiverInfo::powerFirmware)},
        {"--power-hardware", "TEXT", "answer to print,/par/rcv/ver/pow/hw", Text(&ReceiverInfo::powerHardware)},
        {"--answer", "COMMAND=TEXT", "answer COMMAND with TEXT (repeatable)",
         [](SimCommandLine& l, const std::string& v) {
             const size_t equals = v.find('=');
             if (equals == std::string::npos || equals == 0)
                 return false;
             l.receiver.commands.answers[v.substr(0, equals)] = v.substr(equals + 1);
             return true;
         }},
        {"--refuse", "COMMAND", "answer COMMAND with an ER frame (repeatable)",
         [](SimCommandLine& l, const std::string& v) { return l.receiver.commands.refused.insert(v), true; }},
        {"--ignore", "COMMAND", "do not answer COMMAND at all (repeatable)",
         [](SimCommandLine& l, const std::string& v) { return l.receiver.commands.unanswered.insert(v), true; }},
        {"--device-id", "N", "device identifier the boot loader reports (default 20, power board 22)",
         Byte(&SimCommandLine::deviceId)},
        {"--procedure-version", "N", "procedure version the boot loader reports (default 0; above 0 is refused)",
         Byte(&SimCommandLine::procedureVersion)},
        {"--ram-ack", "BYTE", "byte that acknowledges the RAM image (default 0x1E)",
         Byte(&SimCommandLine::ramAck)},
        {"--nak-frame", "K", "answer Flash frame K (from 0; the end frame counts) with a resend request",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.flashFaults.nakFrame, 0, 65535); }},
        {"--nak-times", "N", "how often frame K is refused (default 1; 3 makes the loader give up)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.flashFaults.nakTimes, 1, 100); }},
        {"--error-frame", "K", "answer Flash frame K with the error byte, ending the transfer",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.flashFaults.errorFrame, 0, 65535); }},
        {"--error-byte", "BYTE", "the error byte (default 0x25)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.flashFaults.errorByte, 0x21, 0x2F); }},
        {"--stale-request-frame", "K", "Flash frame K's 0x06 follows a stale 0x15 in the same write",
         [](SimCommandLine& l, const std::string& v) {
             return Number(v, l.receiver.flashFaults.staleRequestFrame, 0, 65535);
         }},
        {"--end-ack-with-final", nullptr, "the end frame's 0x06 goes out with the final 0x1E in one write",
         [](SimCommandLine& l, const std::string&) { return l.receiver.endAckWithFinal = true; }},
        {"--no-firmware", nullptr, "start with no valid firmware: only the boot loader answers",
         [](SimCommandLine& l, const std::string&) { return l.receiver.firmwareValid = false, true; }},
        {"--capture-window", "MS", "how long the boot loader listens for 0x55 after a restart (default 1500)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.captureWindowMs, 1, kMaxMs); }},
        {"--power-cycle-after", "MS",
         "power-on capture: the user switches the device off and on MS after the capture stream starts",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.powerCycleAfterMs, 0, kMaxMs); }},
        {"--power-off", "MS", "how long the device stays off in a power cycle (default 300)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.powerOffMs, 0, kMaxMs); }},
        {"--no-dtr-reset", nullptr, "a DTR pulse does not restart the device",
         [](SimCommandLine& l, const std::string&) { return l.receiver.resetOnDtrPulse = false, true; }},
        {"--flash-write", "MS", "time to write a received image before the final 0x1E (default 200)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.flashWriteMs, 0, kMaxMs); }},
        {"--reply-delay", "MS", "command mode's time to answer (default 2)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.receiver.replyDelayMs, 0, kMaxMs); }},
        {"--drop-every", "N", "every Nth byte the device sends is lost",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.faults.dropToPcEvery, 0, kMaxCount); }},
        {"--garble-every", "N", "every Nth byte the device sends arrives with a bit flipped",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.faults.garbleToPcEvery, 0, kMaxCount); }},
        {"--drop-from-pc-every", "N", "every Nth byte the PC sends never reaches the device",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.faults.dropFromPcEvery, 0, kMaxCount); }},
        {"--garble-from-pc-every", "N", "every Nth byte the PC sends reaches the device with a bit flipped",
         [](SimCommandLine& l, const std::string& v) {
             return Number(v, l.faults.garbleFromPcEvery, 0, kMaxCount);
         }},
        {"--line-error-every", "N", "every Nth byte the device sends arrives with a framing error",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.faults.lineErrorEvery, 0, kMaxCount); }},
        {"--silent", nullptr, "the device sends nothing at all",
         [](SimCommandLine& l, const std::string&) { return l.faults.silent = true; }},
        {"--slow", "MS", "everything the device sends is held back MS",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.faults.slowReplyMs, 0, kMaxMs); }},
        {"--disconnect-after", "N", "the device disappears after hearing N bytes",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.faults.disconnectAfter, 0, kMaxCount); }},
        {"--unpaced", nullptr, "send as fast as possible instead of at the byte time of the rate",
         [](SimCommandLine& l, const std::string&) { return l.paced = false, true; }},
        {"--realtime", nullptr,
         "serve the pseudo-terminal at a real-time priority where permitted (as root), so that other programs "
         "cannot delay the device (for benchmarks)",
         [](SimCommandLine& l, const std::string&) { return l.realTime = true; }},
        {"--rfc2217", "PORT",
         "serve on TCP port PORT (0: any free one) as a network serial port with COM-port control (RFC 2217)",
         [](SimCommandLine& l, const std::string& v) {
             uint16_t port = 0;
             return Number(v, port, 0, 65535) && (l.rfc2217Port = port, true);
         }},
        {"--rfc2217-delay", "MS",
         "add MS milliseconds (decimals allowed: 0.5) to every --rfc2217 round trip, half of it each "
         "way, as a slower network would",
         [](SimCommandLine& l, const std::string& v) { return Milliseconds(v, l.rfc2217Delay, 10000); }},
        {"--rfc2217-silent-after-open", nullptr,
         "answer each --rfc2217 client's open, then send nothing more and ignore what comes, as a hung server does",
         [](SimCommandLine& l, const std::string&) { return l.rfc2217SilentAfterOpen = true; }},
        {"--rfc2217-bind", "ADDRESS", "numeric address the --rfc2217 server listens on (default 127.0.0.1: this machine only)",
         [](SimCommandLine& l, const std::string& v) { return !v.empty() && (l.rfc2217Bind = v, true); }},
        {"--wire-log", "FILE",
         "write every byte both ways and every change of rate, DTR, RTS and break to FILE, with its time",
         [](SimCommandLine& l, const std::string& v) { return !v.empty() && (l.wireLogPath = v, true); }},
        {"--vdk-hardware", "C", "VDK-1 hardware version character (default 2)",
         [](SimCommandLine& l, const std::string& v) { return v.size() == 1 && (l.vdkHardware = v[0], true); }},
        {"--vdk-firmware", "TEXT",
         "VDK-1 firmware version in its Flash at start, 5 printable ASCII characters other than @ and # (default "
         "01.00)",
         [](SimCommandLine& l, const std::string& v) { return IsValidFirmwareVersion(v) && (l.vdkFirmware = v, true); },
         "5 printable ASCII characters other than @ and #"},
        {"--write-images", "DIR", "write demo images ramimage.ldr, main.ldp, powbrd.ldr into DIR and exit",
         [](SimCommandLine& l, const std::string& v) { return !v.empty() && (l.imageDirectory = v, true); }},
        {"--ram-final-ack", "0|1", "demo RAM image: final-acknowledge flag (default 1)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.ramImage.finalAck, 0, 1); }},
        {"--ram-device-id", "N", "demo RAM image: target device identifier, -1 for any (default 20)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.ramImage.deviceId, -1, 255); }},
        {"--ram-size", "BYTES", "demo RAM image: payload size (default 4000)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.ramImage.payloadLength, 0, 1 << 20); }},
        {"--flash-device-id", "N", "demo Flash image: device identifier (default 20)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.flashImage.deviceId, 0, 255); }},
        {"--flash-version", "TEXT", "demo Flash image: firmware version, up to 16 characters",
         [](SimCommandLine& l, const std::string& v) { return v.size() <= 16 && (l.flashImage.version = v, true); }},
        {"--flash-size", "BYTES", "demo Flash image: payload size (default 20000)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.flashImage.payloadLength, 0, 8 << 20); }},
        {"--power-device-id", "N", "demo power-board image: target device identifier (default 22)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.powerImage.deviceId, -1, 255); }},
        {"--power-version", "TEXT", "demo power-board image: firmware version, up to 16 characters",
         [](SimCommandLine& l, const std::string& v) { return v.size() <= 16 && (l.powerImage.version = v, true); }},
        {"--power-size", "BYTES", "demo power-board image: payload size (default 6000)",
         [](SimCommandLine& l, const std::string& v) { return Number(v, l.powerImage.payloadLength, 0, 200000); }},
    };
    return options;
}

// On failure returns the system's reason, so a missing or read-only folder is named as such.
std::string WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return std::strerror(errno);
    if (std::fclose(file.release()) != 0)
        return std::strerror(errno);
    return {};
}

}  // namespace

bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine& line, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const Option* option = nullptr;
        for (const Option& candidate : Options())
            if (args[i] == candidate.name)
                option = &candidate;
        if (!option) {
            error = "unknown option " + args[i] + " (see --help)";
            return false;
        }
        std::string value;
        if (option->argument) {
            if (i + 1 >= args.size()) {
                error = args[i] + " needs " + option->argument;
                return false;
            }
            value = args[++i];
        }
        if (!option->apply(line, value)) {
            const char* expected = option->expected ? option->expected : option->argument;
            error = "bad value for " + args[i - (option->argument ? 1 : 0)] + ": \"" + value + "\" (expected " +
                    (expected ? expected : "nothing") + ")";
            return false;
        }
    }
    return true;
}

std::string SimHelpText()
{
    std::string text =
        "Usage: kestrum-sim [options]\n\n"
        "kestrum-sim: serves one simulated device on a pseudo-terminal (or with --rfc2217 on a TCP port) and\n"
        "prints its port path (or URL) on the first line of standard output; runs until SIGINT or SIGTERM.\n\n"
        "Options:\n";
    for (const Option& option : Options()) {
        std::string head = std::string("  ") + option.name + (option.argument ? std::string(" ") + option.argument : "");
        head.resize(std::max<size_t>(head.size() + 2, 34), ' ');
        text += head + option.meaning + "\n";
    }
    return text;
}

std::shared_ptr<DeviceModel> MakeSimDevice(const SimCommandLine& line)
{
    std::shared_ptr<DeviceModel> model;
    if (line.device == SimCommandLine::Device::Vdk1) {
        Vdk1Model::Options options;
        options.hardwareVersion = line.vdkHardware;
        options.firmwareVersion = line.vdkFirmware;
        model = std::make_shared<Vdk1Model>(options);
    } else {
        ReceiverConfig config = line.receiver;
        BootLoaderSettings& boot =
            config.loadTarget == LoadTarget::PowerBoard ? config.powerBoardBoot : config.receiverBoot;
        boot.deviceId = line.deviceId.value_or(boot.deviceId);
        boot.procedureVersion = line.procedureVersion.value_or(boot.procedureVersion);
        boot.ramAck = line.ramAck.value_or(boot.ramAck);
        model = std::make_shared<ReceiverModel>(config);
    }
    model->SetFaults(line.faults);
    model->SetPaced(line.paced);
    return model;
}

bool WriteDemoImages(const SimCommandLine& line, std::string& report)
{
    const std::string dir = line.imageDirectory + "/";
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
    } files[] = {
        {"ramimage.ldr", BuildRamImage(line.ramImage)},
        {"main.ldp", BuildFlashImage(line.flashImage)},
        {"powbrd.ldr", BuildRamImage(line.powerImage)},
    };
    report.clear();
    for (const auto& file : files) {
        const std::string failure = WriteFile(dir + file.name, file.bytes);
        if (!failure.empty()) {
            report = "cannot write " + dir + file.name + ": " + failure;
            return false;
        }
        report += dir + file.name + " (" + std::to_string(file.bytes.size()) + " bytes)\n";
    }
    return true;
}

}  // namespace kestrum
