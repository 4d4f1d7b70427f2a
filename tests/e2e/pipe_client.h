// The tests' client of the pipe, on the shipped sender header: like a
// sender, but it writes messages of any length, so that the server's limits
// can be tried.
#pragma once

#include <windows.h>

enum SendResult { Sent, NoServer, PipeBusy, WriteFailed };

// Waits up to 30 s for a busy pipe. waitedMs, if given, receives the time
// from the first attempt to the written message.
SendResult SendPipeMessage(const char* bytes, DWORD count, DWORD* waitedMs);
