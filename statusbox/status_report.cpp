// TYPE is written before PRINTER, and both before the box is launched, so a
// box started by this report finds both values in place.
#include "status_report.h"

#include "../pipe/pipe_server.h"

void WriteStatusReport(const WCHAR* type, const WCHAR* printerName)
{
    if (ReportPath[0] == 0)
        return;   // the executable's path was unusable
    WritePrivateProfileStringW(L"REPORT", L"TYPE", type, ReportPath);
    if (printerName != NULL)
        WritePrivateProfileStringW(L"REPORT", L"PRINTER", printerName, ReportPath);
}
