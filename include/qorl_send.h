/*
 * qorl_send.h - send one status message to QorlServer.
 *
 * Drop this file into a Windows program, C (C89 or later) or C++; it needs
 * nothing but <windows.h>. Every function is static, so include it wherever
 * it is used.
 *
 *     QorlSendResult result = QorlSendMessage("paper_LabelPrinter1", 19, 10000);
 *     if (result != QORL_SEND_OK)
 *         log_it(QorlSendResultText(result));
 *
 * The message is 8-bit text in the system ANSI code page (a UTF-16 printer
 * name goes through WideCharToMultiByte(CP_ACP, ...)), at most 256 bytes.
 * One message per connection: the server reads the first write, handles it
 * and disconnects. It never replies, so QORL_SEND_OK says the bytes reached
 * the pipe, not that a status box appeared.
 *
 * On a failure GetLastError() gives the Windows error behind it, where
 * there is one.
 *
 * The pipe is opened for identification only (SECURITY_SQOS_PRESENT |
 * SECURITY_IDENTIFICATION): whatever holds the other end may learn who
 * sends, but cannot act as the sender (protocol.md, section 13).
 */
#ifndef QORL_SEND_H
#define QORL_SEND_H

#include <windows.h>

#define QORL_PIPE_NAME L"\\\\.\\pipe\\QorlPipe"
/* The server reads at most this much; a longer message is dropped whole. */
#define QORL_MESSAGE_MAX_BYTES 256

#if defined(__cplusplus)
#define QORL_SEND_API static inline
#elif defined(_MSC_VER) || defined(__GNUC__)
#define QORL_SEND_API static __inline
#else
#define QORL_SEND_API static
#endif

typedef enum QorlSendResult {
    QORL_SEND_OK = 0,         /* the whole message was written */
    QORL_SEND_NO_SERVER,      /* no pipe: no server is running */
    QORL_SEND_BUSY,           /* another client held the pipe until the deadline */
    QORL_SEND_ACCESS_DENIED,  /* the pipe belongs to another user's server */
    QORL_SEND_OPEN_FAILED,    /* the pipe did not open, for another reason */
    QORL_SEND_WRITE_FAILED,   /* opened, but the message was not written whole */
    QORL_SEND_TOO_LONG        /* over QORL_MESSAGE_MAX_BYTES: not sent */
} QorlSendResult;

/*
 * Opens the server's pipe for writing, waiting while another client holds
 * it, for at most deadlineMs in all. On QORL_SEND_OK *pipe is the open
 * handle, to be closed by the caller; otherwise INVALID_HANDLE_VALUE.
 */
QORL_SEND_API QorlSendResult QorlOpenPipe(DWORD deadlineMs, HANDLE *pipe)
{
    DWORD start = GetTickCount();
    DWORD error;
    DWORD elapsed;
    DWORD wait;

    for (;;) {
        /* Identification only: the server never acts as its sender, and a
           program that took the pipe's name first must not either. */
        *pipe = CreateFileW(QORL_PIPE_NAME, GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, NULL);
        if (*pipe != INVALID_HANDLE_VALUE)
            return QORL_SEND_OK;
        error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return QORL_SEND_NO_SERVER;
        if (error == ERROR_ACCESS_DENIED)
            return QORL_SEND_ACCESS_DENIED;
        if (error != ERROR_PIPE_BUSY)
            return QORL_SEND_OPEN_FAILED;

        elapsed = GetTickCount() - start;
        if (elapsed >= deadlineMs) {
            SetLastError(ERROR_PIPE_BUSY);
            return QORL_SEND_BUSY;
        }
        /* 0 and 0xFFFFFFFF mean "the pipe's default" and "forever". */
        wait = deadlineMs - elapsed;
        if (wait == NMPWAIT_WAIT_FOREVER)
            --wait;
        /* TRUE only says the instance was free a moment ago: another client
           may take it first, so the open above is tried again either way. */
        if (!WaitNamedPipeW(QORL_PIPE_NAME, wait) && GetLastError() == ERROR_FILE_NOT_FOUND)
            return QORL_SEND_NO_SERVER;
    }
}

/* Sends bytes[0..count) as one message, within deadlineMs. */
QORL_SEND_API QorlSendResult QorlSendMessage(const char *bytes, DWORD count, DWORD deadlineMs)
{
    HANDLE pipe;
    QorlSendResult result;
    DWORD written = 0;
    DWORD error;
    BOOL ok;

    if (count > QORL_MESSAGE_MAX_BYTES) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return QORL_SEND_TOO_LONG;
    }
    result = QorlOpenPipe(deadlineMs, &pipe);
    if (result != QORL_SEND_OK)
        return result;
    /* One write: the server takes the first one only. */
    ok = WriteFile(pipe, bytes, count, &written, NULL);
    error = ok ? ERROR_WRITE_FAULT : GetLastError();
    CloseHandle(pipe);
    if (!ok || written != count) {
        SetLastError(error);
        return QORL_SEND_WRITE_FAILED;
    }
    return QORL_SEND_OK;
}

QORL_SEND_API const char *QorlSendResultText(QorlSendResult result)
{
    switch (result) {
    case QORL_SEND_OK:
        return "sent";
    case QORL_SEND_NO_SERVER:
        return "no server is running (the pipe \\\\.\\pipe\\QorlPipe does not exist)";
    case QORL_SEND_BUSY:
        return "the pipe stayed busy with other clients until the deadline";
    case QORL_SEND_ACCESS_DENIED:
        return "access denied: the pipe belongs to a server of another user";
    case QORL_SEND_OPEN_FAILED:
        return "the pipe could not be opened";
    case QORL_SEND_WRITE_FAILED:
        return "the message could not be written whole";
    case QORL_SEND_TOO_LONG:
        return "the message is over 256 bytes; the server would drop it whole";
    }
    return "unknown result";
}

#endif /* QORL_SEND_H */
