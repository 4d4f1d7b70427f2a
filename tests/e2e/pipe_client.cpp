#include "pipe_client.h"

#include "../../include/qorl_send.h"

SendResult SendPipeMessage(const char* bytes, DWORD count, DWORD* waitedMs)
{
    const DWORD GiveUpAfter = 30000;
    DWORD start = GetTickCount();
    HANDLE pipe;
    // The machine-wide pipe alone: the tables rely on its one instance, a
    // message on it handled before the next is taken.
    switch (QorlOpenPipeNamed(QORL_PIPE_NAME, GiveUpAfter, &pipe)) {
    case QORL_SEND_OK:
        break;
    case QORL_SEND_NO_SERVER:
        return NoServer;
    default:
        return PipeBusy;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(pipe, bytes, count, &written, NULL);
    CloseHandle(pipe);
    if (waitedMs != NULL)
        *waitedMs = GetTickCount() - start;
    return ok && written == count ? Sent : WriteFailed;
}
