#include "console.h"

namespace {

const int LineSize = 1025;   // wvsprintfW writes at most 1024 units

void Write(DWORD which, const WCHAR* format, va_list arguments)
{
    WCHAR text[LineSize];
    int length = wvsprintfW(text, format, arguments);
    HANDLE out = GetStdHandle(which);
    DWORD mode;
    DWORD written;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text, static_cast<DWORD>(length), &written, NULL);
        return;
    }
    char bytes[LineSize * 2];
    int count = WideCharToMultiByte(CP_ACP, 0, text, length, bytes, sizeof(bytes), NULL, NULL);
    if (count > 0)
        WriteFile(out, bytes, static_cast<DWORD>(count), &written, NULL);
}

}  // namespace

void PrintArguments(const WCHAR* format, va_list arguments)
{
    Write(STD_OUTPUT_HANDLE, format, arguments);
}

void Print(const WCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Write(STD_OUTPUT_HANDLE, format, arguments);
    va_end(arguments);
}

void PrintError(const WCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Write(STD_ERROR_HANDLE, format, arguments);
    va_end(arguments);
}

void Append(WCHAR* buffer, int capacity, const WCHAR* text)
{
    int length = lstrlenW(buffer);
    if (length < capacity - 1)
        lstrcpynW(buffer + length, text, capacity - length);
}
