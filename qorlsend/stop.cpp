// The pipe's name is machine-wide, the server's mutex per session: another
// session's server, or another user's in this one, may serve an instance of
// the same pipe, and a client reaches whichever listens. So the stop makes
// sure whom it talks to before it says exit.
#include "stop.h"

#include "session.h"

namespace {

const DWORD StopPoll = 50;
const int ReachAttempts = 5;     // each new connection may reach another instance
const DWORD ReachPause = 100;

// Whether the instance reached is served by the server to stop. A server
// not found by name is taken as any process of this session and user.
bool ServedByServer(HANDLE pipe, StopReport* report)
{
    DWORD owner;
    if (FindPipeOwner(pipe, &owner) != PipeOwnerFound)
        return true;   // XP cannot tell: as before
    if (report->pid != 0 && owner == report->pid)
        return true;
    bool thisSession = false;
    if (!DescribeProcess(owner, report->answeredProgram, &thisSession))
        report->answeredProgram[0] = 0;
    if (report->pid == 0 && thisSession && RunsAsThisUser(owner))
        return true;
    report->answeredPid = owner;
    ProcessSession(owner, &report->answeredSession);
    return false;
}

}  // namespace

void StopSessionServer(DWORD seconds, StopReport* report)
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
    if (FindServerProcess(&report->pid, directory, NULL, &thisUser) &&
        lstrlenW(directory) + lstrlenW(ServerProgram) < MAX_PATH)
        wsprintfW(report->program, L"%s%s", directory, ServerProgram);
    // Another user's server is theirs to stop: stopping it would leave
    // their printer software without boxes.
    if (mutex == MutexDenied || (report->pid != 0 && !thisUser)) {
        report->outcome = StopOtherUser;
        return;
    }

    DWORD start = GetTickCount();
    DWORD deadline = seconds > 0 ? seconds * 1000 : 1;
    for (int attempt = 1;; ++attempt) {
        HANDLE pipe;
        DWORD elapsed = GetTickCount() - start;
        report->sent = QorlOpenPipe(elapsed < deadline ? deadline - elapsed : 1, &pipe);
        if (report->sent != QORL_SEND_OK) {
            report->sendError = GetLastError();
            break;
        }
        if (ServedByServer(pipe, report)) {
            DWORD written = 0;
            if (!WriteFile(pipe, "exit", 4, &written, NULL) || written != 4) {
                report->sent = QORL_SEND_WRITE_FAILED;
                report->sendError = GetLastError();
            }
            CloseHandle(pipe);
            break;
        }
        // Closed unwritten: the other process learns nothing but a connection.
        CloseHandle(pipe);
        report->elapsedMs = GetTickCount() - start;
        if (attempt == ReachAttempts || report->elapsedMs >= deadline) {
            report->outcome = StopOtherAnswered;
            return;
        }
        Sleep(ReachPause);
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
