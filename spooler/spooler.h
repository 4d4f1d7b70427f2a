// The print spooler: purging a printer's jobs, and the worker that switches a
// new printer to spooled printing off the pipe thread.
#pragma once

#include <windows.h>
#include <winspool.h>

const DWORD PrinterInfoSize = 256;

// The spooler's functions, bound from the system folder's winspool.drv
// rather than imported (see system_library.cpp). Set once at start-up,
// before the pipe server and the worker start; read-only afterwards. Unbound,
// OpenPrinterW fails, so the spooler commands do nothing.
struct SpoolerFunctions {
    BOOL(WINAPI* OpenPrinterW)(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW);
    BOOL(WINAPI* GetPrinterW)(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);
    BOOL(WINAPI* SetPrinterW)(HANDLE, DWORD, LPBYTE, DWORD);
    BOOL(WINAPI* ClosePrinter)(HANDLE);
};
extern SpoolerFunctions Spooler;
// All four or none.
bool BindSpooler();

// Pipe server thread.
void PurgePrinterJobs(const WCHAR* printerName);
void RequestQueueMode(const WCHAR* printerName);
void StopQueueModeWorker();

// Worker thread entry; ends with 0 once stopped.
DWORD WINAPI QueueModeWorker(LPVOID);
void SetQueuedMode(const WCHAR* printerName);

// Hand-off between the pipe server (writer) and the worker (reader).
// WakeEvent: auto-reset, created before the entry function runs, set by the
// pipe server. QueueModeSlot: guarded by a lock, copied by the worker before
// use. StopFlag: set once by the pipe server at shutdown.
extern HANDLE WakeEvent;
extern WCHAR QueueModeSlot[260];
extern volatile LONG StopFlag;
