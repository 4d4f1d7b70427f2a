// Host-only stand-in for <windows.h>: just the types and calls that message
// parsing and the command table use, so that they build unchanged with clang
// and the sanitizers. Not the Windows ABI: WCHAR is the host's wchar_t.
#pragma once

#include <string.h>

#define WINAPI
#define CP_THREAD_ACP 3

typedef unsigned int DWORD;
typedef unsigned int UINT;
typedef int BOOL;
typedef wchar_t WCHAR;
typedef const char* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

#define ZeroMemory(destination, length) memset((destination), 0, (length))

// The ANSI code page that GetACP and CP_THREAD_ACP stand for: 1252 (one unit
// per byte) or 936 (a lead byte 0x81-0xFE and its trail byte give one unit).
extern UINT ShimCodePage;

UINT GetACP();
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int byteCount, LPWSTR units,
                        int unitCount);
// Only %s (wide strings) and %%, as the real one limited to 1024 units.
int wsprintfW(LPWSTR output, LPCWSTR format, ...);
LPWSTR lstrcpynW(LPWSTR destination, LPCWSTR source, int unitCount);
