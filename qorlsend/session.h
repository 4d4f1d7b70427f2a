// What QorlSend knows of the server of this Windows session.
#pragma once

#include <windows.h>

// The single-instance mutex is there (or there but not ours to open): a
// server runs in this session. It goes when the server's process has ended.
bool ServerMutexExists();

// The executable of the first QorlServer.exe process of this session, and
// its directory with the backslash (MAX_PATH units). False when none
// is found; *pid 0 then, or the process whose path could not be read.
bool FindServerProcess(DWORD* pid, WCHAR* directory);
