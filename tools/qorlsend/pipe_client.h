// Writing one message to the server's pipe, as the printer software does.
#pragma once

#include <windows.h>

enum SendResult { Sent, NoServer, PipeBusy, WriteFailed };

// Waits for a busy pipe with the pipe's default time-out. waitedMs, if given,
// receives the time from the first attempt to the written message.
SendResult SendPipeMessage(const char* bytes, DWORD count, DWORD* waitedMs);

const char* SendResultText(SendResult result);
