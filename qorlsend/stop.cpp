// The server's session pipe is its own, and tried first. The machine-wide
// pipe, which a server older than it (or one that found the session pipe's
// name taken) serves alone, is shared: another session's server, or another
// user's in this one, may serve an instance of it. Windows gives a new
// client the oldest listening instance, and one that listens again keeps
// its place, so a client that closes and retries reaches the same wrong
// instance every time. The stop keeps each wrong connection open,
// unwritten: an instance with a client is not listening, and the next open
// reaches the next one.
#include "stop.h"

#include "session.h"

namespace {

const DWORD StopPoll = 50;
const int HeldMax = 64;   // connections kept open while looking for the server

// Whether the instance reached is served by the server to stop. A server
// not found by name is taken as any process of this session and user.
bool ServedByServer(HANDLE pipe, StopReport* report)
{
    DWORD owner;
    PipeOwner told = FindPipeOwner(pipe, &owner);
    if (told == PipeOwnerUntold)
        return true;   // XP cannot tell: as before
    // Vista and later can tell; a question it could not answer is no yes.
    if (told == PipeOwnerFound && report->pid != 0 && owner == report->pid)
        return true;
    bool thisSession = false;
    if (told != PipeOwnerFound || !DescribeProcess(owner, report->answeredProgram, &thisSession))
        report->answeredProgram[0] = 0;
    if (told == PipeOwnerFound && report->pid == 0 && thisSession && RunsAsThisUser(owner))
        return true;
    report->answeredPid = owner;
    ProcessSession(owner, &report->answeredSession);
    return false;
}

// folder as a program directory reads: full, long, with the backslash.
bool NormalFolder(const WCHAR* folder, WCHAR* normal)
{
    DWORD length = GetFullPathNameW(folder, MAX_PATH, normal, NULL);
    if (length == 0 || length >= MAX_PATH - 1)
        return false;
    WCHAR longer[MAX_PATH];
    length = GetLongPathNameW(normal, longer, ARRAYSIZE(longer));
    if (length > 0 && length < MAX_PATH - 1)   // a folder that is gone keeps its name
        lstrcpyW(normal, longer);
    length = static_cast<DWORD>(lstrlenW(normal));
    if (normal[length - 1] != L'\\')
        lstrcpyW(normal + length, L"\\");
    return true;
}

// Whether a server in directory is one of the folders' (any, when none is given).
bool InFolders(const WCHAR* directory, const StopFolders& folders)
{
    if (folders.count == 0)
        return true;
    WCHAR normal[MAX_PATH];
    for (int i = 0; i < folders.count; ++i) {
        if (NormalFolder(folders.folder[i], normal) && lstrcmpiW(normal, directory) == 0)
            return true;
    }
    return false;
}

// Writes exit to the instance; false (said why in the report) when the
// whole word did not go.
bool WriteExit(HANDLE pipe, StopReport* report)
{
    DWORD count = 0;
    bool written = WriteFile(pipe, "exit", 4, &count, NULL) && count == 4;
    if (!written) {
        report->sent = QORL_SEND_WRITE_FAILED;
        report->sendError = GetLastError();
    }
    CloseHandle(pipe);
    return written;
}

enum Reach { Written, NotWritten, Elsewhere };

// The session pipe, where this Windows can say who serves it: one instance,
// the server's own unless another process took the name first.
Reach ReachBySessionPipe(DWORD deadline, StopReport* report)
{
    WCHAR name[QORL_PIPE_NAME_SIZE];
    DWORD owner;
    HANDLE pipe;
    if (QorlKernelFunction("GetNamedPipeServerProcessId") == NULL ||
        !QorlSessionPipeName(name, ARRAYSIZE(name)))
        return Elsewhere;
    QorlSendResult opened = QorlOpenPipeNamed(name, deadline, &pipe);
    if (opened == QORL_SEND_BUSY) {
        report->sent = opened;
        report->sendError = GetLastError();
        return NotWritten;
    }
    if (opened != QORL_SEND_OK)
        return Elsewhere;
    if (FindPipeOwner(pipe, &owner) == PipeOwnerFound && owner == report->pid &&
        report->pid != 0)
        return WriteExit(pipe, report) ? Written : NotWritten;
    CloseHandle(pipe);   // unwritten: not the server to stop
    return Elsewhere;
}

}  // namespace

int StopExitCode(StopOutcome outcome)
{
    switch (outcome) {
    case StopNoServer:
    case StopEnded:
    case StopOtherFolder:
        return 0;
    case StopStillRunning:
        return 1;
    case StopOtherAnswered:
        return 3;
    case StopOtherUser:
        return 4;
    }
    return 1;
}

void StopSessionServer(DWORD seconds, const StopFolders& folders, StopReport* report)
{
    ZeroMemory(report, sizeof(*report));
    report->sent = QORL_SEND_OK;
    // The server has ended when its single-instance mutex no longer opens.
    MutexState mutex = ServerMutexState();
    if (mutex == MutexAbsent) {
        report->outcome = StopNoServer;
        return;
    }
    // Who is stopped, for the caller to name it.
    WCHAR directory[MAX_PATH];
    bool thisUser = false;
    bool located = FindServerProcess(&report->pid, directory, NULL, &thisUser) &&
                   lstrlenW(directory) + lstrlenW(ServerProgram) < MAX_PATH;
    if (located)
        wsprintfW(report->program, L"%s%s", directory, ServerProgram);
    // Another folder's server holds none of the files to free. One whose
    // folder cannot be read may hold them: it is stopped as before.
    if (located && !InFolders(directory, folders)) {
        report->outcome = StopOtherFolder;
        return;
    }
    // Another user's server is theirs to stop: stopping it would leave
    // their printer software without boxes.
    if (mutex == MutexDenied || (report->pid != 0 && !thisUser)) {
        report->outcome = StopOtherUser;
        return;
    }

    DWORD start = GetTickCount();
    DWORD deadline = seconds > 0 ? seconds * 1000 : 1;
    HANDLE held[HeldMax];
    int heldCount = 0;
    Reach reached = ReachBySessionPipe(deadline, report);
    bool written = reached == Written;
    while (reached == Elsewhere) {
        HANDLE pipe;
        DWORD elapsed = GetTickCount() - start;
        report->sent = QorlOpenPipeNamed(QORL_PIPE_NAME, elapsed < deadline ? deadline - elapsed : 1,
                                         &pipe);
        if (report->sent != QORL_SEND_OK) {
            report->sendError = GetLastError();
            break;
        }
        if (ServedByServer(pipe, report)) {
            written = WriteExit(pipe, report);
            break;
        }
        held[heldCount++] = pipe;
        if (heldCount == HeldMax || GetTickCount() - start >= deadline)
            break;
    }
    // Closed unwritten: the other processes learn nothing but a connection.
    for (int i = 0; i < heldCount; ++i)
        CloseHandle(held[i]);
    if (!written && heldCount > 0 && ServerMutexExists()) {
        report->elapsedMs = GetTickCount() - start;
        report->outcome = StopOtherAnswered;
        return;
    }
    for (;;) {
        report->elapsedMs = GetTickCount() - start;
        if (!ServerMutexExists()) {
            report->outcome = StopEnded;
            return;
        }
        if (report->elapsedMs >= deadline) {
            report->outcome = StopStillRunning;
            return;
        }
        Sleep(StopPoll);
    }
}
