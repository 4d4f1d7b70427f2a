// Where the report and the status box live: beside the executable.
#include "pipe_server.h"

#include <shlwapi.h>

namespace {

// The longest name that goes beside the executable. A directory that cannot
// take it is refused whole: a report under a cut path lands elsewhere.
// Its length only: a named array used in sizeof alone is never emitted.
const DWORD LongestFileNameLength = ARRAYSIZE(L"QorlBox.exe") - 1;

}  // namespace

void MakeProgramPaths(const WCHAR* modulePath, DWORD length,
                      WCHAR* programDirectory, WCHAR* reportPath)
{
    programDirectory[0] = 0;
    reportPath[0] = 0;
    // 0 is a failure; PathSize means the path was cut (XP leaves it
    // unterminated then, later systems report ERROR_INSUFFICIENT_BUFFER).
    if (length == 0 || length >= PathSize)
        return;

    DWORD directoryLength = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (modulePath[i] == L'\\')
            directoryLength = i + 1;
    }
    if (directoryLength == 0 || directoryLength + LongestFileNameLength >= PathSize)
        return;

    for (DWORD i = 0; i < directoryLength; ++i)
        programDirectory[i] = modulePath[i];
    programDirectory[directoryLength] = 0;
    StrCpyW(reportPath, programDirectory);
    StrCatW(reportPath, L"box.ini");
}
