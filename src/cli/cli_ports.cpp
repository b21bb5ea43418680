#include <string>

#include "cli/cli_commands.h"
#include "app/json_text.h"

namespace kestrum {

namespace {

// One port a line, as a script of old reads it; what is known of an adapter follows the
// name, and its stable name goes on an indented line below.
void PrintText(const std::vector<PortDetails>& ports, std::FILE* out)
{
    for (const PortDetails& port : ports) {
        const std::string summary = port.Summary();
        if (summary.empty())
            std::fprintf(out, "%s\n", port.path.c_str());
        else
            std::fprintf(out, "%s  %s\n", port.path.c_str(), summary.c_str());
        if (!port.byIdPath.empty())
            std::fprintf(out, "%*s%s\n", static_cast<int>(port.path.size() + 2), "", port.byIdPath.c_str());
    }
}

void PrintJson(const std::vector<PortDetails>& ports, std::FILE* out)
{
    std::fputs("[", out);
    for (size_t i = 0; i < ports.size(); ++i) {
        const PortDetails& port = ports[i];
        std::fprintf(out,
                     "%s\n  {\"path\": %s, \"byId\": %s, \"vendorId\": %s, \"productId\": %s, "
                     "\"manufacturer\": %s, \"product\": %s, \"serial\": %s}",
                     i == 0 ? "" : ",", JsonString(port.path).c_str(),
                     JsonStringOrNull(port.byIdPath).c_str(), JsonStringOrNull(port.vendorId).c_str(),
                     JsonStringOrNull(port.productId).c_str(), JsonStringOrNull(port.manufacturer).c_str(),
                     JsonStringOrNull(port.product).c_str(), JsonStringOrNull(port.serialNumber).c_str());
    }
    std::fputs(ports.empty() ? "]\n" : "\n]\n", out);
}

} // namespace

int RunPortsCommand(const std::vector<PortDetails>& ports, bool json, std::FILE* out)
{
    if (json)
        PrintJson(ports, out);
    else
        PrintText(ports, out);
    return 0;
}

} // namespace kestrum
