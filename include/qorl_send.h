/*
 * qorl_send.h - send one status message to QorlServer.
 *
 * Drop this file into a Windows program, C (C89 or later) or C++; it needs
 * nothing but <windows.h>. Every function is static, so include it wherever
 * it is used.
 *
 *     QorlSendResult result = QorlSendStatusW(L"paper", printerName, 10000);
 *     if (result != QORL_SEND_OK)
 *         log_it(QorlSendResultText(result));
 *
 * The message is 8-bit text in the system ANSI code page, at most 256 bytes,
 * its command word and printer name at most 99 bytes each. QorlSendStatusW
 * encodes UTF-16 text so, refusing characters the code page lacks, and
 * sends nothing that breaks a rule; QorlSendMessage sends bytes as given.
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
/* The server's command and printer fields hold this much: a longer command
   matches nothing, and a longer name is refused, never cut. */
#define QORL_NAME_MAX_BYTES 99

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
    QORL_SEND_TOO_LONG,       /* over QORL_MESSAGE_MAX_BYTES: not sent */
    QORL_SEND_NAME_TOO_LONG,  /* command or printer over QORL_NAME_MAX_BYTES: not sent */
    QORL_SEND_UNMAPPABLE      /* a character the ANSI code page lacks: not sent */
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

/*
 * text, up to its zero, in the system ANSI code page, zero included, into
 * bytes[0..capacity); capacity 0 only counts. Returns the bytes without the
 * zero, or -1 when a character has no form there (GetLastError() is then
 * ERROR_NO_UNICODE_TRANSLATION) or the conversion fails.
 */
QORL_SEND_API int QorlAnsiFromW(const WCHAR *text, char *bytes, int capacity)
{
    BOOL usedDefault = FALSE;
    /* With UTF-8 as the ANSI code page (Windows 10 and 11 offer it) every
       character has a form, and the call refuses both the flag and the
       question: passing either fails it. */
    BOOL utf8 = GetACP() == CP_UTF8;
    int length = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, text, -1, bytes,
                                     capacity, NULL, utf8 ? NULL : &usedDefault);

    if (length == 0)
        return -1;
    /* Without the check a look-alike or '?' would go, naming another printer. */
    if (usedDefault) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return -1;
    }
    return length - 1;
}

/*
 * Encodes the message command_printer, or command alone when printer is
 * NULL, into bytes[0..capacity) with a zero after it, as QorlSendStatusW
 * sends it; *count is its length in bytes, without the zero. command may be
 * a whole message: the limits apply as the server splits the bytes, at the
 * first '_', so "paper_P" alone is command "paper" and printer "P", and a
 * text with no '_' is all command (at most QORL_NAME_MAX_BYTES). Results:
 *   QORL_SEND_OK             bytes hold the message
 *   QORL_SEND_UNMAPPABLE     a character has no form in the ANSI code page;
 *                            *count is 0
 *   QORL_SEND_TOO_LONG       over QORL_MESSAGE_MAX_BYTES (*count says how long),
 *                            or over capacity (ERROR_INSUFFICIENT_BUFFER): no
 *                            bytes; a capacity of QORL_MESSAGE_MAX_BYTES + 1
 *                            fits every message the server takes
 *   QORL_SEND_NAME_TOO_LONG  the command or the printer is over
 *                            QORL_NAME_MAX_BYTES; bytes hold the message all
 *                            the same, for a caller that wants to show it
 */
QORL_SEND_API QorlSendResult QorlEncodeStatusW(const WCHAR *command, const WCHAR *printer,
                                               char *bytes, DWORD capacity, DWORD *count)
{
    int commandBytes = QorlAnsiFromW(command, NULL, 0);
    int printerBytes = printer == NULL ? 0 : QorlAnsiFromW(printer, NULL, 0);
    DWORD total;
    DWORD split = 0;

    *count = 0;
    if (commandBytes < 0 || printerBytes < 0)
        return QORL_SEND_UNMAPPABLE;
    total = (DWORD)commandBytes + (printer == NULL ? 0 : 1 + (DWORD)printerBytes);
    *count = total;
    if (total > QORL_MESSAGE_MAX_BYTES || total >= capacity) {
        SetLastError(total > QORL_MESSAGE_MAX_BYTES ? ERROR_INVALID_PARAMETER
                                                    : ERROR_INSUFFICIENT_BUFFER);
        return QORL_SEND_TOO_LONG;
    }
    if (QorlAnsiFromW(command, bytes, commandBytes + 1) != commandBytes) {
        *count = 0;
        return QORL_SEND_UNMAPPABLE;
    }
    if (printer != NULL) {
        bytes[commandBytes] = '_';
        if (QorlAnsiFromW(printer, bytes + commandBytes + 1, printerBytes + 1) != printerBytes) {
            *count = 0;
            return QORL_SEND_UNMAPPABLE;
        }
    }
    /* A '_' inside the command splits there on the server, so the limits
       are checked on the bytes, as it reads them. */
    while (split < total && bytes[split] != '_')
        ++split;
    if (split > QORL_NAME_MAX_BYTES || (split < total && total - split - 1 > QORL_NAME_MAX_BYTES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return QORL_SEND_NAME_TOO_LONG;
    }
    return QORL_SEND_OK;
}

/*
 * Sends command_printer, or command alone when printer is NULL (see
 * QorlEncodeStatusW), within deadlineMs. Nothing is sent when the text does
 * not encode or a limit is broken.
 */
QORL_SEND_API QorlSendResult QorlSendStatusW(const WCHAR *command, const WCHAR *printer,
                                             DWORD deadlineMs)
{
    char bytes[QORL_MESSAGE_MAX_BYTES + 1];
    DWORD count;
    QorlSendResult result;

    result = QorlEncodeStatusW(command, printer, bytes, (DWORD)sizeof bytes, &count);
    if (result != QORL_SEND_OK)
        return result;
    return QorlSendMessage(bytes, count, deadlineMs);
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
    case QORL_SEND_NAME_TOO_LONG:
        return "the command word or the printer name is over 99 bytes; nothing was sent";
    case QORL_SEND_UNMAPPABLE:
        return "a character has no form in the ANSI code page; nothing was sent";
    }
    return "unknown result";
}

#endif /* QORL_SEND_H */
