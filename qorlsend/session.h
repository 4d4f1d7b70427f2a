// What QorlSend knows of the server of this Windows session.
#pragma once

#include <windows.h>

const WCHAR ServerProgram[] = L"QorlServer.exe";

// A function of a loaded system DLL, looked up rather than imported so that
// the imports stay what XP is documented to have; NULL where it is missing.
template <typename Function>
Function LookUpFunction(HMODULE module, const char* name)
{
    return module == NULL ? NULL
                          : reinterpret_cast<Function>(
                                reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The single-instance mutex of this session's server. It goes when the
// server's process has ended. One that is there but will not open for this
// user belongs to a server another user runs in this session (Run as).
enum MutexState {
    MutexAbsent,
    MutexOpened,
    MutexDenied
};
MutexState ServerMutexState();
// There, whoever's it is: a server runs in this session.
bool ServerMutexExists();

// The QorlServer.exe process of this session, one of this user's where
// there is one, and its executable's directory with the backslash
// (MAX_PATH units); *count (unless NULL): how many processes of that name
// run in this session; *thisUser (unless NULL): whether the one found runs
// as this user. False when none is found; *pid 0 then, or the process
// whose path could not be read.
bool FindServerProcess(DWORD* pid, WCHAR* directory, int* count = NULL, bool* thisUser = NULL);

// Whether a process runs as the user this one runs as. A process this user
// may not open is not this user's.
bool RunsAsThisUser(DWORD pid);

// The Windows session a process runs in. False when it cannot be told.
bool ProcessSession(DWORD pid, DWORD* session);

enum PipeOwner {
    PipeOwnerFound,    // *pid is the process at the server end
    PipeOwnerUntold,   // this Windows cannot tell (XP)
    PipeOwnerFailed    // it could not tell; GetLastError() says why
};
// The process holding the server end of a client's open pipe handle.
PipeOwner FindPipeOwner(HANDLE pipe, DWORD* pid);

// The executable file name of a running process (MAX_PATH units), and
// whether it runs in this session. False when there is no such process.
bool DescribeProcess(DWORD pid, WCHAR* program, bool* thisSession);
