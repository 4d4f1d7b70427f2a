// The pipe server thread: the machine-wide pipe and this session's own, one
// instance each, one client at a time, one message per connection.
#pragma once

#include <windows.h>

const DWORD PathSize = 260;

// Set once by the pipe server thread before it creates its pipes; read-only
// afterwards. Both are empty when the executable's path was cut or leaves no
// room for the file names beside it: nothing is then written or launched.
extern WCHAR ProgramDirectory[PathSize];
extern WCHAR ReportPath[PathSize];

// Never set: timed waits on it are the server's pauses. Pipe thread only.
extern HANDLE PauseEvent;

// modulePath holds `length` units as GetModuleFileNameW returned them into a
// PathSize buffer. Fills both paths, or leaves both empty.
void MakeProgramPaths(const WCHAR* modulePath, DWORD length,
                      WCHAR* programDirectory, WCHAR* reportPath);

DWORD WINAPI PipeServerThread(LPVOID);

// One connection of the serving loop, on an overlapped pipe; overlapped's
// event is manual-reset. Pending: the event is set once a client came, and
// FinishWaitForClient then says how it went.
enum ClientWait { Connected, Pending, RetryAfterPause };
ClientWait BeginWaitForClient(HANDLE pipe, OVERLAPPED* overlapped);
ClientWait FinishWaitForClient(HANDLE pipe, OVERLAPPED* overlapped);
// True with the message's bytes in buffer (MessageBufferSize bytes); false
// when the client left, sent more than the buffer holds, or stayed silent
// for timeoutMs.
bool ReadClientMessage(HANDLE pipe, HANDLE connection, char* buffer, DWORD* count,
                       DWORD timeoutMs);
