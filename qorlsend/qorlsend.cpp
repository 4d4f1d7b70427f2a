// QorlSend: the shipped client of the server, for the people who install
// and support it. Sends one message as the printer software does; stops the
// server of this session and waits for it; explains what a message would
// do; diagnoses the session, and what this user may do to a printer.
// Exit codes: 0 done, 1 not done, 2 bad input.
#include <windows.h>

#include "../include/qorl_send.h"
#include "check.h"
#include "console.h"
#include "explain.h"
#include "session.h"

namespace {

const DWORD SendDeadline = 10000;
const DWORD DefaultStopSeconds = 10;
const DWORD StopPoll = 50;
const int MaxSecondsDigits = 5;
const int MessageBytes = 1024;   // room to say how far over the limit one is

const WCHAR Usage[] =
    L"usage: QorlSend MESSAGE            send one status message, e.g. paper_LabelPrinter1\n"
    L"       QorlSend --stop [SECONDS]   send exit and wait (10 s) until the server of this\n"
    L"                                   session has ended\n"
    L"       QorlSend --explain MESSAGE  say what the server would do with MESSAGE; sends "
    L"nothing\n"
    L"       QorlSend --check [PRINTER]  diagnose the server of this session, and what this\n"
    L"                                   user may do to PRINTER\n";

int BadUsage()
{
    PrintError(L"%s", Usage);
    return 2;
}

// The message as it goes on the pipe: in the ANSI code page, every
// character or none. False (said why) when it does not fit.
bool Encode(const WCHAR* text, char* bytes, DWORD* count)
{
    UINT codePage = GetACP();
    BOOL usedDefault = FALSE;
    // UTF-8 as the ANSI code page takes neither the flag nor the question.
    bool utf8 = codePage == CP_UTF8;
    int length = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, text, -1, bytes,
                                     MessageBytes, NULL, utf8 ? NULL : &usedDefault);
    if (length == 0) {
        PrintError(L"QorlSend: the message is over %d bytes; the server takes at most %d\n",
                   MessageBytes, QORL_MESSAGE_MAX_BYTES);
        return false;
    }
    if (usedDefault) {
        PrintError(L"QorlSend: the message does not fit the ANSI code page %u: a character "
                   L"has no form there; nothing was sent\n",
                   codePage);
        return false;
    }
    *count = static_cast<DWORD>(length - 1);
    return true;
}

int Send(const WCHAR* text)
{
    char bytes[MessageBytes];
    DWORD count;
    if (!Encode(text, bytes, &count))
        return 2;
    QorlSendResult result = QorlSendMessage(bytes, count, SendDeadline);
    if (result == QORL_SEND_TOO_LONG) {
        PrintError(L"QorlSend: the message is %lu bytes; the server would drop it whole (256 "
                   L"at most); nothing was sent\n",
                   count);
        return 2;
    }
    if (result != QORL_SEND_OK) {
        PrintError(L"QorlSend: %hs\n", QorlSendResultText(result));
        return 1;
    }
    return 0;
}

bool ParseSeconds(const WCHAR* text, DWORD* seconds)
{
    DWORD value = 0;
    int digits = 0;
    for (; *text != 0; ++text, ++digits) {
        if (*text < L'0' || *text > L'9' || digits == MaxSecondsDigits)
            return false;
        value = value * 10 + static_cast<DWORD>(*text - L'0');
    }
    *seconds = value;
    return digits > 0;
}

// The server has ended when its single-instance mutex no longer opens.
int Stop(DWORD seconds)
{
    if (!ServerMutexExists()) {
        Print(L"no server was running in this session\n");
        return 0;
    }
    DWORD start = GetTickCount();
    DWORD deadline = seconds * 1000;
    QorlSendResult result = QorlSendMessage("exit", 4, deadline > 0 ? deadline : 1);
    if (result != QORL_SEND_OK)
        PrintError(L"QorlSend: exit was not sent: %hs\n", QorlSendResultText(result));
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (!ServerMutexExists()) {
            Print(L"the server has ended (%lu.%lu s)\n", elapsed / 1000, elapsed % 1000 / 100);
            return 0;
        }
        if (elapsed >= deadline) {
            Print(L"the server is still running after %lu s\n", seconds);
            return 1;
        }
        Sleep(StopPoll);
    }
}

int Explain(const WCHAR* text)
{
    char bytes[MessageBytes];
    DWORD count;
    if (!Encode(text, bytes, &count))
        return 2;
    return ExplainMessage(bytes, count);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return BadUsage();
    const WCHAR* option = argv[1];
    if (lstrcmpW(option, L"--help") == 0 && argc == 2) {
        Print(L"%s", Usage);
        return 0;
    }
    if (lstrcmpW(option, L"--stop") == 0) {
        DWORD seconds = DefaultStopSeconds;
        if (argc > 3 || (argc == 3 && !ParseSeconds(argv[2], &seconds)))
            return BadUsage();
        return Stop(seconds);
    }
    if (lstrcmpW(option, L"--explain") == 0)
        return argc == 3 ? Explain(argv[2]) : BadUsage();
    if (lstrcmpW(option, L"--check") == 0)
        return argc <= 3 ? CheckSession(argc == 3 ? argv[2] : NULL) : BadUsage();
    // No command word starts with "--": such an argument is an option.
    if ((option[0] == L'-' && option[1] == L'-') || argc != 2)
        return BadUsage();
    return Send(option);
}
