#include "stop.h"

#include "session.h"

namespace {

const DWORD StopPoll = 50;

}  // namespace

void StopSessionServer(DWORD seconds, StopReport* report)
{
    ZeroMemory(report, sizeof(*report));
    report->sent = QORL_SEND_OK;
    // The server has ended when its single-instance mutex no longer opens.
    if (!ServerMutexExists()) {
        report->outcome = StopNoServer;
        return;
    }
    // Who is stopped, for the caller to name it or start it again.
    WCHAR directory[MAX_PATH];
    if (FindServerProcess(&report->pid, directory) &&
        lstrlenW(directory) + lstrlenW(ServerProgram) < MAX_PATH)
        wsprintfW(report->program, L"%s%s", directory, ServerProgram);

    DWORD start = GetTickCount();
    DWORD deadline = seconds * 1000;
    report->sent = QorlSendMessage("exit", 4, deadline > 0 ? deadline : 1);
    if (report->sent != QORL_SEND_OK)
        report->sendError = GetLastError();
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
