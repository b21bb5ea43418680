#include "app/port_list.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

#include "platform/serial_device_factory.h"
#include "platform/system_ports.h"

namespace kestrum {

namespace {

bool IsDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The digit run at pos without its leading zeros; pos moves past the run.
std::string_view TakeNumber(std::string_view text, size_t& pos)
{
    const size_t start = pos;
    while (pos < text.size() && IsDigit(text[pos])) {
        ++pos;
    }
    std::string_view digits = text.substr(start, pos - start);
    while (digits.size() > 1 && digits.front() == '0') {
        digits.remove_prefix(1);
    }
    return digits;
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (!IsDigit(a[i]) || !IsDigit(b[j])) {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
            continue;
        }
        const std::string_view numberA = TakeNumber(a, i);
        const std::string_view numberB = TakeNumber(b, j);
        if (numberA.size() != numberB.size()) {
            return numberA.size() < numberB.size();
        }
        if (numberA != numberB) {
            return numberA < numberB;
        }
    }
    // One name is a prefix of the other in value; the plain text order breaks ties such
    // as "ttyS01" and "ttyS1", so sorting sees a strict order.
    const size_t restA = a.size() - i;
    const size_t restB = b.size() - j;
    return restA != restB ? restA < restB : a < b;
}

std::vector<std::string> BuildPortList(const std::string& ttyClassDir, const std::string& deviceDir)
{
    std::vector<std::string> ports = PresentSerialPorts(ttyClassDir, deviceDir);
    std::sort(ports.begin(), ports.end(), NaturalLess);
    if (ports.empty()) {
        ports.emplace_back(kFallbackPortName);
    }
    return ports;
}

bool IsNetworkPortName(const std::string& name)
{
    static const std::string kScheme = "rfc2217://";
    if (!name.starts_with(kScheme)) {
        return false;
    }
    const std::string address = name.substr(kScheme.size());
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    const std::string host = address.substr(0, colon);
    const std::string port = address.substr(colon + 1);
    const bool hostOk = std::none_of(host.begin(), host.end(), [](char c) {
        return std::isspace(static_cast<unsigned char>(c)) || c == '/';
    });
    if (!hostOk || port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit)) {
        return false;
    }
    int number = 0;
    std::from_chars(port.data(), port.data() + port.size(), number);
    return number >= 1 && number <= 65535;
}

std::string ListedPortName(const std::vector<std::string>& ports, const std::string& name)
{
    if (std::find(ports.begin(), ports.end(), name) != ports.end()) {
        return name;
    }
    for (const std::string& port : ports) {
        if (SameLocalPort(port, name)) {
            return port;
        }
    }
    return "";
}

bool AcceptNamedPort(std::vector<std::string>& ports, const std::string& name)
{
    if (!ListedPortName(ports, name).empty()) {
        return true;
    }
    const bool acceptable =
        IsLocalPortName(name) || IsNetworkPortName(name) || HasRegisteredBackend(name);
    if (acceptable) {
        ports.push_back(name);
    }
    return acceptable;
}

std::string PortUnavailableReason(const std::string& name)
{
    if (name.find("://") != std::string::npos)
        return "not an address of the form rfc2217://host:port";
    return LocalPortUnavailableReason(name);
}

std::string UnavailablePortText(const std::string& name)
{
    const std::string reason = PortUnavailableReason(name);
    return "Port " + name + " is not available" + (reason.empty() ? "" : ": " + reason);
}

std::string DefaultPortName(const std::vector<std::string>& ports)
{
    return ports.empty() ? kFallbackPortName : ports.front();
}

}  // namespace kestrum
