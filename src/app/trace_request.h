#pragma once

#include <string>
#include <vector>

namespace kestrum {

// Starts the wire trace a program is asked for: into path when given (kestrum-cli's
// --trace), else into the file $KESTRUM_TRACE names. True when no trace is asked for or
// it has started; false with the reason in error when its file cannot be written, is no
// regular file, or is one of images (also under another name): the trace would
// overwrite the image the load is about to send.
// arguments: the program's command line, which the trace's heading records.
bool StartRequestedTrace(const std::string& path, const std::vector<std::string>& arguments,
                         std::string& error, const std::vector<std::string>& images = {});

} // namespace kestrum
