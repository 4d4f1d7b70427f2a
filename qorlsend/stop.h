// Stopping the server of this Windows session and waiting for it to end:
// QorlSend --stop and the installer package's stop action, one way.
#pragma once

#include <windows.h>

#include "../include/qorl_send.h"

enum StopOutcome {
    StopNoServer,        // none was running in this session
    StopEnded,           // it ended within the wait
    StopOtherFolder,     // it runs from another folder than those given: left alone
    StopStillRunning,    // it still runs at the deadline
    StopOtherUser,       // this session's server runs as another user: left alone
    StopOtherAnswered    // another process answered the pipe every time: nothing sent
};

struct StopReport {
    StopOutcome outcome;
    DWORD pid;                  // the server's process; 0 where none was found
    WCHAR program[MAX_PATH];    // its executable's full path; "" where unknown
    DWORD elapsedMs;            // from the first try to the outcome
    QorlSendResult sent;        // how sending exit went
    DWORD sendError;            // GetLastError() after a failed send
    // StopOtherAnswered: the process that answered last, its session and
    // its executable's file name.
    DWORD answeredPid;
    DWORD answeredSession;
    WCHAR answeredProgram[MAX_PATH];
};

// The folders whose files a stop is to free; none: any folder.
const int MaxStopFolders = 2;
struct StopFolders {
    int count;
    const WCHAR* folder[MaxStopFolders];
};

// Sends exit to this user's server of this session, and only to it, and
// waits at most seconds for its single-instance mutex to go (at least one
// try when 0). Given folders, a server whose program runs from none of them
// is left alone. Where Windows cannot tell which process serves the pipe
// (XP), exit goes to whichever instance answers. Prints nothing.
void StopSessionServer(DWORD seconds, const StopFolders& folders, StopReport* report);

// What an installer can act on: 0 no server of those folders runs any
// more, 1 still running, 3 another process answered, 4 another user's.
int StopExitCode(StopOutcome outcome);
