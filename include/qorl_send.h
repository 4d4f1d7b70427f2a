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
 *
 * The server of this Windows session is tried first, on its own pipe
 * \\.\pipe\QorlPipe.<session id>, and used only when the process serving
 * it runs as the sending user; else, and on Windows XP and 2003, which
 * cannot tell who serves a pipe, the machine-wide \\.\pipe\QorlPipe
 * (protocol.md, "The session pipe"). Link advapi32 (MinGW and Visual C++
 * do by default).
 */
#ifndef QORL_SEND_H
#define QORL_SEND_H

#include <windows.h>

#define QORL_PIPE_NAME L"\\\\.\\pipe\\QorlPipe"
/* The session pipe's name is this and the session id in decimal. */
#define QORL_SESSION_PIPE_PREFIX L"\\\\.\\pipe\\QorlPipe."
/* Room for either pipe's name, with its zero. */
#define QORL_PIPE_NAME_SIZE 32
/* The server reads at most this much; a longer message is dropped whole. */
#define QORL_MESSAGE_MAX_BYTES 256
/* The server's command and printer fields hold this much: a longer command
   matches nothing, and a longer name is refused, never cut. */
#define QORL_NAME_MAX_BYTES 99

#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif
#ifndef SECURITY_MAX_SID_SIZE
#define SECURITY_MAX_SID_SIZE 68
#endif
#ifndef WC_ERR_INVALID_CHARS
#define WC_ERR_INVALID_CHARS 0x00000080
#endif
#if defined(_MSC_VER)
#pragma comment(lib, "advapi32.lib")
#endif

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

/* Looked up, as XP lacks some and its documentation now gives Vista for
   others: the program still starts on XP. */
typedef BOOL(WINAPI *QorlSessionOfProcess)(DWORD, DWORD *);
typedef BOOL(WINAPI *QorlServerOfPipe)(HANDLE, PULONG);
typedef void (*QorlFunction)(void);

QORL_SEND_API QorlFunction QorlKernelFunction(const char *name)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    /* Through the one function type every other converts to without a warning. */
    return kernel == NULL ? NULL : (QorlFunction)GetProcAddress(kernel, name);
}

QORL_SEND_API void QorlCopyName(WCHAR *to, const WCHAR *from)
{
    while ((*to++ = *from++) != 0)
        continue;
}

/*
 * This session's pipe name, QORL_SESSION_PIPE_PREFIX and the session id in
 * decimal, into buffer[0..capacity) (QORL_PIPE_NAME_SIZE holds every one).
 * FALSE when the session cannot be told or the buffer is too small.
 */
QORL_SEND_API BOOL QorlSessionPipeName(WCHAR *buffer, DWORD capacity)
{
    QorlSessionOfProcess sessionOf =
        (QorlSessionOfProcess)QorlKernelFunction("ProcessIdToSessionId");
    const WCHAR *prefix = QORL_SESSION_PIPE_PREFIX;
    WCHAR digits[10];
    DWORD session;
    DWORD length = 0;
    DWORD count = 0;

    if (sessionOf == NULL || !sessionOf(GetCurrentProcessId(), &session))
        return FALSE;
    do {
        digits[count++] = (WCHAR)(L'0' + session % 10);
        session /= 10;
    } while (session != 0);
    while (prefix[length] != 0)
        ++length;
    if (capacity < length + count + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    for (length = 0; prefix[length] != 0; ++length)
        buffer[length] = prefix[length];
    while (count > 0)
        buffer[length++] = digits[--count];
    buffer[length] = 0;
    return TRUE;
}

/* The user of a process's token, into the buffer given. */
typedef union QorlTokenUser {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
} QorlTokenUser;

QORL_SEND_API BOOL QorlProcessUser(HANDLE process, QorlTokenUser *user)
{
    HANDLE token;
    DWORD size;
    BOOL ok;

    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return FALSE;
    ok = GetTokenInformation(token, TokenUser, &user->user, (DWORD)sizeof user->bytes, &size);
    CloseHandle(token);
    return ok;
}

/* TRUE when process pid runs as the calling process's user; FALSE when it
   runs as another, or cannot be asked. */
QORL_SEND_API BOOL QorlProcessRunsAsCaller(DWORD pid)
{
    QorlTokenUser theirs;
    QorlTokenUser ours;
    HANDLE process;
    BOOL ok;

    /* The limited right is Vista's, and enough there for a token's user,
       an elevated process's too; Windows that lack it refuse it, and take
       the full one. */
    process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == NULL)
        process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process == NULL)
        return FALSE;
    ok = QorlProcessUser(process, &theirs);
    CloseHandle(process);
    return ok && QorlProcessUser(GetCurrentProcess(), &ours) &&
           EqualSid(theirs.user.User.Sid, ours.user.User.Sid);
}

/*
 * 1 when the process serving the open pipe runs as the calling process's
 * user; 0 when it runs as another, or cannot be asked; -1 when this Windows
 * cannot tell who serves a pipe (XP, 2003: no GetNamedPipeServerProcessId).
 */
QORL_SEND_API int QorlPipeServedByCaller(HANDLE pipe)
{
    QorlServerOfPipe serverOf =
        (QorlServerOfPipe)QorlKernelFunction("GetNamedPipeServerProcessId");
    ULONG pid;

    if (serverOf == NULL)
        return -1;
    return serverOf(pipe, &pid) && QorlProcessRunsAsCaller(pid) ? 1 : 0;
}

/*
 * Opens the pipe named name for writing, waiting while another client holds
 * it, for at most deadlineMs in all. Whoever serves it is not asked. On
 * QORL_SEND_OK *pipe is the open handle, to be closed by the caller;
 * otherwise INVALID_HANDLE_VALUE.
 */
QORL_SEND_API QorlSendResult QorlOpenPipeNamed(const WCHAR *name, DWORD deadlineMs, HANDLE *pipe)
{
    DWORD start = GetTickCount();
    DWORD error;
    DWORD elapsed;
    DWORD wait;

    for (;;) {
        /* Identification only: the server never acts as its sender, and a
           program that took the pipe's name first must not either. */
        *pipe = CreateFileW(name, GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
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
        if (!WaitNamedPipeW(name, wait) && GetLastError() == ERROR_FILE_NOT_FOUND)
            return QORL_SEND_NO_SERVER;
    }
}

/*
 * Opens the server's pipe for writing, as QorlOpenPipeNamed does: this
 * session's pipe when its server runs as the calling user, else the
 * machine-wide one. A session pipe served by another user is closed with
 * nothing written; one that stays busy until the deadline gives
 * QORL_SEND_BUSY. usedName, unless NULL, receives the name of the pipe
 * opened, or last tried (QORL_PIPE_NAME_SIZE characters).
 */
QORL_SEND_API QorlSendResult QorlOpenServerPipe(DWORD deadlineMs, HANDLE *pipe, WCHAR *usedName)
{
    WCHAR name[QORL_PIPE_NAME_SIZE];
    DWORD start = GetTickCount();
    DWORD elapsed;
    QorlSendResult result;

    /* Where no one can say who serves it, the session pipe could be anyone's:
       XP and 2003 have one session a user, and the machine-wide pipe. */
    if (QorlKernelFunction("GetNamedPipeServerProcessId") != NULL &&
        QorlSessionPipeName(name, QORL_PIPE_NAME_SIZE)) {
        if (usedName != NULL)
            QorlCopyName(usedName, name);
        result = QorlOpenPipeNamed(name, deadlineMs, pipe);
        if (result == QORL_SEND_BUSY)
            return result;
        if (result == QORL_SEND_OK) {
            if (QorlPipeServedByCaller(*pipe) == 1)
                return result;
            CloseHandle(*pipe);
            *pipe = INVALID_HANDLE_VALUE;
        }
        /* None, or not this user's: a server older than the session pipe,
           or one that found its name taken, serves the machine-wide pipe. */
        elapsed = GetTickCount() - start;
        deadlineMs = elapsed >= deadlineMs ? 0 : deadlineMs - elapsed;
    }
    if (usedName != NULL)
        QorlCopyName(usedName, QORL_PIPE_NAME);
    return QorlOpenPipeNamed(QORL_PIPE_NAME, deadlineMs, pipe);
}

/* QorlOpenServerPipe, without the name. */
QORL_SEND_API QorlSendResult QorlOpenPipe(DWORD deadlineMs, HANDLE *pipe)
{
    return QorlOpenServerPipe(deadlineMs, pipe, NULL);
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

/* A high surrogate not followed by a low one, or a low one alone. */
QORL_SEND_API BOOL QorlHasLoneSurrogate(const WCHAR *text)
{
    for (; *text != 0; ++text) {
        if (*text >= 0xD800 && *text <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF)
            ++text;
        else if (*text >= 0xD800 && *text <= 0xDFFF)
            return TRUE;
    }
    return FALSE;
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
    int length;

    /* With UTF-8 as the ANSI code page (Windows 10 and 11 offer it) every
       character has a form but a lone surrogate, which would go as U+FFFD:
       the call refuses both the best-fit flag and the question, and takes
       WC_ERR_INVALID_CHARS instead, from Vista on. XP fails the call given
       it, so the text is checked here then. */
    if (GetACP() == CP_UTF8) {
        length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, bytes, capacity,
                                     NULL, NULL);
        if (length == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
            if (QorlHasLoneSurrogate(text)) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return -1;
            }
            length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, capacity, NULL, NULL);
        }
        return length - 1;
    }
    length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, bytes, capacity, NULL,
                                 &usedDefault);
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
