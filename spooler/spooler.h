// The print spooler: purging a printer's jobs, and the worker that switches a
// new printer to spooled printing off the pipe thread.
#pragma once

#include <windows.h>

const DWORD PrinterInfoSize = 256;

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
