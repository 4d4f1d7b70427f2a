// Output of QorlSend: wide text to the console, or in the ANSI code page
// when the output is redirected to a file or a pipe.
#pragma once

#include <windows.h>

#include <stdarg.h>

// wsprintfW formats; one call writes at most 1024 units.
void Print(const WCHAR* format, ...);
void PrintError(const WCHAR* format, ...);
void PrintArguments(const WCHAR* format, va_list arguments);

// The code page the output ends up in: the console's output code page
// (its font follows it), or the ANSI code page when redirected.
UINT OutputCodePage();

// Whether this process is alone in a console window a person sees and
// types into: started from Explorer, not from a prompt or hidden.
bool ConsoleOfItsOwn();

// Waits for a key press in the console.
void WaitForKey();

// Appends text to buffer (capacity units, always terminated); cut if full.
void Append(WCHAR* buffer, int capacity, const WCHAR* text);
