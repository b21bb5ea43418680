#include "app/trace_request.h"

#include <cstdlib>

#include "app/program_identity.h"
#include "platform/c_wire_trace.h"
#include "platform/c_file.h"

namespace kestrum {

bool StartRequestedTrace(const std::string& path, const std::vector<std::string>& arguments,
                         std::string& error, const std::vector<std::string>& images)
{
    const char* fromEnvironment = std::getenv("KESTRUM_TRACE");
    const std::string file = !path.empty() ? path : fromEnvironment != nullptr ? fromEnvironment : "";
    if (file.empty())
        return true;
    for (const std::string& image : images) {
        if (!image.empty() && CFile::SameFile(file, image)) {
            error = "the trace " + file + " is the image " + image + " of the load: tracing would overwrite it";
            return false;
        }
    }
    std::string heading = std::string("version ") + kVersionText + ", started as:";
    for (const std::string& argument : arguments)
        heading += " " + argument;
    return CWireTrace::Start(file, heading, error);
}

} // namespace kestrum
