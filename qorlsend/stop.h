// Stopping the server of this Windows session and waiting for it to end:
// QorlSend --stop and the installer package's stop action, one way.
#pragma once

#include <windows.h>

#include "../include/qorl_send.h"

enum StopOutcome {
    StopNoServer,       // none was running in this session
    StopEnded,          // it ended within the wait
    StopStillRunning    // it still runs at the deadline
};

struct StopReport {
    StopOutcome outcome;
    DWORD pid;                  // the server's process; 0 where none was found
    WCHAR program[MAX_PATH];    // its executable's full path; "" where unknown
    DWORD elapsedMs;            // from sending exit to the outcome
    QorlSendResult sent;        // how sending exit went
    DWORD sendError;            // GetLastError() after a failed send
};

// Sends exit to the server of this session and waits at most seconds for
// its single-instance mutex to go (at least one try when 0). Prints nothing.
void StopSessionServer(DWORD seconds, StopReport* report);
