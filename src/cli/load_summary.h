#pragma once

#include <string>
#include <vector>

#include "cli/c_port_load.h"

namespace kestrum {

// The end of a load on several ports (or one, with --json), for standard output: one
// line per port in the order given, with its result code, its result and, when it says
// more, the last status text, under a line that counts them.
std::string LoadSummaryText(const std::vector<PortLoadResult>& results);
// The same as one JSON object: "ports" (port, code, result, status, seconds,
// flashSeconds or null, outcome: completed, skipped or failed, firmwareBefore and
// firmwareAfter as the device reported them or null), "completed", "skipped", "failed"
// and "exitStatus".
std::string LoadSummaryJson(const std::vector<PortLoadResult>& results);

// 0 when every load completed; otherwise the result code of the first port, in the
// order given, whose load did not. For one port that is its own result code.
int LoadExitStatus(const std::vector<PortLoadResult>& results);

} // namespace kestrum
