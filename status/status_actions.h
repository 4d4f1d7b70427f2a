// The operations that dispatch and the shutdown sequence call. Plain function
// pointers so that the server wires in the real ones and tests a recorder.
// Every operation runs on the pipe server thread.
#pragma once

#include <windows.h>

struct StatusActions {
    // title NULL: every status-box window, whatever its title.
    void (*CloseStatusWindows)(const WCHAR* title);
    bool (*StatusWindowExists)(const WCHAR* title);
    // printerName NULL: the report leaves PRINTER as it is.
    void (*WriteStatusReport)(const WCHAR* type, const WCHAR* printerName);
    void (*LaunchStatusBox)();
    void (*PurgePrinterJobs)(const WCHAR* printerName);
    void (*RequestQueueMode)(const WCHAR* printerName);
    void (*StopQueueModeWorker)();
};
