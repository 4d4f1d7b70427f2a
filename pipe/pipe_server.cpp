// The server's main loop. The pipes are overlapped so that one thread can
// wait on both, and so that a read can be bounded in time: a client that
// connects and never writes would otherwise hold the instance, and with it
// every printer's status, for good.
#include "pipe_server.h"

#include "../spooler/spooler.h"
#include "../status/command_table.h"
#include "../statusbox/status_box.h"
#include "../statusbox/status_report.h"

WCHAR ProgramDirectory[PathSize];
WCHAR ReportPath[PathSize];
HANDLE PauseEvent;

namespace {

const WCHAR PipeName[] = L"\\\\.\\pipe\\QorlPipe";
const WCHAR SessionPipePrefix[] = L"\\\\.\\pipe\\QorlPipe.";
const DWORD PipeBufferSize = 4096;
const DWORD PipeDefaultTimeout = 3000;   // also how long a client may stay silent
const DWORD RetryPause = 100;            // after a failed wait for a client
const DWORD ShutdownPause = 1000;
const int PipeCount = 2;                 // the machine-wide pipe and the session's

// NT AUTHORITY\SYSTEM, S-1-5-18.
SID LocalSystem = {SID_REVISION, 1, {SECURITY_NT_AUTHORITY}, {SECURITY_LOCAL_SYSTEM_RID}};

// The process token's user, and a DACL that lets that user and SYSTEM in,
// no one else: the session pipe's name can be guessed, its instance must
// not be opened by another session's user.
struct SessionPipeSecurity {
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } token;
    union {
        ACL acl;
        BYTE bytes[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
    } dacl;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
};

bool MakeSessionPipeSecurity(SessionPipeSecurity* security)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, TokenUser, &security->token.user,
                                  sizeof(security->token.bytes), &size);
    CloseHandle(token);
    if (!ok)
        return false;
    PSID user = security->token.user.User.Sid;
    if (!InitializeAcl(&security->dacl.acl, sizeof(security->dacl.bytes), ACL_REVISION) ||
        !AddAccessAllowedAce(&security->dacl.acl, ACL_REVISION, GENERIC_ALL, user) ||
        !AddAccessAllowedAce(&security->dacl.acl, ACL_REVISION, GENERIC_ALL, &LocalSystem) ||
        !InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&security->descriptor, TRUE, &security->dacl.acl, FALSE))
        return false;
    security->attributes.nLength = sizeof(security->attributes);
    security->attributes.lpSecurityDescriptor = &security->descriptor;
    security->attributes.bInheritHandle = FALSE;
    return true;
}

// XP's kernel32 has it, but Microsoft's documentation now gives Vista as its
// minimum: looked up, so that the imports stay what XP is documented to have.
typedef BOOL(WINAPI* SessionOfProcess)(DWORD, DWORD*);

// The session pipe, first of its name and this user's alone; or
// INVALID_HANDLE_VALUE when its name is taken, or the session or the user
// cannot be told.
HANDLE CreateSessionPipe()
{
    SessionOfProcess sessionOf = reinterpret_cast<SessionOfProcess>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "ProcessIdToSessionId")));
    DWORD session;
    if (sessionOf == NULL || !sessionOf(GetCurrentProcessId(), &session))
        return INVALID_HANDLE_VALUE;
    WCHAR name[32];   // the prefix and at most ten digits
    wsprintfW(name, L"%s%lu", SessionPipePrefix, session);
    static SessionPipeSecurity security;
    if (!MakeSessionPipeSecurity(&security))
        return INVALID_HANDLE_VALUE;
    // One instance: with it taken, no one can add another of the name.
    return CreateNamedPipeW(name,
                            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, PipeBufferSize,
                            PipeBufferSize, PipeDefaultTimeout, &security.attributes);
}

// One pipe of the serving loop.
enum PipeState { Idle, Waiting, Ready, Paused };
struct ServedPipe {
    HANDLE pipe;
    OVERLAPPED overlapped;   // its event: manual-reset, for every operation on the pipe
    PipeState state;
    DWORD pausedAt;
};

void BeginWait(ServedPipe* served)
{
    // Whatever failed, the loop must not spin on it.
    ClientWait wait = BeginWaitForClient(served->pipe, &served->overlapped);
    served->state = wait == Connected ? Ready : wait == Pending ? Waiting : Paused;
    if (served->state == Paused)
        served->pausedAt = GetTickCount();
}

void FinishWait(ServedPipe* served)
{
    if (FinishWaitForClient(served->pipe, &served->overlapped) == Connected) {
        served->state = Ready;
        return;
    }
    served->state = Paused;
    served->pausedAt = GetTickCount();
}

// Blocks until a waiting pipe's client comes or a paused pipe's pause is
// over, and makes the latter idle again.
void WaitForAny(ServedPipe* pipes, int count)
{
    // PauseEvent is never set: it keeps the list from being empty.
    HANDLE events[PipeCount + 1] = {PauseEvent};
    DWORD waiting = 1;
    DWORD timeout = INFINITE;
    DWORD now = GetTickCount();
    for (int i = 0; i < count; ++i) {
        if (pipes[i].state == Waiting) {
            events[waiting++] = pipes[i].overlapped.hEvent;
        } else if (pipes[i].state == Paused) {
            DWORD paused = now - pipes[i].pausedAt;
            DWORD left = paused >= RetryPause ? 0 : RetryPause - paused;
            if (left < timeout)
                timeout = left;
        }
    }
    WaitForMultipleObjects(waiting, events, FALSE, timeout);
    now = GetTickCount();
    for (int i = 0; i < count; ++i) {
        if (pipes[i].state == Paused && now - pipes[i].pausedAt >= RetryPause)
            pipes[i].state = Idle;
    }
}

void Shutdown(HANDLE pipe, const StatusActions& actions)
{
    // The worker is stopped first: closing the boxes can take seconds, and
    // a request still waiting must not start an update after "exit".
    actions.StopQueueModeWorker();
    actions.CloseStatusWindows(NULL);
    FlushFileBuffers(pipe);
    DisconnectNamedPipe(pipe);
    WaitForSingleObject(PauseEvent, ShutdownPause);
}

}  // namespace

ClientWait BeginWaitForClient(HANDLE pipe, OVERLAPPED* overlapped)
{
    HANDLE event = overlapped->hEvent;
    ZeroMemory(overlapped, sizeof(*overlapped));
    overlapped->hEvent = event;
    if (ConnectNamedPipe(pipe, overlapped))
        return Connected;

    switch (GetLastError()) {
    case ERROR_IO_PENDING:
        return Pending;
    case ERROR_PIPE_CONNECTED:
        // The client opened the pipe before this wait began: a new pipe
        // takes clients at once.
    case ERROR_NO_DATA:
        // ... and has closed it again: the message it wrote is still there
        // to read, and the read fails if it wrote none.
        return Connected;
    default:
        return RetryAfterPause;
    }
}

ClientWait FinishWaitForClient(HANDLE pipe, OVERLAPPED* overlapped)
{
    DWORD transferred;
    return GetOverlappedResult(pipe, overlapped, &transferred, FALSE) ? Connected
                                                                      : RetryAfterPause;
}

bool ReadClientMessage(HANDLE pipe, HANDLE connection, char* buffer, DWORD* count,
                       DWORD timeoutMs)
{
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof(overlapped));
    overlapped.hEvent = connection;
    *count = 0;
    if (ReadFile(pipe, buffer, MessageBufferSize, count, &overlapped))
        return true;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;   // ERROR_MORE_DATA (over-long) or ERROR_BROKEN_PIPE (gone)

    if (WaitForSingleObject(connection, timeoutMs) == WAIT_TIMEOUT) {
        // XP has no CancelIoEx; CancelIo serves, the read was issued on this thread.
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, count, TRUE);
        return false;
    }
    // ERROR_MORE_DATA here too drops an over-long message whole.
    return GetOverlappedResult(pipe, &overlapped, count, FALSE) != FALSE;
}

DWORD WINAPI PipeServerThread(LPVOID)
{
    static WCHAR discoveryTitle[TitleSize];
    MakeDiscoveryTitle(discoveryTitle);

    WCHAR modulePath[PathSize];
    DWORD length = GetModuleFileNameW(NULL, modulePath, ARRAYSIZE(modulePath));
    MakeProgramPaths(modulePath, length, ProgramDirectory, ReportPath);

    // Static: a wait still pending on one pipe when the thread ends must
    // not write into a stack that is gone.
    static ServedPipe pipes[PipeCount];
    int count = 0;
    // Another session's or user's server, or another program, may hold the
    // machine-wide name: the session pipe then serves alone, and the other
    // way round when a program took the session pipe's name first.
    HANDLE created[PipeCount] = {
        CreateNamedPipeW(PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                         PIPE_UNLIMITED_INSTANCES, PipeBufferSize, PipeBufferSize,
                         PipeDefaultTimeout, NULL),
        CreateSessionPipe()};
    for (int i = 0; i < PipeCount; ++i) {
        if (created[i] == INVALID_HANDLE_VALUE)
            continue;
        ZeroMemory(&pipes[count], sizeof(pipes[count]));
        pipes[count].pipe = created[i];
        pipes[count].overlapped.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
        ++count;
    }
    if (count == 0)
        return 0;

    PauseEvent = CreateEventW(NULL, FALSE, FALSE, NULL);

    StatusActions actions;
    actions.CloseStatusWindows = CloseStatusWindows;
    actions.StatusWindowExists = StatusWindowExists;
    actions.WriteStatusReport = WriteStatusReport;
    actions.LaunchStatusBox = LaunchStatusBox;
    actions.PurgePrinterJobs = PurgePrinterJobs;
    actions.RequestQueueMode = RequestQueueMode;
    actions.StopQueueModeWorker = StopQueueModeWorker;

    static char buffer[MessageBufferSize];
    static StatusMessage message;
    int next = 0;   // the pipe looked at first: neither starves the other
    for (;;) {
        for (int i = 0; i < count; ++i) {
            if (pipes[i].state == Idle)
                BeginWait(&pipes[i]);
            if (pipes[i].state == Waiting &&
                WaitForSingleObject(pipes[i].overlapped.hEvent, 0) == WAIT_OBJECT_0)
                FinishWait(&pipes[i]);
        }
        int ready = -1;
        for (int i = 0; i < count && ready < 0; ++i) {
            if (pipes[(next + i) % count].state == Ready)
                ready = (next + i) % count;
        }
        if (ready < 0) {
            WaitForAny(pipes, count);
            continue;
        }

        ServedPipe* served = &pipes[ready];
        next = (ready + 1) % count;
        served->state = Idle;
        ZeroMemory(buffer, sizeof(buffer));
        DWORD read;
        if (ReadClientMessage(served->pipe, served->overlapped.hEvent, buffer, &read,
                              PipeDefaultTimeout)) {
            ParseStatusMessage(buffer, read, &message);
            if (DispatchStatusCommand(message, discoveryTitle, actions) == Stop) {
                Shutdown(served->pipe, actions);
                return 0;
            }
        }
        FlushFileBuffers(served->pipe);
        DisconnectNamedPipe(served->pipe);
    }
}
