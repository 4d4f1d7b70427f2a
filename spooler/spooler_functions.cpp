// Binds the four spooler functions the server calls, once, at start-up.
#include "spooler.h"
#include "system_library.h"

namespace {

BOOL WINAPI UnboundOpenPrinter(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

template <typename Function>
bool Bind(HMODULE module, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != NULL;
}

}  // namespace

SpoolerFunctions Spooler = {UnboundOpenPrinter, NULL, NULL, NULL};

bool BindSpooler()
{
    HMODULE module = LoadSystemLibrary(L"winspool.drv");
    if (module == NULL)
        return false;
    SpoolerFunctions bound = {};
    if (!Bind(module, "OpenPrinterW", &bound.OpenPrinterW) ||
        !Bind(module, "GetPrinterW", &bound.GetPrinterW) ||
        !Bind(module, "SetPrinterW", &bound.SetPrinterW) ||
        !Bind(module, "ClosePrinter", &bound.ClosePrinter))
        return false;
    Spooler = bound;
    return true;
}
