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
    // A file gets CRLF: Notepad before Windows 10 1809 shows bare LFs as one line.
    WCHAR lines[LineSize * 2];
    int units = 0;
    for (int i = 0; i < length; ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            lines[units++] = L'\r';
        lines[units++] = text[i];
    }
    char bytes[LineSize * 4];
    int count = WideCharToMultiByte(CP_ACP, 0, lines, units, bytes, sizeof(bytes), NULL, NULL);
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

UINT OutputCodePage()
{
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ? GetConsoleOutputCP()
                                                                   : GetACP();
}

bool ConsoleOfItsOwn()
{
    // Alone in a console is not enough: an installer's or a scheduled
    // task's CREATE_NO_WINDOW or hidden console is one too, with nobody
    // to press a key. A person sees the window and types into it.
    DWORD processes[2];
    DWORD mode;
    HWND window = GetConsoleWindow();
    return GetConsoleProcessList(processes, ARRAYSIZE(processes)) == 1 && window != NULL &&
           IsWindowVisible(window) && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

void WaitForKey()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    INPUT_RECORD record;
    DWORD read;
    while (ReadConsoleInputW(input, &record, 1, &read) && read == 1) {
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
            return;
    }
}

void Append(WCHAR* buffer, int capacity, const WCHAR* text)
{
    int length = lstrlenW(buffer);
    if (length < capacity - 1)
        lstrcpynW(buffer + length, text, capacity - length);
}
