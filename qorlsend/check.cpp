// Each failing finding says what to do. Nothing here changes anything: the
// pipe is opened and closed without a write (the server drops such a
// client at once), box.ini is opened for appending and closed, or a
// temporary file is created beside it and removed; a printer is opened
// and closed, and read.
#include "check.h"

#include <winspool.h>

#include "../include/qorl_send.h"
#include "../spooler/spooler.h"
#include "../status/status_message.h"
#include "console.h"
#include "printer.h"
#include "session.h"
#include "strings.h"

namespace {

const WCHAR BoxClass[] = L"ravonPT";
const WCHAR BoxProgram[] = L"QorlBox.exe";
const DWORD PipeWait = 2000;
const int MaxBoxesListed = 8;

bool Healthy = true;          // the session: a message would be handled and shown
bool PrinterHealthy = true;   // devCancel and addNewDev would act on the printer
bool OldSendersHealthy = true;   // the machine-wide pipe, where the session pipe serves
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
    Finding(Text(IDS_LABEL_OK), format, arguments);
    va_end(arguments);
}

void Fail(const WCHAR* format, ...)
{
    *Verdict = false;
    va_list arguments;
    va_start(arguments, format);
    // What only older senders meet is no failure of the session's.
    Finding(Text(Verdict == &OldSendersHealthy ? IDS_LABEL_INFO : IDS_LABEL_FAIL), format,
            arguments);
    va_end(arguments);
}

void Info(const WCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Finding(Text(IDS_LABEL_INFO), format, arguments);
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
    UINT system = GetACP();
    UINT names = NameCodePage();
    if (names == system) {
        Info(Text(IDS_CHECK_WINDOWS_VERSION), version.dwMajorVersion,
             version.dwMinorVersion, version.dwBuildNumber, system);
        return;
    }
    Info(Text(IDS_CHECK_WINDOWS_VERSION_NAME_CODE_PAGE),
         version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber, system, names,
         system);
}

// The QorlServer.exe processes of this session: the first, and how many.
DWORD ServerPid = 0;
int ServerCount = 0;

// Who holds the server end of the pipe, by process. False, said as a FAIL,
// when it is not the server of this session.
bool CheckPipeOwner(HANDLE pipe)
{
    DWORD pid;
    switch (FindPipeOwner(pipe, &pid)) {
    case PipeOwnerUntold:
        Info(Text(IDS_CHECK_PIPE_HOLDER_UNSUPPORTED));
        return true;
    case PipeOwnerFailed:
        Info(Text(IDS_CHECK_PIPE_HOLDER_ERROR), GetLastError());
        return true;
    case PipeOwnerFound:
        break;
    }
    WCHAR program[MAX_PATH];
    bool thisSession = false;
    if (!DescribeProcess(pid, program, &thisSession))
        lstrcpynW(program, Text(IDS_CHECK_PROGRAM_UNSEEN), ARRAYSIZE(program));
    if (lstrcmpiW(program, ServerProgram) != 0) {
        Fail(Text(IDS_CHECK_PIPE_HELD_BY_OTHER_PROGRAM),
             QORL_PIPE_NAME, pid, program);
        return false;
    }
    if (!thisSession) {
        Fail(Text(IDS_CHECK_PIPE_HELD_BY_OTHER_SESSION),
             QORL_PIPE_NAME, pid);
        return false;
    }
    // Only one process can be the server: a second of that name either
    // ended at once or is another program under the server's name.
    if (ServerCount > 1 || pid != ServerPid) {
        Fail(Text(IDS_CHECK_PIPE_HELD_BY_ONE_OF_SEVERAL),
             QORL_PIPE_NAME, pid, ServerCount);
        return false;
    }
    Ok(Text(IDS_CHECK_PIPE_HELD_BY_SERVER), pid);
    return true;
}

// The session pipe, where this Windows can tell who serves it: true when
// this session's server does.
bool CheckSessionPipe(bool running)
{
    WCHAR name[QORL_PIPE_NAME_SIZE];
    if (QorlKernelFunction("GetNamedPipeServerProcessId") == NULL ||
        !QorlSessionPipeName(name, ARRAYSIZE(name)))
        return false;
    HANDLE pipe;
    QorlSendResult result = QorlOpenPipeNamed(name, PipeWait, &pipe);
    DWORD error = GetLastError();
    if (result == QORL_SEND_NO_SERVER) {
        if (running)
            Info(Text(IDS_CHECK_SESSION_PIPE_MISSING), name);
        return false;
    }
    if (result != QORL_SEND_OK) {
        Info(Text(IDS_CHECK_SESSION_PIPE_OPEN_ERROR), name, error);
        return false;
    }
    DWORD pid = 0;
    bool told = FindPipeOwner(pipe, &pid) == PipeOwnerFound;
    CloseHandle(pipe);
    if (told && pid != 0 && pid == ServerPid) {
        Ok(Text(IDS_CHECK_SESSION_PIPE_SERVED), name, pid);
        return true;
    }
    WCHAR program[MAX_PATH];
    bool thisSession = false;
    if (!told || !DescribeProcess(pid, program, &thisSession))
        lstrcpynW(program, Text(IDS_CHECK_PROGRAM_UNSEEN), ARRAYSIZE(program));
    Fail(Text(IDS_CHECK_SESSION_PIPE_TAKEN), name, pid, program);
    return false;
}

// The machine-wide pipe, which every sender older than the session pipe uses.
void CheckPipe(bool running)
{
    HANDLE pipe;
    QorlSendResult result = QorlOpenPipeNamed(QORL_PIPE_NAME, PipeWait, &pipe);
    DWORD error = GetLastError();
    switch (result) {
    case QORL_SEND_OK: {
        bool ours = CheckPipeOwner(pipe);
        CloseHandle(pipe);
        if (!ours)
            return;
        if (running)
            Ok(Text(IDS_CHECK_PIPE_OPENS), QORL_PIPE_NAME);
        else
            Fail(Text(IDS_CHECK_PIPE_OF_OTHER_SESSION),
                 QORL_PIPE_NAME);
        return;
    }
    case QORL_SEND_BUSY:
        Fail(Text(IDS_CHECK_PIPE_BUSY),
             QORL_PIPE_NAME, PipeWait);
        return;
    case QORL_SEND_NO_SERVER:
        if (running)
            Fail(Text(IDS_CHECK_PIPE_MISSING),
                 QORL_PIPE_NAME);
        return;
    case QORL_SEND_ACCESS_DENIED:
        Fail(Text(IDS_CHECK_PIPE_ACCESS_DENIED),
             QORL_PIPE_NAME);
        return;
    default:
        Fail(Text(IDS_CHECK_PIPE_OPEN_ERROR), QORL_PIPE_NAME, error);
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
        Ok(Text(IDS_CHECK_BOX_PRESENT), BoxProgram);
    else
        Fail(Text(IDS_CHECK_BOX_MISSING),
             BoxProgram, directory);

    DWORD error = WriteError(directory);
    if (error == ERROR_SUCCESS)
        Ok(Text(IDS_CHECK_REPORT_WRITABLE), directory);
    else
        Fail(Text(IDS_CHECK_REPORT_NOT_WRITABLE),
             directory, error);

    wsprintfW(path, L"%sbox.ini", directory);
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        Info(Text(IDS_CHECK_NO_REPORT));
        return;
    }
    // A marker no report holds tells an absent key from an empty one.
    const WCHAR Missing[] = L"\x1";
    WCHAR type[FieldSize * 2];
    WCHAR printer[FieldSize * 2];
    GetPrivateProfileStringW(L"REPORT", L"TYPE", Missing, type, ARRAYSIZE(type), path);
    GetPrivateProfileStringW(L"REPORT", L"PRINTER", Missing, printer, ARRAYSIZE(printer), path);
    Info(Text(IDS_CHECK_REPORT), lstrcmpW(type, Missing) == 0 ? Text(IDS_NONE) : type,
         lstrcmpW(printer, Missing) == 0 ? Text(IDS_NONE) : printer);
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
        Info(Text(IDS_CHECK_NO_BOX_SHOWS), BoxClass);
    else
        Info(Text(IDS_CHECK_BOXES_SHOWING), count, titles,
             count > MaxBoxesListed ? L", ..." : L"");
}

// The first row whose bits match says what the printer does now and what
// addNewDev, which clears DIRECT and sets QUEUED, would make of it.
struct QueueSetting {
    DWORD mask;
    DWORD value;
    UINT now;          // string ids
    UINT addNewDev;
};

const QueueSetting QueueSettings[] = {
    {PRINTER_ATTRIBUTE_DIRECT | PRINTER_ATTRIBUTE_QUEUED,
     PRINTER_ATTRIBUTE_DIRECT | PRINTER_ATTRIBUTE_QUEUED,
     IDS_CHECK_DIRECT_AND_QUEUED,
     IDS_CHECK_ADDNEWDEV_DIRECT_OFF},
    {PRINTER_ATTRIBUTE_DIRECT, PRINTER_ATTRIBUTE_DIRECT,
     IDS_CHECK_DIRECT, IDS_CHECK_ADDNEWDEV_TO_SPOOLED},
    {PRINTER_ATTRIBUTE_QUEUED, PRINTER_ATTRIBUTE_QUEUED,
     IDS_CHECK_QUEUED,
     IDS_CHECK_ADDNEWDEV_AS_IS},
    {PRINTER_ATTRIBUTE_QUEUED, 0, IDS_CHECK_SPOOLED_EARLY_START,
     IDS_CHECK_ADDNEWDEV_WAIT_LAST_PAGE},
};

void ReportPrinterState(const WCHAR* name)
{
    PrinterState state;
    DWORD error;
    if (!ReadPrinterState(name, &state, &error)) {
        Info(Text(IDS_CHECK_PRINTER_UNREADABLE), name,
             error);
        return;
    }
    DWORD needed;
    bool tooLarge = ProbeQueueModeRead(name, &needed, &error) == QueueModeReadTooLarge;
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(QueueSettings)); ++i) {
        const QueueSetting& row = QueueSettings[i];
        if ((state.attributes & row.mask) != row.value)
            continue;
        if (tooLarge)
            Info(Text(IDS_CHECK_PRINTER_SETTINGS_TOO_LARGE),
                 name, Text(row.now), state.attributes, needed, PrinterInfoSize);
        else
            Info(Text(IDS_CHECK_PRINTER_STATE), name, Text(row.now), state.attributes,
                 Text(row.addNewDev));
        break;
    }
    Info(Text(IDS_CHECK_PRINTER_JOBS), name, state.jobs);
}

// What devCancel and addNewDev would do to the printer, if the server ran as
// this user.
void CheckPrinter(const WCHAR* name)
{
    DWORD error;
    switch (ProbePrinterRights(name, &error)) {
    case PrinterMissing:
        Fail(Text(IDS_CHECK_NO_PRINTER),
             name);
        return;
    case PrinterOpenFailed:
        Fail(Text(IDS_CHECK_PRINTER_OPEN_ERROR),
             name, error);
        return;
    case PrinterRefused:
        Ok(Text(IDS_CHECK_PRINTER_EXISTS), name);
        Fail(Text(IDS_CHECK_PRINTER_ACCESS_DENIED),
             name);
        break;
    case PrinterManaged:
        Ok(Text(IDS_CHECK_PRINTER_EXISTS), name);
        Ok(Text(IDS_CHECK_PRINTER_ACCESS_GRANTED),
           name);
        break;
    }
    ReportPrinterState(name);
}

}  // namespace

int CheckSession(const WCHAR* printer)
{
    ReportWindows();
    MutexState mutex = ServerMutexState();
    bool running = mutex != MutexAbsent;
    if (mutex == MutexDenied)
        Fail(Text(IDS_CHECK_MUTEX_OF_OTHER_USER));
    else if (running)
        Ok(Text(IDS_CHECK_SERVER_RUNS));
    else
        Fail(Text(IDS_CHECK_NO_SERVER));

    WCHAR directory[MAX_PATH];
    bool thisUser = false;
    bool found = FindServerProcess(&ServerPid, directory, &ServerCount, &thisUser);
    DWORD error = GetLastError();
    if (mutex == MutexOpened && ServerPid != 0 && !thisUser)
        Fail(Text(IDS_CHECK_SERVER_OF_OTHER_USER), ServerPid);
    if (CheckSessionPipe(running)) {
        Info(Text(IDS_CHECK_OLD_SENDERS), QORL_PIPE_NAME);
        Verdict = &OldSendersHealthy;
    }
    CheckPipe(running);
    Verdict = &Healthy;

    if (running) {
        if (found) {
            Ok(Text(IDS_CHECK_SERVER_FOLDER), directory, ServerPid);
            CheckFolder(directory);
        } else if (ServerPid != 0) {
            Fail(Text(IDS_CHECK_SERVER_PATH_ERROR),
                 ServerPid, error);
        } else {
            Fail(Text(IDS_CHECK_NO_SERVER_PROCESS));
        }
    }
    ListBoxes();
    if (printer != NULL) {
        Verdict = &PrinterHealthy;
        CheckPrinter(printer);
    }

    if (!Healthy)
        Print(Text(IDS_CHECK_RESULT_FAIL));
    else if (!PrinterHealthy)
        Print(Text(IDS_CHECK_RESULT_PRINTER_FAIL),
              printer);
    else
        Print(Text(IDS_CHECK_RESULT_OK));
    return Healthy && PrinterHealthy ? 0 : 1;
}
