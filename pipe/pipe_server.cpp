// The server's main loop. The pipe is overlapped only so that a read can be
// bounded in time: a client that connects and never writes would otherwise
// hold the single instance, and with it every printer's status, for good.
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
const DWORD PipeBufferSize = 4096;
const DWORD PipeDefaultTimeout = 3000;   // also how long a client may stay silent
const DWORD RetryPause = 100;            // after a failed wait for a client
const DWORD ShutdownPause = 1000;

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

ClientWait WaitForClient(HANDLE pipe, HANDLE connection)
{
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof(overlapped));
    overlapped.hEvent = connection;
    if (ConnectNamedPipe(pipe, &overlapped))
        return Connected;

    DWORD transferred;
    switch (GetLastError()) {
    case ERROR_IO_PENDING:
        if (GetOverlappedResult(pipe, &overlapped, &transferred, TRUE))
            return Connected;
        return RetryAfterPause;
    case ERROR_PIPE_CONNECTED:
        // The client opened the pipe before this wait began.
        return Connected;
    case ERROR_NO_DATA:
        // A client came and went before this wait: clear its end and wait again.
        DisconnectNamedPipe(pipe);
        return Retry;
    default:
        return RetryAfterPause;
    }
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

    HANDLE pipe = CreateNamedPipeW(PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, PipeBufferSize,
                                   PipeBufferSize, PipeDefaultTimeout, NULL);
    if (pipe == INVALID_HANDLE_VALUE)
        return 0;

    PauseEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
    HANDLE connection = CreateEventW(NULL, TRUE, FALSE, NULL);

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
    bool failedBefore = false;
    for (;;) {
        ClientWait wait = WaitForClient(pipe, connection);
        if (wait != Connected) {
            // Whatever failed, the loop must not spin on it: only a first
            // cleared-up failure is retried at once.
            if (wait == RetryAfterPause || failedBefore)
                WaitForSingleObject(PauseEvent, RetryPause);
            failedBefore = true;
            continue;
        }
        failedBefore = false;

        ZeroMemory(buffer, sizeof(buffer));
        DWORD count;
        if (ReadClientMessage(pipe, connection, buffer, &count, PipeDefaultTimeout)) {
            ParseStatusMessage(buffer, count, &message);
            if (DispatchStatusCommand(message, discoveryTitle, actions) == Stop) {
                Shutdown(pipe, actions);
                return 0;
            }
        }
        FlushFileBuffers(pipe);
        DisconnectNamedPipe(pipe);
    }
}
