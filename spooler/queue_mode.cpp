// Switches a printer to spooled printing (queued on, direct off) on a worker
// thread, so a slow spooler never delays the pipe.
#include "spooler.h"

namespace {

CRITICAL_SECTION SlotLock;

// Before the entry function and before any thread: a request that arrives
// before the worker waits keeps the event set until it does.
HANDLE CreateHandOff()
{
    // InitializeCriticalSection can raise on XP under low memory; this form
    // reports instead, and the spin count is irrelevant.
    InitializeCriticalSectionAndSpinCount(&SlotLock, 0);
    return CreateEventW(NULL, FALSE, FALSE, NULL);
}

}  // namespace

HANDLE WakeEvent = CreateHandOff();
WCHAR QueueModeSlot[260];
volatile LONG StopFlag = 0;

void RequestQueueMode(const WCHAR* printerName)
{
    EnterCriticalSection(&SlotLock);
    lstrcpynW(QueueModeSlot, printerName, ARRAYSIZE(QueueModeSlot));
    LeaveCriticalSection(&SlotLock);
    SetEvent(WakeEvent);
}

void StopQueueModeWorker()
{
    InterlockedExchange(&StopFlag, 1);
    SetEvent(WakeEvent);
}

DWORD WINAPI QueueModeWorker(LPVOID)
{
    WCHAR name[ARRAYSIZE(QueueModeSlot)];
    for (;;) {
        WaitForSingleObject(WakeEvent, INFINITE);
        if (InterlockedCompareExchange(&StopFlag, 0, 0) != 0)
            return 0;
        // A copy under the lock: a request arriving meanwhile cannot tear the
        // name, and it sets the event again, so the last name is served.
        EnterCriticalSection(&SlotLock);
        lstrcpynW(name, QueueModeSlot, ARRAYSIZE(name));
        LeaveCriticalSection(&SlotLock);
        SetQueuedMode(name);
    }
}

void SetQueuedMode(const WCHAR* printerName)
{
    WCHAR name[ARRAYSIZE(QueueModeSlot)];
    lstrcpynW(name, printerName, ARRAYSIZE(name));
    PRINTER_DEFAULTSW defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    HANDLE printer;
    if (!Spooler.OpenPrinterW(name, &printer, &defaults))
        return;

    // The record and the strings stored after it, in a buffer of its own size.
    union {
        PRINTER_INFO_5W info;
        BYTE bytes[PrinterInfoSize];
    } buffer;
    DWORD needed = 0;
    if (Spooler.GetPrinterW(printer, 5, buffer.bytes, sizeof(buffer.bytes), &needed)) {
        buffer.info.Attributes &= ~PRINTER_ATTRIBUTE_DIRECT;
        buffer.info.Attributes |= PRINTER_ATTRIBUTE_QUEUED;
        Spooler.SetPrinterW(printer, 5, buffer.bytes, 0);
    }
    Spooler.ClosePrinter(printer);
}
