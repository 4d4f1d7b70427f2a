// The status-box program: finding and closing its windows, and starting it.
// Pipe server thread only.
#pragma once

#include <windows.h>

// title NULL: every window of the status-box class.
void CloseStatusWindows(const WCHAR* title);
bool StatusWindowExists(const WCHAR* title);
void LaunchStatusBox();
