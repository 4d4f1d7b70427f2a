// QorlSend --explain: what the server would do with a message, sending nothing.
#pragma once

#include <windows.h>

// bytes: the message as it would go on the pipe. 0 when the server would act
// on it, 1 when nothing would happen (and why is printed).
int ExplainMessage(const char* bytes, DWORD count);
