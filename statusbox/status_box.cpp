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
const DWORD GiveUpAfter = 2000;     // one deadline for all the boxes of a closing call
const int MaxStuckWindows = 32;

// Windows given up on stay given up on, across calls: a box that ignores its
// quit would otherwise cost every later report of its printer another full
// wait. Pipe thread only.
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

bool GivenUpOn(HWND window)
{
    for (int i = 0; i < GivenUpCount; ++i) {
        if (GivenUp[i] == window)
            return true;
    }
    return false;
}

// The next window of the title after `after` (NULL: the first) that has not
// been given up on.
HWND NextLiveWindow(const WCHAR* title, HWND after)
{
    HWND window = after;
    do {
        window = FindWindowExW(NULL, window, BoxClass, title);
    } while (window != NULL && GivenUpOn(window));
    return window;
}

}  // namespace

// Every box of the title is sent its quit again each round until it is gone.
// They share one deadline, so however many boxes ignore their quit, a report
// or "exit" is held up by GiveUpAfter at most.
void CloseStatusWindows(const WCHAR* title)
{
    ForgetClosedWindows();
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = NextLiveWindow(title, NULL);
        if (window == NULL)
            return;
        if (GetTickCount() - start >= GiveUpAfter) {
            for (; window != NULL && GivenUpCount < MaxStuckWindows;
                 window = NextLiveWindow(title, window))
                GivenUp[GivenUpCount++] = window;
            return;
        }
        for (; window != NULL; window = NextLiveWindow(title, window))
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
