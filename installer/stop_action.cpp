// The package's stop (custom action type 65, run before InstallValidate):
// ends the server of the installing user's session, as QorlSend --stop
// does, but with no console window, and only where it runs from a folder
// whose files this install replaces or removes; it says in one line of the
// install log what it found and did. Its result is never a failure: a
// server that will not stop, or is not this user's to stop, is left to
// Windows Installer's own handling of files in use.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include "../qorlsend/stop.h"

namespace {

const DWORD StopSeconds = 10;   // as QorlSend --stop

// Field 0 only refers to field 1, so nothing in a path ([, ], {) is taken
// for a property or a field by the record's formatting.
void LogLine(MSIHANDLE install, const WCHAR* text)
{
    MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0)
        return;
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, text);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// A folder property's value; false when it is empty or does not fit.
bool FolderProperty(MSIHANDLE install, const WCHAR* name, WCHAR* folder)
{
    DWORD size = MAX_PATH;
    return MsiGetPropertyW(install, name, folder, &size) == ERROR_SUCCESS && folder[0] != 0;
}

}  // namespace

extern "C" UINT __stdcall StopServer(MSIHANDLE install)
{
    // The folder this install writes to, and the installed version's where
    // an upgrade moves: another install's server holds neither.
    WCHAR target[MAX_PATH];
    WCHAR kept[MAX_PATH];
    StopFolders folders = {0, {NULL, NULL}};
    if (FolderProperty(install, L"INSTALLDIR", target))
        folders.folder[folders.count++] = target;
    if (FolderProperty(install, L"QORL_KEPT_DIR", kept) &&
        (folders.count == 0 || lstrcmpiW(kept, target) != 0))
        folders.folder[folders.count++] = kept;
    StopReport report;
    StopSessionServer(StopSeconds, folders, &report);
    const WCHAR* program = report.program[0] != 0 ? report.program : L"path unknown";
    // Room for the longest line: the text around a MAX_PATH path and four numbers.
    WCHAR line[MAX_PATH + 192];
    switch (report.outcome) {
    case StopNoServer:
        lstrcpyW(line, L"QorlStop: no server of this session was running");
        break;
    case StopEnded:
        wsprintfW(line, L"QorlStop: stopped QorlServer.exe, process %lu (%s), in %lu.%lu s",
                  report.pid, program, report.elapsedMs / 1000, report.elapsedMs % 1000 / 100);
        break;
    case StopOtherFolder:
        wsprintfW(line,
                  L"QorlStop: QorlServer.exe, process %lu (%s), runs from another folder than "
                  L"this package's; it is left running",
                  report.pid, program);
        break;
    case StopStillRunning:
        wsprintfW(line,
                  L"QorlStop: QorlServer.exe, process %lu, still runs after %lu s; "
                  L"Windows Installer's files-in-use handling decides",
                  report.pid, StopSeconds);
        break;
    case StopOtherUser:
        if (report.pid == 0)
            lstrcpyW(line, L"QorlStop: the server of this session runs as another user (its "
                           L"mutex does not open for this user); nothing was sent, it is left "
                           L"running");
        else
            wsprintfW(line,
                      L"QorlStop: QorlServer.exe, process %lu, runs as another user; nothing "
                      L"was sent, it is left running",
                      report.pid);
        break;
    case StopOtherAnswered:
        wsprintfW(line,
                  L"QorlStop: the pipe was answered by process %lu (%s) of session %lu, not by "
                  L"QorlServer.exe, process %lu; nothing was sent",
                  report.answeredPid,
                  report.answeredProgram[0] != 0 ? report.answeredProgram : L"name unknown",
                  report.answeredSession, report.pid);
        break;
    default:
        return ERROR_SUCCESS;
    }
    LogLine(install, line);
    return ERROR_SUCCESS;
}
