#include "pages/c_ps_program.h"

namespace kestrum {

CPSProgram::CPSProgram(CPSLoader& sheet) : CPSPage(sheet, QStringLiteral("Program")) {}

void CPSProgram::OnLoad()
{
    Q_EMIT LoadStarting();
}

bool CPSProgram::StopLoad()
{
    return true;
}

void CPSProgram::OnLoaderStage(int, bool) {}

void CPSProgram::OnCapturePrompt(bool, int) {}

void CPSProgram::OnInitDialog() {}

}  // namespace kestrum
