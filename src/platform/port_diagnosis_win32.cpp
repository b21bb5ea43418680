#include "platform/port_diagnosis.h"

#include <windows.h>

#include "platform/system_error_text.h"

namespace kestrum {

namespace {

bool IsComPortName(const std::string& name)
{
    return name.size() > 3 && (name.starts_with("COM") || name.starts_with("\\\\.\\"));
}

} // namespace

// The device has already given the system's words (FormatMessage) as its open failure's
// detail; these lines add what the technician can do about it.
std::vector<std::string> DiagnoseOpenFailure(const std::string& path, SerialOpenError error, const DiagnosisRoots&)
{
    if (!IsComPortName(path))
        return {};
    if (error == SerialOpenError::Busy)
        return {path + ": " + SystemErrorText(ERROR_ACCESS_DENIED) +
                    " Windows gives a COM port to one program at a time: another program has it open",
                "Close the other program (a terminal program, a modem or phone tool, another Kestrum) and try again"};
    if (error == SerialOpenError::NotFound)
        return {path + ": " + SystemErrorText(ERROR_FILE_NOT_FOUND) +
                    " Windows has no such port now: kestrum-cli ports lists those it has",
                "A USB adapter's port is there only while it is plugged in; the Device Manager shows its number"};
    return {};
}

std::vector<std::string> DiagnoseOpenedPort(const std::string&, const DiagnosisRoots&, LowLatencyMode)
{
    return {};
}

} // namespace kestrum
