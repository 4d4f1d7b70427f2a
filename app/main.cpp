// Process entry: one server per Windows session, two service threads, and
// an exit when the pipe server ends. No window is ever created.
#include <windows.h>

#include "../pipe/pipe_server.h"
#include "../spooler/spooler.h"
#include "resource.h"

namespace {

const WCHAR MutexName[] = L"RX70_SER_MUTEX";
const SIZE_T ThreadStackCommit = 4096;   // the reservation stays the executable's 1 MiB
const int ResourceTextSize = 100;

// Never reached: no window of the class exists.
LRESULT CALLBACK ServerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterServerClass(HINSTANCE instance, const WCHAR* className)
{
    WNDCLASSEXW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ServerWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SERVER));
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    // NOLINTNEXTLINE(performance-no-int-to-ptr): Win32 names a system colour's brush by its index + 1
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDC_SERVER);
    windowClass.lpszClassName = className;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    RegisterClassExW(&windowClass);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Session-local: the name has no namespace prefix. Held until exit.
    HANDLE mutex = CreateMutexW(NULL, FALSE, MutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return 0;
    }

    // Before the two threads, which both use it; and before anything could
    // load winspool.drv by name, which then finds this one, loaded by path.
    // Unbound, the spooler commands do nothing.
    BindSpooler();

    static WCHAR appTitle[ResourceTextSize];
    static WCHAR className[ResourceTextSize];
    LoadStringW(instance, IDS_APP_TITLE, appTitle, ResourceTextSize);
    LoadStringW(instance, IDC_SERVER, className, ResourceTextSize);
    RegisterServerClass(instance, className);

    HANDLE pipeThread = CreateThread(NULL, ThreadStackCommit, PipeServerThread, NULL, 0, NULL);
    CreateThread(NULL, ThreadStackCommit, QueueModeWorker, NULL, 0, NULL);

    // Returns at once if the pipe thread could not be started. Returning
    // ends the process, and with it the worker wherever it is.
    WaitForSingleObject(pipeThread, INFINITE);
    return 0;
}
