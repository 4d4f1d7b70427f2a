// Stand-in status box for tests and the run command; not part of the server.
// Honours the server's contract: reads REPORT/TYPE and PRINTER from box.ini
// beside itself, shows them in a top-level "ravonPT" window titled for the
// printer (or the new-printer title for "newconnect"), and ends on WM_QUIT.
// It appends "start PID TYPE|PRINTER|TITLE" and "quit PID" lines to
// qorlbox.log beside itself. A file qorlbox.ignorequit beside it makes it
// ignore WM_QUIT, as a broken box would.
#include <windows.h>

#include "../../status/status_message.h"

namespace {

WCHAR Directory[MAX_PATH];

void MakePath(WCHAR* path, const WCHAR* name)
{
    lstrcpynW(path, Directory, MAX_PATH);
    lstrcatW(path, name);
}

void Log(const WCHAR* line)
{
    WCHAR path[MAX_PATH];
    MakePath(path, L"qorlbox.log");
    char text[2048];
    int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof(text) - 2, NULL, NULL);
    if (length <= 0)
        return;
    text[length - 1] = '\n';
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, text, static_cast<DWORD>(length), &written, NULL);
    CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    DWORD length = GetModuleFileNameW(NULL, Directory, MAX_PATH);
    while (length > 0 && Directory[length - 1] != L'\\')
        --length;
    Directory[length] = 0;

    WCHAR ini[MAX_PATH];
    MakePath(ini, L"box.ini");
    WCHAR type[128];
    WCHAR printer[128];
    GetPrivateProfileStringW(L"REPORT", L"TYPE", L"", type, 128, ini);
    GetPrivateProfileStringW(L"REPORT", L"PRINTER", L"", printer, 128, ini);

    WCHAR title[TitleSize];
    if (lstrcmpW(type, L"newconnect") == 0)
        MakeDiscoveryTitle(title);
    else
        wsprintfW(title, L"%s  V1.4", printer);

    // Logged before the window shows: whoever sees the window finds the line.
    WCHAR line[600];
    wsprintfW(line, L"start %lu %s|%s|%s", GetCurrentProcessId(), type, printer, title);
    Log(line);

    WNDCLASSW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"ravonPT";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"ravonPT", title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 320, 120, NULL, NULL, instance, NULL);
    WCHAR text[300];
    wsprintfW(text, L"%s\r\n%s", type, printer);
    CreateWindowW(L"STATIC", text, WS_CHILD | WS_VISIBLE, 8, 8, 300, 60, window, NULL,
                  instance, NULL);
    ShowWindow(window, show);

    WCHAR marker[MAX_PATH];
    MakePath(marker, L"qorlbox.ignorequit");
    bool ignoreQuit = GetFileAttributesW(marker) != INVALID_FILE_ATTRIBUTES;

    MSG message;
    for (;;) {
        BOOL got = GetMessageW(&message, NULL, 0, 0);
        if (got == -1)
            break;
        if (got == 0) {
            if (ignoreQuit)
                continue;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    wsprintfW(line, L"quit %lu", GetCurrentProcessId());
    Log(line);
    return 0;
}
