// A stand-in winspool.drv for the tests: the four spooler calls the server
// makes (and the level-2 read of QorlSend --check), acting on printers kept
// in a text file beside the program that loaded it instead of the system's
// spooler, and recording every call. It sits in the prefix's system folder,
// where the programs load the spooler from, and only programs whose Wine
// load order puts native first load it; every other gets Wine's own. Unlike
// Wine's spooler, it can refuse a printer to this user, as Windows refuses a
// standard user.
#include <windows.h>
#include <winspool.h>

#include "standin_state.h"

namespace {

WCHAR StateDirectory[MAX_PATH];
// Under the lock only; too big for a worker thread's first stack page.
StandInState State;

// The lock, the state as loaded, and the call being recorded.
struct Call {
    HANDLE lock;
    StandInCallRecord record;
};

void Begin(Call* call, const char* op)
{
    call->lock = LockStandIn(StateDirectory);
    LoadStandInState(StateDirectory, &State);
    ZeroMemory(&call->record, sizeof(call->record));
    lstrcpynA(call->record.op, op, sizeof(call->record.op));
    call->record.thread = GetCurrentThreadId();
}

BOOL End(Call* call, BOOL ok, DWORD error, bool changed)
{
    if (changed)
        SaveStandInState(StateDirectory, &State);
    call->record.ok = ok;
    call->record.error = ok ? 0 : error;
    AppendStandInCall(StateDirectory, &call->record);
    UnlockStandIn(call->lock);
    if (!ok)
        SetLastError(error);
    return ok;
}

DWORD HandleNumber(HANDLE printer)
{
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(printer));
}

// The handle's printer, or NULL for an unknown or closed handle.
StandInPrinterRecord* PrinterOf(HANDLE printer, Call* call, DWORD* access)
{
    call->record.handle = HandleNumber(printer);
    int index = FindStandInHandle(&State, HandleNumber(printer));
    if (index < 0)
        return NULL;
    lstrcpynW(call->record.printer, State.handles[index].printer, StandInNameSize);
    *access = State.handles[index].access;
    return FindStandInPrinterRecord(&State, State.handles[index].printer);
}

DWORD StringBytes(const WCHAR* text)
{
    return static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(WCHAR));
}

// What the printer's level-5 information takes: the record and its two
// strings, or more if the test says so.
DWORD Level5Size(const StandInPrinterRecord* printer)
{
    DWORD natural = sizeof(PRINTER_INFO_5W) + StringBytes(printer->name) +
                    StringBytes(printer->port);
    return printer->needed > natural ? printer->needed : natural;
}

// Like the system's spooler, the strings go at the end of the space needed.
void PlaceNames(const StandInPrinterRecord* printer, BYTE* buffer, DWORD size, WCHAR** name,
                WCHAR** port)
{
    BYTE* end = buffer + size;
    end -= StringBytes(printer->port);
    CopyMemory(end, printer->port, StringBytes(printer->port));
    *port = reinterpret_cast<WCHAR*>(end);
    end -= StringBytes(printer->name);
    CopyMemory(end, printer->name, StringBytes(printer->name));
    *name = reinterpret_cast<WCHAR*>(end);
}

void FillLevel5(const StandInPrinterRecord* printer, BYTE* buffer, DWORD size)
{
    PRINTER_INFO_5W* info = reinterpret_cast<PRINTER_INFO_5W*>(buffer);
    PlaceNames(printer, buffer, size, &info->pPrinterName, &info->pPortName);
    info->Attributes = printer->attributes;
    info->DeviceNotSelectedTimeout = printer->deviceNotSelectedTimeout;
    info->TransmissionRetryTimeout = printer->transmissionRetryTimeout;
}

// Level 2 as QorlSend reads it: names, attributes and the queued jobs.
DWORD Level2Size(const StandInPrinterRecord* printer)
{
    return sizeof(PRINTER_INFO_2W) + StringBytes(printer->name) + StringBytes(printer->port);
}

void FillLevel2(const StandInPrinterRecord* printer, BYTE* buffer, DWORD size)
{
    ZeroMemory(buffer, sizeof(PRINTER_INFO_2W));
    PRINTER_INFO_2W* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
    PlaceNames(printer, buffer, size, &info->pPrinterName, &info->pPortName);
    info->Attributes = printer->attributes;
    info->cJobs = printer->jobs;
}

// What a user without the right to manage the printer may still ask for.
const DWORD UseOnly = PRINTER_READ;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        // The program's directory: each test's own, as the DLL is shared.
        DWORD length = GetModuleFileNameW(NULL, StateDirectory, MAX_PATH);
        while (length > 0 && StateDirectory[length - 1] != L'\\')
            --length;
        StateDirectory[length] = 0;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" BOOL WINAPI StandInOpenPrinterW(LPWSTR name, LPHANDLE printer,
                                           LPPRINTER_DEFAULTSW defaults)
{
    Call call;
    Begin(&call, "open");
    // Without defaults the spooler grants use only.
    DWORD access = defaults != NULL ? defaults->DesiredAccess : PRINTER_ACCESS_USE;
    call.record.first = access;
    if (name != NULL)
        lstrcpynW(call.record.printer, name, StandInNameSize);
    if (printer == NULL)
        return End(&call, FALSE, ERROR_INVALID_PARAMETER, false);
    *printer = NULL;
    if (name == NULL || FindStandInPrinterRecord(&State, name) == NULL)
        return End(&call, FALSE, ERROR_INVALID_PRINTER_NAME, false);
    if (FindStandInPrinterRecord(&State, name)->denied != 0 && (access & ~UseOnly) != 0)
        return End(&call, FALSE, ERROR_ACCESS_DENIED, false);
    if (State.handleCount == StandInMaxHandles)
        return End(&call, FALSE, ERROR_NOT_ENOUGH_MEMORY, false);

    StandInHandleRecord* handle = &State.handles[State.handleCount++];
    handle->number = State.nextHandle++;
    lstrcpynW(handle->printer, FindStandInPrinterRecord(&State, name)->name, StandInNameSize);
    handle->access = access;
    call.record.handle = handle->number;
    *printer = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle->number));
    return End(&call, TRUE, 0, true);
}

extern "C" BOOL WINAPI StandInGetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD size,
                                          LPDWORD needed)
{
    Call call;
    Begin(&call, "get");
    call.record.first = level;
    call.record.second = size;
    DWORD access = 0;
    StandInPrinterRecord* printer = PrinterOf(handle, &call, &access);
    if (printer == NULL)
        return End(&call, FALSE, ERROR_INVALID_HANDLE, false);
    if (level != 5 && level != 2)
        return End(&call, FALSE, ERROR_INVALID_LEVEL, false);
    if (needed == NULL)
        return End(&call, FALSE, RPC_X_NULL_REF_POINTER, false);
    DWORD delay = printer->delayMs;
    *needed = level == 5 ? Level5Size(printer) : Level2Size(printer);
    BOOL ok = FALSE;
    if (buffer != NULL && size >= *needed) {
        if (level == 5)
            FillLevel5(printer, buffer, *needed);
        else
            FillLevel2(printer, buffer, *needed);
        ok = TRUE;
    }
    End(&call, ok, ERROR_INSUFFICIENT_BUFFER, false);
    // A slow spooler: the caller is busy for this long, the state is free.
    if (delay > 0)
        Sleep(delay);
    if (!ok)
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return ok;
}

extern "C" BOOL WINAPI StandInSetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer,
                                          DWORD command)
{
    Call call;
    Begin(&call, "set");
    call.record.first = level;
    call.record.second = command;
    DWORD access = 0;
    StandInPrinterRecord* printer = PrinterOf(handle, &call, &access);
    if (printer == NULL)
        return End(&call, FALSE, ERROR_INVALID_HANDLE, false);
    if ((access & PRINTER_ACCESS_ADMINISTER) == 0)
        return End(&call, FALSE, ERROR_ACCESS_DENIED, false);

    if (level == 0) {
        switch (command) {
        case PRINTER_CONTROL_PURGE:
            if (buffer != NULL)
                return End(&call, FALSE, ERROR_INVALID_PARAMETER, false);
            printer->jobs = 0;
            return End(&call, TRUE, 0, true);
        case PRINTER_CONTROL_PAUSE:
        case PRINTER_CONTROL_RESUME:
            return End(&call, TRUE, 0, false);
        default:
            return End(&call, FALSE, ERROR_INVALID_PRINTER_COMMAND, false);
        }
    }
    if (level != 5)
        return End(&call, FALSE, ERROR_INVALID_LEVEL, false);
    // With a level, the command must be 0.
    if (command != 0 || buffer == NULL)
        return End(&call, FALSE, ERROR_INVALID_PARAMETER, false);

    const PRINTER_INFO_5W* info = reinterpret_cast<const PRINTER_INFO_5W*>(buffer);
    call.record.attributes = info->Attributes;
    printer->attributes = info->Attributes;
    if (info->pPortName != NULL)
        lstrcpynW(printer->port, info->pPortName, StandInNameSize);
    printer->deviceNotSelectedTimeout = info->DeviceNotSelectedTimeout;
    printer->transmissionRetryTimeout = info->TransmissionRetryTimeout;
    return End(&call, TRUE, 0, true);
}

extern "C" BOOL WINAPI StandInClosePrinter(HANDLE handle)
{
    Call call;
    Begin(&call, "close");
    DWORD access = 0;
    PrinterOf(handle, &call, &access);
    int index = FindStandInHandle(&State, HandleNumber(handle));
    if (index < 0)
        return End(&call, FALSE, ERROR_INVALID_HANDLE, false);
    State.handles[index] = State.handles[--State.handleCount];
    return End(&call, TRUE, 0, true);
}
