// The server's pipe parameters (one instance created, message mode,
// 4096-byte buffers, 3 s default time-out, 256-byte reads), and no work
// between the read and the disconnect.
#include "floor_server.h"

#include <string.h>

namespace {

const DWORD ReadTimeout = 3000;

// Blocking, or overlapped and waited for as the server does.
bool Connect(HANDLE pipe, HANDLE event)
{
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof(overlapped));
    overlapped.hEvent = event;
    if (ConnectNamedPipe(pipe, event != NULL ? &overlapped : NULL))
        return true;
    DWORD transferred;
    switch (GetLastError()) {
    case ERROR_IO_PENDING:
        return GetOverlappedResult(pipe, &overlapped, &transferred, TRUE) != FALSE;
    case ERROR_PIPE_CONNECTED:
        return true;
    case ERROR_NO_DATA:
        // The client came and went before the wait.
        DisconnectNamedPipe(pipe);
        return false;
    default:
        Sleep(10);   // never spin on a failure
        return false;
    }
}

bool Read(HANDLE pipe, HANDLE event, char* buffer, DWORD size, DWORD* count)
{
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof(overlapped));
    overlapped.hEvent = event;
    *count = 0;
    if (ReadFile(pipe, buffer, size, count, event != NULL ? &overlapped : NULL))
        return true;
    if (event == NULL || GetLastError() != ERROR_IO_PENDING)
        return false;
    if (WaitForSingleObject(event, ReadTimeout) == WAIT_TIMEOUT) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, count, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &overlapped, count, FALSE) != FALSE;
}

}  // namespace

const WCHAR* FloorPipeName(FloorKind kind)
{
    return kind == PlainFloor ? L"\\\\.\\pipe\\QorlBenchFloor"
                              : L"\\\\.\\pipe\\QorlBenchFloorOverlapped";
}

int RunFloorServer(FloorKind kind)
{
    const bool overlapped = kind == OverlappedFloor;
    HANDLE pipe = CreateNamedPipeW(FloorPipeName(kind),
                                   PIPE_ACCESS_DUPLEX | (overlapped ? FILE_FLAG_OVERLAPPED : 0),
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 4096, 4096, ReadTimeout, NULL);
    if (pipe == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE event = overlapped ? CreateEventW(NULL, TRUE, FALSE, NULL) : NULL;
    char buffer[256];
    for (;;) {
        if (!Connect(pipe, event))
            continue;
        DWORD count = 0;
        bool stop = Read(pipe, event, buffer, sizeof(buffer), &count) && count == 4 &&
                    memcmp(buffer, "exit", 4) == 0;
        FlushFileBuffers(pipe);
        DisconnectNamedPipe(pipe);
        if (stop)
            break;
    }
    CloseHandle(pipe);
    return 0;
}
