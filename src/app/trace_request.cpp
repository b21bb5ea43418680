#include "app/trace_request.h"

#include <cstdlib>

#include "app/program_identity.h"
#include "platform/c_wire_trace.h"

namespace kestrum {

bool StartRequestedTrace(const std::string& path, const std::vector<std::string>& arguments,
                         std::string& error)
{
    const char* fromEnvironment = std::getenv("KESTRUM_TRACE");
    const std::string file = !path.empty() ? path : fromEnvironment != nullptr ? fromEnvironment : "";
    if (file.empty())
        return true;
    std::string heading = std::string("version ") + kVersionText + ", started as:";
    for (const std::string& argument : arguments)
        heading += " " + argument;
    return CWireTrace::Start(file, heading, error);
}

} // namespace kestrum
