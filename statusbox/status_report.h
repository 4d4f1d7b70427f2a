// The report file the status box reads: section REPORT of box.ini.
#pragma once

#include <windows.h>

// printerName NULL: PRINTER keeps its value. Failures are silent.
void WriteStatusReport(const WCHAR* type, const WCHAR* printerName);
