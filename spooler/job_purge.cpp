// Deletes every job queued on a printer, on the pipe server thread.
#include "spooler.h"

void PurgePrinterJobs(const WCHAR* printerName)
{
    WCHAR name[260];
    lstrcpynW(name, printerName, ARRAYSIZE(name));
    PRINTER_DEFAULTSW defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    HANDLE printer;
    if (!Spooler.OpenPrinterW(name, &printer, &defaults))
        return;
    Spooler.SetPrinterW(printer, 0, NULL, PRINTER_CONTROL_PURGE);
    Spooler.ClosePrinter(printer);
}
