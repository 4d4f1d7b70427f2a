// One status message from the pipe: its command word, its argument and the
// titles derived from them. Pure logic apart from the code-page conversion.
#pragma once

#include <windows.h>

const DWORD MessageBufferSize = 256;
const DWORD FieldSize = 100;        // command, argument and printer name
const DWORD TitleSize = 260;

struct StatusMessage {
    char command[FieldSize];
    char argument[FieldSize];
    WCHAR printerName[FieldSize];
    WCHAR statusTitle[TitleSize];
    // False when the command or the argument did not fit its field, or the
    // argument holds CR or LF: only "exit" may then act on the message.
    bool usable;
};

// bytes: the receive buffer; count: bytes the read delivered (at most
// MessageBufferSize). The text ends at the first NUL.
void ParseStatusMessage(const char* bytes, DWORD count, StatusMessage* message);

// title: TitleSize units. Chosen by the system ANSI code page.
void MakeDiscoveryTitle(WCHAR* title);
