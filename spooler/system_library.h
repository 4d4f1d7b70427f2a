// Loading one of Windows' own DLLs by its full path in the system folder,
// for the server and QorlSend alike.
#pragma once

#include <windows.h>

// fileName is a bare name such as L"winspool.drv". NULL, GetLastError()
// saying why, when it cannot be loaded from there.
HMODULE LoadSystemLibrary(const WCHAR* fileName);
