// What QorlSend learns of a printer without changing it: whether this user
// may open it as the server does, and its queue setting and jobs.
#pragma once

#include <windows.h>

enum PrinterRights {
    PrinterManaged,     // it opens with PRINTER_ALL_ACCESS, as the server opens it
    PrinterRefused,     // ERROR_ACCESS_DENIED: this user may not manage it
    PrinterMissing,     // ERROR_INVALID_PRINTER_NAME: no printer of that name
    PrinterOpenFailed   // another error
};

// Opens the printer as devCancel and addNewDev do and closes it at once.
// *error: the open's error, ERROR_SUCCESS when it opened.
PrinterRights ProbePrinterRights(const WCHAR* name, DWORD* error);

struct PrinterState {
    DWORD attributes;   // PRINTER_ATTRIBUTE_*
    DWORD jobs;         // queued now
};

// Read through a handle for use only, which a user who may not manage the
// printer still gets. False: *error says why.
bool ReadPrinterState(const WCHAR* name, PrinterState* state, DWORD* error);

enum QueueModeRead {
    QueueModeReadFits,       // the server's read of it succeeds
    QueueModeReadTooLarge,   // *needed bytes: over the server's buffer, so it is left alone
    QueueModeReadFailed      // *error says why
};

// Reads the printer's level-5 information as addNewDev does, into a buffer
// of the server's size, through a handle for use only.
QueueModeRead ProbeQueueModeRead(const WCHAR* name, DWORD* needed, DWORD* error);

// The code page printer names are decoded in: the thread's ANSI code page
// (CP_THREAD_ACP), from the user's Formats setting, as in the server's
// threads; it can differ from the system's (GetACP).
UINT NameCodePage();
