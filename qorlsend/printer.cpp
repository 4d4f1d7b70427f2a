// Every handle is closed before returning and nothing is set: a look at a
// printer must never be what changed it.
#include "printer.h"

#include <winspool.h>

#include "../spooler/spooler.h"
#include "../spooler/system_library.h"
#include "session.h"

namespace {

const int PrinterNameSize = 256;

typedef BOOL(WINAPI* OpenPrinterFunction)(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW);
typedef BOOL(WINAPI* GetPrinterFunction)(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);
typedef BOOL(WINAPI* ClosePrinterFunction)(HANDLE);

OpenPrinterFunction OpenPrinterCall;
GetPrinterFunction GetPrinterCall;
ClosePrinterFunction ClosePrinterCall;

// Level 2 carries the driver's settings as well; no spooler gives 64 KiB.
union Level2Buffer {
    PRINTER_INFO_2W info;
    BYTE bytes[0x10000];
};
Level2Buffer Level2;

// Loaded when a printer is first looked at, not imported: most runs never
// look at one, and loading the spooler is not free (under Wine it starts the
// desktop process, which inherits this program's output handles). From the
// system folder by full path: by its bare name, Windows would look beside
// this program first, in the server's folder, which anyone may write to.
bool LoadSpooler(DWORD* error)
{
    if (OpenPrinterCall != NULL)
        return true;
    HMODULE spooler = LoadSystemLibrary(L"winspool.drv");
    OpenPrinterFunction open = LookUpFunction<OpenPrinterFunction>(spooler, "OpenPrinterW");
    GetPrinterCall = LookUpFunction<GetPrinterFunction>(spooler, "GetPrinterW");
    ClosePrinterCall = LookUpFunction<ClosePrinterFunction>(spooler, "ClosePrinter");
    if (open == NULL || GetPrinterCall == NULL || ClosePrinterCall == NULL) {
        *error = spooler == NULL ? GetLastError() : ERROR_PROC_NOT_FOUND;
        return false;
    }
    OpenPrinterCall = open;
    return true;
}

bool Open(const WCHAR* name, DWORD access, HANDLE* printer, DWORD* error)
{
    if (!LoadSpooler(error))
        return false;
    // OpenPrinterW takes a writable name. One that does not fit is no
    // printer's: a cut name could be another printer's.
    WCHAR copy[PrinterNameSize];
    if (lstrlenW(name) >= PrinterNameSize) {
        *error = ERROR_INVALID_PRINTER_NAME;
        return false;
    }
    lstrcpynW(copy, name, ARRAYSIZE(copy));
    PRINTER_DEFAULTSW defaults = {NULL, NULL, access};
    if (OpenPrinterCall(copy, printer, &defaults)) {
        *error = ERROR_SUCCESS;
        return true;
    }
    *error = GetLastError();
    return false;
}

}  // namespace

PrinterRights ProbePrinterRights(const WCHAR* name, DWORD* error)
{
    HANDLE printer;
    if (Open(name, PRINTER_ALL_ACCESS, &printer, error)) {
        ClosePrinterCall(printer);
        return PrinterManaged;
    }
    switch (*error) {
    case ERROR_ACCESS_DENIED:
        return PrinterRefused;
    case ERROR_INVALID_PRINTER_NAME:
        return PrinterMissing;
    default:
        return PrinterOpenFailed;
    }
}

bool ReadPrinterState(const WCHAR* name, PrinterState* state, DWORD* error)
{
    HANDLE printer;
    if (!Open(name, PRINTER_ACCESS_USE, &printer, error))
        return false;
    DWORD needed = 0;
    bool read =
        GetPrinterCall(printer, 2, Level2.bytes, sizeof(Level2.bytes), &needed) != FALSE;
    *error = read ? ERROR_SUCCESS : GetLastError();
    ClosePrinterCall(printer);
    if (read) {
        state->attributes = Level2.info.Attributes;
        state->jobs = Level2.info.cJobs;
    }
    return read;
}

QueueModeRead ProbeQueueModeRead(const WCHAR* name, DWORD* needed, DWORD* error)
{
    *needed = 0;
    HANDLE printer;
    if (!Open(name, PRINTER_ACCESS_USE, &printer, error))
        return QueueModeReadFailed;
    union {
        PRINTER_INFO_5W info;
        BYTE bytes[PrinterInfoSize];
    } buffer;
    bool read = GetPrinterCall(printer, 5, buffer.bytes, sizeof(buffer.bytes), needed) != FALSE;
    *error = read ? ERROR_SUCCESS : GetLastError();
    ClosePrinterCall(printer);
    if (read)
        return QueueModeReadFits;
    return *error == ERROR_INSUFFICIENT_BUFFER ? QueueModeReadTooLarge : QueueModeReadFailed;
}

UINT NameCodePage()
{
    WCHAR number[8];
    if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, number,
                       ARRAYSIZE(number)) == 0)
        return GetACP();
    UINT codePage = 0;
    for (const WCHAR* digit = number; *digit >= L'0' && *digit <= L'9'; ++digit)
        codePage = codePage * 10 + static_cast<UINT>(*digit - L'0');
    // A locale with no ANSI code page of its own converts with the system's.
    return codePage != 0 ? codePage : GetACP();
}
