// The server never talks to the status box: it starts it after a report and
// ends it with WM_QUIT. A box that ignores the quit must not hang the server.
#include "status_box.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "../pipe/pipe_server.h"

namespace {

const WCHAR BoxClass[] = L"ravonPT";
const WCHAR BoxProgram[] = L"QorlBox.exe";
const DWORD ClosePause = 10;
const DWORD GiveUpAfter = 2000;     // a box still there this long after its first quit
const int MaxStuckWindows = 32;

// Windows given up on stay given up on, across calls: a box that ignores its
// quit would otherwise cost every later report of its printer another full
// wait, one more for each such box, until clients time out. Pipe thread only.
HWND GivenUp[MaxStuckWindows];
int GivenUpCount = 0;

void ForgetClosedWindows()
{
    int kept = 0;
    for (int i = 0; i < GivenUpCount; ++i) {
        if (IsWindow(GivenUp[i]))
            GivenUp[kept++] = GivenUp[i];
    }
    GivenUpCount = kept;
}

bool Listed(HWND window, const HWND* list, int count)
{
    for (int i = 0; i < count; ++i) {
        if (list[i] == window)
            return true;
    }
    return false;
}

// The first window of the title that has not been given up on.
HWND FindLiveWindow(const WCHAR* title, const HWND* stuck, int stuckCount)
{
    HWND window = NULL;
    do {
        window = FindWindowExW(NULL, window, BoxClass, title);
    } while (window != NULL && Listed(window, stuck, stuckCount));
    return window;
}

}  // namespace

void CloseStatusWindows(const WCHAR* title)
{
    ForgetClosedWindows();
    HWND closing = NULL;
    DWORD closingSince = 0;

    for (;;) {
        HWND window = FindLiveWindow(title, GivenUp, GivenUpCount);
        if (window == NULL)
            return;
        if (window != closing) {
            closing = window;
            closingSince = GetTickCount();
        } else if (GetTickCount() - closingSince >= GiveUpAfter) {
            // Leave it and go on with the others of that title.
            if (GivenUpCount == MaxStuckWindows)
                return;
            GivenUp[GivenUpCount++] = window;
            closing = NULL;
            continue;
        }
        PostMessageW(window, WM_QUIT, 0, 0);
        WaitForSingleObject(PauseEvent, ClosePause);
    }
}

bool StatusWindowExists(const WCHAR* title)
{
    return FindWindowW(BoxClass, title) != NULL;
}

void LaunchStatusBox()
{
    if (ProgramDirectory[0] == 0)
        return;   // the executable's path was unusable
    WCHAR path[PathSize];
    StrCpyW(path, ProgramDirectory);   // room checked when the directory was set
    StrCatW(path, BoxProgram);
    if (!PathFileExistsW(path))
        return;

    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    // Without FLAG_NO_UI the shell answers a file that vanished or does not
    // run with a modal dialog, and this thread would wait on it for good.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = BoxProgram;
    info.lpDirectory = ProgramDirectory;
    info.nShow = SW_SHOW;
    if (ShellExecuteExW(&info) && info.hProcess != NULL)
        CloseHandle(info.hProcess);
}
