// The client side of the pipe, shared by QorlSend, the tests and the benchmark.
#include "pipe_client.h"

namespace {

const WCHAR PipeName[] = L"\\\\.\\pipe\\QorlPipe";
// A wait that ends with the instance free, only for another client to take
// it first, is no reason to give up; waits that run out are, after a few.
const int TimedOutWaits = 3;
const DWORD GiveUpAfter = 30000;

}  // namespace

SendResult SendPipeMessage(const char* bytes, DWORD count, DWORD* waitedMs)
{
    DWORD start = GetTickCount();
    HANDLE pipe = INVALID_HANDLE_VALUE;
    SendResult result = PipeBusy;
    int timedOut = 0;
    while (timedOut <= TimedOutWaits && GetTickCount() - start < GiveUpAfter) {
        pipe = CreateFileW(PipeName, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (pipe != INVALID_HANDLE_VALUE)
            break;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            result = NoServer;
            break;
        }
        if (error != ERROR_PIPE_BUSY)
            break;
        // Another client holds the single instance: wait for it as the
        // printer software does, with the pipe's default time-out.
        if (!WaitNamedPipeW(PipeName, NMPWAIT_USE_DEFAULT_WAIT)) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) {
                result = NoServer;
                break;
            }
            ++timedOut;
        }
    }
    if (pipe == INVALID_HANDLE_VALUE)
        return result;

    DWORD written = 0;
    BOOL ok = WriteFile(pipe, bytes, count, &written, NULL);
    CloseHandle(pipe);
    if (waitedMs != NULL)
        *waitedMs = GetTickCount() - start;
    return ok && written == count ? Sent : WriteFailed;
}

const char* SendResultText(SendResult result)
{
    switch (result) {
    case Sent:
        return "sent";
    case NoServer:
        return "no server is listening on \\\\.\\pipe\\QorlPipe";
    case PipeBusy:
        return "the pipe stayed busy";
    case WriteFailed:
        return "the message could not be written";
    }
    return "unknown";
}
