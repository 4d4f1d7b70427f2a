// Each failing finding says what to do. Nothing here changes anything: the
// pipe is opened and closed without a write (the server drops such a
// client at once), box.ini is opened for appending and closed, or a
// temporary file is created beside it and removed; a printer is opened
// and closed, and read.
#include "check.h"

#include <winspool.h>

#include "../include/qorl_send.h"
#include "../status/status_message.h"
#include "console.h"
#include "printer.h"
#include "session.h"

namespace {

const WCHAR BoxClass[] = L"ravonPT";
const WCHAR BoxProgram[] = L"QorlBox.exe";
const DWORD PipeWait = 2000;
const int MaxBoxesListed = 8;

bool Healthy = true;          // the session: a message would be handled and shown
bool PrinterHealthy = true;   // devCancel and addNewDev would act on the printer
bool* Verdict = &Healthy;     // what a FAIL counts against now

void Finding(const WCHAR* label, const WCHAR* format, va_list arguments)
{
    Print(L"%s", label);
    PrintArguments(format, arguments);
    Print(L"\n");
}

void Ok(const WCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Finding(L"ok    ", format, arguments);
    va_end(arguments);
}

void Fail(const WCHAR* format, ...)
{
    *Verdict = false;
    va_list arguments;
    va_start(arguments, format);
    Finding(L"FAIL  ", format, arguments);
    va_end(arguments);
}

void Info(const WCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Finding(L"info  ", format, arguments);
    va_end(arguments);
}

// RtlGetVersion tells the truth whatever the manifest says; it is looked up
// rather than imported, and GetVersionExW stands in where it is missing.
void ReportWindows()
{
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    typedef LONG(WINAPI * RtlGetVersionFunction)(OSVERSIONINFOW*);
    RtlGetVersionFunction rtlGetVersion =
        LookUpFunction<RtlGetVersionFunction>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    if (rtlGetVersion == NULL || rtlGetVersion(&version) != 0)
        GetVersionExW(&version);
    Info(L"Windows %lu.%lu build %lu, ANSI code page %u", version.dwMajorVersion,
         version.dwMinorVersion, version.dwBuildNumber, GetACP());
}

// Who holds the server end of the pipe. False, said as a FAIL, when it is
// not the server of this session.
bool CheckPipeOwner(HANDLE pipe)
{
    DWORD pid;
    switch (FindPipeOwner(pipe, &pid)) {
    case PipeOwnerUntold:
        Info(L"who holds the pipe's name cannot be told on this Windows (it has no "
             L"GetNamedPipeServerProcessId, which came with Vista)");
        return true;
    case PipeOwnerFailed:
        Info(L"who holds the pipe's name could not be told (error %lu)", GetLastError());
        return true;
    case PipeOwnerFound:
        break;
    }
    WCHAR program[MAX_PATH];
    bool thisSession = false;
    if (!DescribeProcess(pid, program, &thisSession))
        lstrcpynW(program, L"a program that has ended or cannot be seen", ARRAYSIZE(program));
    if (lstrcmpiW(program, ServerProgram) != 0) {
        Fail(L"the pipe %s is held by process %lu (%s), not by QorlServer.exe: another "
             L"program has taken the pipe's name. Senders talk to it, and it may impersonate "
             L"those that do not ask for identification only; end that program and find out "
             L"why it runs, then start the server (support.md)",
             QORL_PIPE_NAME, pid, program);
        return false;
    }
    if (!thisSession) {
        Fail(L"the pipe %s is held by QorlServer.exe process %lu of another session: it gets "
             L"the messages sent here, and shows its boxes there",
             QORL_PIPE_NAME, pid);
        return false;
    }
    Ok(L"the pipe's server end is QorlServer.exe, process %lu, of this session", pid);
    return true;
}

void CheckPipe(bool running)
{
    HANDLE pipe;
    QorlSendResult result = QorlOpenPipe(PipeWait, &pipe);
    DWORD error = GetLastError();
    switch (result) {
    case QORL_SEND_OK: {
        bool ours = CheckPipeOwner(pipe);
        CloseHandle(pipe);
        if (!ours)
            return;
        if (running)
            Ok(L"the pipe %s opens for writing for this user", QORL_PIPE_NAME);
        else
            Fail(L"the pipe %s exists, but no server of this session owns it: a server of "
                 L"another session gets the messages sent here, and shows its boxes there",
                 QORL_PIPE_NAME);
        return;
    }
    case QORL_SEND_BUSY:
        Ok(L"the pipe %s is there, busy with other clients for %lu ms", QORL_PIPE_NAME,
           PipeWait);
        return;
    case QORL_SEND_NO_SERVER:
        if (running)
            Fail(L"the pipe %s is missing although the server runs: it could not create it; "
                 L"stop it with QorlSend --stop and start it again",
                 QORL_PIPE_NAME);
        return;
    case QORL_SEND_ACCESS_DENIED:
        Fail(L"the pipe %s refuses this user (ERROR_ACCESS_DENIED): a server of another user "
             L"owns it; send as that user, or stop that server (support.md)",
             QORL_PIPE_NAME);
        return;
    default:
        Fail(L"the pipe %s does not open for writing (error %lu)", QORL_PIPE_NAME, error);
        return;
    }
}

// Tried without changing anything: an existing box.ini is opened for
// appending; otherwise a temporary file is created beside it and removed.
DWORD WriteError(const WCHAR* directory)
{
    WCHAR path[MAX_PATH];
    wsprintfW(path, L"%sbox.ini", directory);
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  NULL, OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return GetLastError();
        CloseHandle(file);
        return ERROR_SUCCESS;
    }
    WCHAR temporary[MAX_PATH];
    if (!GetTempFileNameW(directory, L"qrl", 0, temporary))
        return GetLastError();
    DeleteFileW(temporary);
    return ERROR_SUCCESS;
}

void CheckFolder(const WCHAR* directory)
{
    WCHAR path[MAX_PATH];
    wsprintfW(path, L"%s%s", directory, BoxProgram);
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        Ok(L"%s is beside it", BoxProgram);
    else
        Fail(L"%s is not in %s: reports are written, but no status box starts; install it "
             L"beside QorlServer.exe",
             BoxProgram, directory);

    DWORD error = WriteError(directory);
    if (error == ERROR_SUCCESS)
        Ok(L"this user can write box.ini in %s", directory);
    else
        Fail(L"this user cannot write box.ini in %s (error %lu): the server fails silently "
             L"there; install it in a folder this user can write, or grant the right "
             L"(install.md)",
             directory, error);

    wsprintfW(path, L"%sbox.ini", directory);
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        Info(L"no report yet: there is no box.ini");
        return;
    }
    // A marker no report holds tells an absent key from an empty one.
    const WCHAR Missing[] = L"\x1";
    WCHAR type[FieldSize * 2];
    WCHAR printer[FieldSize * 2];
    GetPrivateProfileStringW(L"REPORT", L"TYPE", Missing, type, ARRAYSIZE(type), path);
    GetPrivateProfileStringW(L"REPORT", L"PRINTER", Missing, printer, ARRAYSIZE(printer), path);
    Info(L"the report: TYPE=%s, PRINTER=%s", lstrcmpW(type, Missing) == 0 ? L"(none)" : type,
         lstrcmpW(printer, Missing) == 0 ? L"(none)" : printer);
}

void ListBoxes()
{
    WCHAR titles[1000] = L"";
    int count = 0;
    for (HWND window = FindWindowExW(NULL, NULL, BoxClass, NULL); window != NULL;
         window = FindWindowExW(NULL, window, BoxClass, NULL)) {
        if (++count > MaxBoxesListed)
            continue;
        WCHAR title[TitleSize];
        if (GetWindowTextW(window, title, ARRAYSIZE(title)) == 0)
            title[0] = 0;
        Append(titles, ARRAYSIZE(titles), count == 1 ? L"\"" : L", \"");
        Append(titles, ARRAYSIZE(titles), title);
        Append(titles, ARRAYSIZE(titles), L"\"");
    }
    if (count == 0)
        Info(L"no status box shows (no window of class %s)", BoxClass);
    else
        Info(L"status boxes showing: %d: %s%s", count, titles,
             count > MaxBoxesListed ? L", ..." : L"");
}

// The first row whose bits match says what the printer does now and what
// addNewDev, which clears DIRECT and sets QUEUED, would make of it.
struct QueueSetting {
    DWORD mask;
    DWORD value;
    const WCHAR* now;
    const WCHAR* addNewDev;
};

const QueueSetting QueueSettings[] = {
    {PRINTER_ATTRIBUTE_DIRECT | PRINTER_ATTRIBUTE_QUEUED,
     PRINTER_ATTRIBUTE_DIRECT | PRINTER_ATTRIBUTE_QUEUED,
     L"prints directly, bypassing the spooler, though also marked to wait for the last page",
     L"addNewDev would turn direct printing off"},
    {PRINTER_ATTRIBUTE_DIRECT, PRINTER_ATTRIBUTE_DIRECT,
     L"prints directly, bypassing the spooler", L"addNewDev would switch it to spooled printing"},
    {PRINTER_ATTRIBUTE_QUEUED, PRINTER_ATTRIBUTE_QUEUED,
     L"spools, and starts printing once the last page is spooled",
     L"as addNewDev leaves a printer"},
    {PRINTER_ATTRIBUTE_QUEUED, 0, L"spools, and starts printing before the last page is spooled",
     L"addNewDev would have it wait for the last page"},
};

void ReportPrinterState(const WCHAR* name)
{
    PrinterState state;
    DWORD error;
    if (!ReadPrinterState(name, &state, &error)) {
        Info(L"the settings and jobs of the printer \"%s\" cannot be read (error %lu)", name,
             error);
        return;
    }
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(QueueSettings)); ++i) {
        const QueueSetting& row = QueueSettings[i];
        if ((state.attributes & row.mask) == row.value) {
            Info(L"the printer \"%s\" %s (attributes 0x%08lX): %s", name, row.now,
                 state.attributes, row.addNewDev);
            break;
        }
    }
    Info(L"jobs queued on the printer \"%s\": %lu", name, state.jobs);
}

// What devCancel and addNewDev would do to the printer, if the server ran as
// this user.
void CheckPrinter(const WCHAR* name)
{
    DWORD error;
    switch (ProbePrinterRights(name, &error)) {
    case PrinterMissing:
        Fail(L"there is no printer \"%s\" (ERROR_INVALID_PRINTER_NAME): devCancel and "
             L"addNewDev for it would do nothing; the name must be the spooler's exact "
             L"name for the printer, as Windows lists it",
             name);
        return;
    case PrinterOpenFailed:
        Fail(L"the printer \"%s\" does not open (error %lu): devCancel and addNewDev "
             L"for it would do nothing",
             name, error);
        return;
    case PrinterRefused:
        Ok(L"the printer \"%s\" exists", name);
        Fail(L"this user may not administer the printer \"%s\" (ERROR_ACCESS_DENIED "
             L"for PRINTER_ALL_ACCESS, as the server opens it): devCancel and addNewDev "
             L"will do nothing for this user; grant this user the printer's Manage "
             L"Printers permission, or run the server as a user who has it",
             name);
        break;
    case PrinterManaged:
        Ok(L"the printer \"%s\" exists", name);
        Ok(L"this user may administer the printer \"%s\": it opens with PRINTER_ALL_ACCESS, "
           L"as the server opens it (and was closed unchanged)",
           name);
        break;
    }
    ReportPrinterState(name);
}

}  // namespace

int CheckSession(const WCHAR* printer)
{
    ReportWindows();
    bool running = ServerMutexExists();
    if (running)
        Ok(L"a server runs in this session (its mutex RX70_SER_MUTEX is there)");
    else
        Fail(L"no server runs in this session: start QorlServer.exe as this user (install.md)");
    CheckPipe(running);

    if (running) {
        DWORD pid;
        WCHAR directory[MAX_PATH];
        if (FindServerProcess(&pid, directory)) {
            Ok(L"the server runs from %s (process %lu)", directory, pid);
            CheckFolder(directory);
        } else if (pid != 0) {
            Fail(L"the path of the server's process %lu cannot be read (error %lu); its folder "
                 L"was not checked",
                 pid, GetLastError());
        } else {
            Fail(L"no process named QorlServer.exe in this session: the server's folder was "
                 L"not checked (was it renamed?)");
        }
    }
    ListBoxes();
    if (printer != NULL) {
        Verdict = &PrinterHealthy;
        CheckPrinter(printer);
    }

    if (!Healthy)
        Print(L"result: a message sent now would not be handled and shown; see FAIL above\n");
    else if (!PrinterHealthy)
        Print(L"result: a message sent now would be handled, and its status box shown; but "
              L"devCancel and addNewDev for \"%s\" would do nothing, see FAIL above\n",
              printer);
    else
        Print(L"result: a message sent now would be handled, and its status box shown\n");
    return Healthy && PrinterHealthy ? 0 : 1;
}
