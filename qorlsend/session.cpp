#include "session.h"

#include <tlhelp32.h>

#include "../include/qorl_send.h"


namespace {

const WCHAR MutexName[] = L"RX70_SER_MUTEX";
const int SnapshotAttempts = 8;

// XP's kernel32 has it, but Microsoft's documentation now gives Vista as
// its minimum: looked up, so that the imports stay what XP is documented to
// have. Without it there is one session to speak of.
typedef BOOL(WINAPI* SessionOfProcess)(DWORD, DWORD*);

SessionOfProcess ProcessSessionFunction()
{
    return LookUpFunction<SessionOfProcess>(GetModuleHandleW(L"kernel32.dll"),
                                            "ProcessIdToSessionId");
}

// Vista's: looked up, so that the imports stay XP's. XP cannot tell who
// holds a pipe's name.
typedef BOOL(WINAPI* PipeServerOfClient)(HANDLE, PULONG);

bool InThisSession(SessionOfProcess sessionOf, DWORD pid, DWORD session)
{
    DWORD other;
    return sessionOf == NULL || (sessionOf(pid, &other) && other == session);
}

// Vista's: reads the path where the module list will not open, as for a
// process of the other bitness or an elevated one. Looked up, as above.
typedef BOOL(WINAPI* ImageNameOfProcess)(HANDLE, DWORD, LPWSTR, PDWORD);

bool ImagePath(DWORD pid, WCHAR* path)
{
    ImageNameOfProcess imageName = LookUpFunction<ImageNameOfProcess>(
        GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW");
    const DWORD QueryLimited = 0x1000;   // PROCESS_QUERY_LIMITED_INFORMATION
    HANDLE process = imageName != NULL ? OpenProcess(QueryLimited, FALSE, pid) : NULL;
    if (process == NULL)
        return false;
    DWORD size = MAX_PATH;
    BOOL read = imageName(process, 0, path, &size);
    CloseHandle(process);
    return read != FALSE;
}

// The first module of a process is its executable.
bool ExecutablePath(DWORD pid, WCHAR* path)
{
    // ERROR_BAD_LENGTH: the process was loading or unloading a module; its
    // documentation says to try again.
    HANDLE modules = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < SnapshotAttempts && modules == INVALID_HANDLE_VALUE;
         ++attempt) {
        modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
        if (modules == INVALID_HANDLE_VALUE && GetLastError() != ERROR_BAD_LENGTH)
            break;
    }
    if (modules == INVALID_HANDLE_VALUE)
        return ImagePath(pid, path);
    MODULEENTRY32W module;
    module.dwSize = sizeof(module);
    bool found = Module32FirstW(modules, &module) != FALSE;
    CloseHandle(modules);
    if (found)
        lstrcpynW(path, module.szExePath, MAX_PATH);
    return found || ImagePath(pid, path);
}

bool ExecutableDirectory(DWORD pid, WCHAR* directory)
{
    WCHAR path[MAX_PATH];
    if (!ExecutablePath(pid, path))
        return false;
    int cut = 0;
    for (int i = 0; path[i] != 0; ++i) {
        if (path[i] == L'\\')
            cut = i + 1;
    }
    if (cut == 0 || cut >= static_cast<int>(MAX_PATH))
        return false;
    lstrcpynW(directory, path, cut + 1);
    return true;
}

struct ProcessFound {
    DWORD pid;
    WCHAR program[MAX_PATH];   // the executable's file name
    bool thisSession;
};

// Walks the processes running now and stops at the first that accepts()
// takes. False when none does, or the processes cannot be listed.
bool FindProcess(bool (*accepts)(const ProcessFound& process, void* wanted), void* wanted,
                 ProcessFound* found)
{
    SessionOfProcess sessionOf = ProcessSessionFunction();
    DWORD session = 0;
    if (sessionOf != NULL && !sessionOf(GetCurrentProcessId(), &session))
        return false;
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    bool taken = false;
    for (BOOL more = Process32FirstW(processes, &entry); more && !taken;
         more = Process32NextW(processes, &entry)) {
        found->pid = entry.th32ProcessID;
        lstrcpynW(found->program, entry.szExeFile, ARRAYSIZE(found->program));
        found->thisSession = InThisSession(sessionOf, entry.th32ProcessID, session);
        taken = accepts(*found, wanted);
    }
    CloseHandle(processes);
    return taken;
}

bool IsServerOfThisSession(const ProcessFound& process)
{
    return process.thisSession && lstrcmpiW(process.program, ServerProgram) == 0;
}

struct ServersSeen {
    int count;
    DWORD first;       // this user's first, or else the first of all
    bool firstIsOurs;
};

// Takes none: the walk goes on to count them all.
bool CountServer(const ProcessFound& process, void* wanted)
{
    ServersSeen* seen = static_cast<ServersSeen*>(wanted);
    if (!IsServerOfThisSession(process))
        return false;
    bool ours = RunsAsThisUser(process.pid);
    if (seen->count++ == 0 || (ours && !seen->firstIsOurs)) {
        seen->first = process.pid;
        seen->firstIsOurs = ours;
    }
    return false;
}

bool HasId(const ProcessFound& process, void* wanted)
{
    return process.pid == *static_cast<DWORD*>(wanted);
}

}  // namespace

MutexState ServerMutexState()
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, MutexName);
    if (mutex != NULL) {
        CloseHandle(mutex);
        return MutexOpened;
    }
    // ERROR_ACCESS_DENIED: its security admits its creator, not this user.
    return GetLastError() == ERROR_FILE_NOT_FOUND ? MutexAbsent : MutexDenied;
}

bool ServerMutexExists()
{
    return ServerMutexState() != MutexAbsent;
}

bool FindServerProcess(DWORD* pid, WCHAR* directory, int* count, bool* thisUser)
{
    *pid = 0;
    directory[0] = 0;
    ServersSeen seen = {0, 0, false};
    ProcessFound process;
    FindProcess(CountServer, &seen, &process);
    if (count != NULL)
        *count = seen.count;
    if (thisUser != NULL)
        *thisUser = seen.firstIsOurs;
    if (seen.count == 0)
        return false;
    *pid = seen.first;
    return ExecutableDirectory(seen.first, directory);
}

bool RunsAsThisUser(DWORD pid)
{
    return QorlProcessRunsAsCaller(pid) != FALSE;
}

bool ProcessSession(DWORD pid, DWORD* session)
{
    *session = 0;
    SessionOfProcess sessionOf = ProcessSessionFunction();
    return sessionOf != NULL && sessionOf(pid, session);
}

PipeOwner FindPipeOwner(HANDLE pipe, DWORD* pid)
{
    *pid = 0;
    PipeServerOfClient serverOf = LookUpFunction<PipeServerOfClient>(
        GetModuleHandleW(L"kernel32.dll"), "GetNamedPipeServerProcessId");
    if (serverOf == NULL)
        return PipeOwnerUntold;
    ULONG id = 0;
    if (!serverOf(pipe, &id))
        return PipeOwnerFailed;
    *pid = id;
    return PipeOwnerFound;
}

bool DescribeProcess(DWORD pid, WCHAR* program, bool* thisSession)
{
    program[0] = 0;
    *thisSession = false;
    ProcessFound process;
    if (!FindProcess(HasId, &pid, &process))
        return false;
    lstrcpynW(program, process.program, MAX_PATH);
    *thisSession = process.thisSession;
    return true;
}
