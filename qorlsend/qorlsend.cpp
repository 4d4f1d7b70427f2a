// QorlSend: the shipped client of the server, for the people who install
// and support it. Sends one message as the printer software does; stops the
// server of this session and waits for it; explains what a message would
// do; diagnoses the session, and what this user may do to a printer.
// Exit codes: 0 done, 1 not done, 2 bad input; --stop adds 3 and 4.
#include <windows.h>

#include "../include/qorl_send.h"
#include "check.h"
#include "console.h"
#include "explain.h"
#include "stop.h"
#include "strings.h"

namespace {

const DWORD SendDeadline = 10000;
const DWORD DefaultStopSeconds = 10;
const int MaxSecondsDigits = 5;
const DWORD MessageBytes = QORL_MESSAGE_MAX_BYTES + 1;

const WCHAR* ResultText(QorlSendResult result)
{
    switch (result) {
    case QORL_SEND_OK:
        return Text(IDS_RESULT_SENT);
    case QORL_SEND_NO_SERVER:
        return Text(IDS_RESULT_NO_SERVER);
    case QORL_SEND_BUSY:
        return Text(IDS_RESULT_BUSY);
    case QORL_SEND_ACCESS_DENIED:
        return Text(IDS_RESULT_ACCESS_DENIED);
    case QORL_SEND_OPEN_FAILED:
        return Text(IDS_RESULT_OPEN_FAILED);
    case QORL_SEND_WRITE_FAILED:
        return Text(IDS_RESULT_WRITE_FAILED);
    case QORL_SEND_TOO_LONG:
        return Text(IDS_RESULT_TOO_LONG);
    case QORL_SEND_NAME_TOO_LONG:
        return Text(IDS_RESULT_NAME_TOO_LONG);
    case QORL_SEND_UNMAPPABLE:
        return Text(IDS_RESULT_UNMAPPABLE);
    }
    return L"";
}

int BadUsage()
{
    PrintError(L"%s", Text(IDS_USAGE));
    return 2;
}

// The message as it goes on the pipe, by the header's rules: in the ANSI
// code page, every character or none. False (said why) when it does not
// encode; *result says whether it keeps the server's limits.
bool Encode(const WCHAR* text, char* bytes, DWORD* count, QorlSendResult* result)
{
    *result = QorlEncodeStatusW(text, NULL, bytes, MessageBytes, count);
    if (*result == QORL_SEND_UNMAPPABLE) {
        PrintError(Text(IDS_SEND_NOT_IN_CODE_PAGE), GetACP());
        return false;
    }
    return true;
}

int Send(const WCHAR* text)
{
    char bytes[MessageBytes];
    DWORD count;
    QorlSendResult result;
    if (!Encode(text, bytes, &count, &result))
        return 2;
    if (result == QORL_SEND_TOO_LONG) {
        PrintError(Text(IDS_SEND_TOO_LONG), count);
        return 2;
    }
    if (result == QORL_SEND_NAME_TOO_LONG) {
        PrintError(Text(IDS_SEND_NAME_TOO_LONG), QORL_NAME_MAX_BYTES);
        return 2;
    }
    result = QorlSendMessage(bytes, count, SendDeadline);
    if (result != QORL_SEND_OK) {
        PrintError(Text(IDS_SEND_FAILED), ResultText(result));
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

int Stop(DWORD seconds, const WCHAR* folder)
{
    StopFolders folders = {0, {NULL, NULL}};
    if (folder != NULL)
        folders.folder[folders.count++] = folder;
    StopReport report;
    StopSessionServer(seconds, folders, &report);
    if (report.sent != QORL_SEND_OK) {
        SetLastError(report.sendError);
        PrintError(Text(IDS_STOP_EXIT_NOT_SENT), ResultText(report.sent));
    }
    switch (report.outcome) {
    case StopNoServer:
        Print(Text(IDS_STOP_NO_SERVER));
        break;
    case StopEnded:
        Print(Text(IDS_STOP_ENDED), report.elapsedMs / 1000,
              report.elapsedMs % 1000 / 100);
        break;
    case StopOtherFolder:
        Print(Text(IDS_STOP_OTHER_FOLDER), report.pid, report.program, folder);
        break;
    case StopStillRunning:
        Print(Text(IDS_STOP_STILL_RUNNING), seconds);
        break;
    case StopOtherUser:
        if (report.pid != 0)
            Print(Text(IDS_STOP_OTHER_USER), report.pid);
        else
            Print(Text(IDS_STOP_MUTEX_OF_OTHER_USER));
        break;
    case StopOtherAnswered:
        Print(Text(IDS_STOP_OTHER_ANSWERED), QORL_PIPE_NAME, report.answeredPid,
              report.answeredProgram[0] != 0 ? report.answeredProgram : Text(IDS_NONE),
              report.answeredSession, report.pid);
        break;
    }
    return StopExitCode(report.outcome);
}

// Over a limit is explained, not refused: that is what --explain is for.
int Explain(const WCHAR* text)
{
    char bytes[MessageBytes];
    DWORD count;
    QorlSendResult result;
    if (!Encode(text, bytes, &count, &result))
        return 2;
    return ExplainMessage(bytes, count);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    ChooseLanguage();
    // Double-clicked: a console window of its own, which would close before
    // anyone read the usage. The check is what such a person wants.
    if (argc < 2 && ConsoleOfItsOwn()) {
        int code = CheckSession(NULL);
        Print(L"%s", Text(IDS_PRESS_A_KEY));
        WaitForKey();
        return code;
    }
    if (argc < 2)
        return BadUsage();
    const WCHAR* option = argv[1];
    if (lstrcmpW(option, L"--help") == 0 && argc == 2) {
        Print(L"%s", Text(IDS_USAGE));
        return 0;
    }
    if (lstrcmpW(option, L"--stop") == 0) {
        // --stop [SECONDS [FOLDER]]: a folder comes after the seconds, so
        // that a mistyped number is not taken for one.
        DWORD seconds = DefaultStopSeconds;
        if (argc > 4 || (argc > 2 && !ParseSeconds(argv[2], &seconds)) ||
            (argc == 4 && argv[3][0] == 0))
            return BadUsage();
        const WCHAR* folder = argc == 4 ? argv[3] : NULL;
        return Stop(seconds, folder);
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
