#include "session.h"

#include <tlhelp32.h>


namespace {

const WCHAR MutexName[] = L"RX70_SER_MUTEX";
const WCHAR ServerProgram[] = L"QorlServer.exe";

bool InThisSession(DWORD pid, DWORD session)
{
    DWORD other;
    return ProcessIdToSessionId(pid, &other) && other == session;
}

// The first module of a process is its executable.
bool ExecutableDirectory(DWORD pid, WCHAR* directory)
{
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (modules == INVALID_HANDLE_VALUE)
        return false;
    MODULEENTRY32W module;
    module.dwSize = sizeof(module);
    bool found = Module32FirstW(modules, &module) != FALSE;
    CloseHandle(modules);
    if (!found)
        return false;
    int cut = 0;
    for (int i = 0; module.szExePath[i] != 0; ++i) {
        if (module.szExePath[i] == L'\\')
            cut = i + 1;
    }
    if (cut == 0 || cut >= static_cast<int>(MAX_PATH))
        return false;
    lstrcpynW(directory, module.szExePath, cut + 1);
    return true;
}

}  // namespace

bool ServerMutexExists()
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, MutexName);
    if (mutex != NULL) {
        CloseHandle(mutex);
        return true;
    }
    return GetLastError() != ERROR_FILE_NOT_FOUND;
}

bool FindServerProcess(DWORD* pid, WCHAR* directory)
{
    *pid = 0;
    directory[0] = 0;
    DWORD session;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        return false;
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(processes, &entry); more && !found;
         more = Process32NextW(processes, &entry)) {
        if (lstrcmpiW(entry.szExeFile, ServerProgram) != 0 ||
            !InThisSession(entry.th32ProcessID, session))
            continue;
        *pid = entry.th32ProcessID;
        found = ExecutableDirectory(entry.th32ProcessID, directory);
    }
    CloseHandle(processes);
    return found;
}
