// A winspool.drv planted beside the programs, where Windows looks first for
// a DLL that is no KnownDLL: once loaded, it leaves a mark beside itself.
// The programs must never load it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    while (length > 0 && path[length - 1] != L'\\')
        --length;
    lstrcpynW(path + length, L"planted-winspool-loaded", MAX_PATH - length);
    CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    return TRUE;
}
