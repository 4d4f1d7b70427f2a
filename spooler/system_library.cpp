// A DLL that is not one of Windows' KnownDLLs, loaded by its bare name, is
// looked for in the program's folder first. The server's folder is writable
// by design (box.ini is written there), so a DLL anyone put there would run
// in every user's server: such DLLs are loaded by full path instead.
#include "system_library.h"

HMODULE LoadSystemLibrary(const WCHAR* fileName)
{
    // A 32-bit program on 64-bit Windows is given its own system folder,
    // SysWOW64, here and at the load. Over the buffer, the length is the
    // size it would need.
    WCHAR path[MAX_PATH];
    int length = static_cast<int>(GetSystemDirectoryW(path, MAX_PATH));
    if (length == 0)
        return NULL;
    if (length + 1 + lstrlenW(fileName) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    path[length] = L'\\';
    lstrcpynW(path + length + 1, fileName, MAX_PATH - length - 1);
    // The altered search path (XP has it) looks for the DLL's own
    // dependencies from the system folder, not from the program's.
    return LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}
