// The server's own parsing and command table decide; the actions handed to
// dispatch print what they would do instead of doing it. Only the look for
// a showing new-printer box is real, since what "newconnect" does hangs on
// it, and so is the open of a printer the spooler commands name, closed
// unchanged, since whether they do anything hangs on this user's rights.
#include "explain.h"

#include "../spooler/spooler.h"
#include "../status/command_table.h"
#include "console.h"
#include "printer.h"
#include "session.h"
#include "strings.h"

namespace {

const int StepSize = 1025;     // wsprintfW writes at most 1024 units
const int MaxSteps = 8;        // the longest row takes four
const int QuotedSize = 512;    // a 256-byte message, escaped

WCHAR Steps[MaxSteps][StepSize];
int StepCount = 0;
bool Acts = false;             // something would change, beyond a look
WCHAR SpoolerPrinter[FieldSize];   // the printer devCancel or addNewDev names
bool NamesPrinter = false;
bool QueueModeAsked = false;       // addNewDev: the worker would read the printer

void AddStep(const WCHAR* text)
{
    if (StepCount < MaxSteps)
        lstrcpynW(Steps[StepCount++], text, StepSize);
}

// "text" with control characters written as \r, \n, \t or \xNN.
void QuoteWide(const WCHAR* text, WCHAR* out, int capacity)
{
    out[0] = 0;
    Append(out, capacity, L"\"");
    for (; *text != 0; ++text) {
        WCHAR piece[8];
        if (*text == L'\r')
            lstrcpyW(piece, L"\\r");
        else if (*text == L'\n')
            lstrcpyW(piece, L"\\n");
        else if (*text == L'\t')
            lstrcpyW(piece, L"\\t");
        else if (*text < 0x20 || *text == 0x7F)
            wsprintfW(piece, L"\\x%02X", static_cast<unsigned>(*text));
        else {
            piece[0] = *text;
            piece[1] = 0;
        }
        Append(out, capacity, piece);
    }
    Append(out, capacity, L"\"");
}

// Bytes as the server reads them: in the thread's ANSI code page.
void QuoteBytes(const char* bytes, int count, WCHAR* out, int capacity)
{
    WCHAR text[QuotedSize];
    int units = count == 0 ? 0
                           : MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, count, text,
                                                 QuotedSize - 1);
    text[units] = 0;
    QuoteWide(text, out, capacity);
}

// A step naming one text, quoted: format holds one %s for it and may hold a
// second for detail.
void AddQuotedStep(const WCHAR* format, const WCHAR* text, const WCHAR* detail = L"")
{
    WCHAR quoted[QuotedSize];
    WCHAR step[StepSize];
    QuoteWide(text, quoted, QuotedSize);
    wsprintfW(step, format, quoted, detail);
    AddStep(step);
}

void ExplainClose(const WCHAR* title)
{
    Acts = true;
    if (title == NULL)
        AddStep(Text(IDS_EXPLAIN_CLOSE_ALL_BOXES));
    else
        AddQuotedStep(Text(IDS_EXPLAIN_CLOSE_BOXES_TITLED), title);
}

bool ExplainExists(const WCHAR* title)
{
    bool showing = FindWindowW(L"ravonPT", title) != NULL;
    AddQuotedStep(Text(IDS_EXPLAIN_FIND_BOX), title,
                  showing ? Text(IDS_EXPLAIN_BOX_SHOWS) : Text(IDS_EXPLAIN_NO_BOX_SHOWS));
    return showing;
}

void ExplainReport(const WCHAR* type, const WCHAR* printerName)
{
    Acts = true;
    WCHAR step[StepSize];
    if (printerName == NULL) {
        wsprintfW(step, Text(IDS_EXPLAIN_WRITE_TYPE_KEEP_PRINTER), type);
        AddStep(step);
        return;
    }
    wsprintfW(step, Text(IDS_EXPLAIN_WRITE_TYPE), type);
    AddStep(step);
    wsprintfW(step, Text(IDS_EXPLAIN_WRITE_PRINTER), printerName,
              printerName[0] == 0 ? Text(IDS_EXPLAIN_EMPTY_VALUE) : L"");
    AddStep(step);
}

void ExplainLaunch()
{
    Acts = true;
    AddStep(Text(IDS_EXPLAIN_START_BOX));
}

void NotePrinter(const WCHAR* printerName)
{
    lstrcpynW(SpoolerPrinter, printerName, ARRAYSIZE(SpoolerPrinter));
    NamesPrinter = true;
}

void ExplainPurge(const WCHAR* printerName)
{
    Acts = true;
    NotePrinter(printerName);
    AddQuotedStep(Text(IDS_EXPLAIN_PURGE_JOBS), printerName);
}

void ExplainQueueMode(const WCHAR* printerName)
{
    Acts = true;
    NotePrinter(printerName);
    QueueModeAsked = true;
    AddQuotedStep(Text(IDS_EXPLAIN_QUEUE_MODE),
                  printerName);
}

void ExplainStopWorker()
{
    Acts = true;
    AddStep(Text(IDS_EXPLAIN_STOP_WORKER));
}

bool IsStray(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The table word that command differs from only in letter case or by
// spaces, tabs, CR or LF around it; NULL if none.
const char* NearestWord(const char* command, bool* caseDiffers, bool* strayDiffers)
{
    int begin = 0;
    int end = lstrlenA(command);
    while (begin < end && IsStray(command[begin]))
        ++begin;
    while (end > begin && IsStray(command[end - 1]))
        --end;
    for (int row = 0; row < CommandTableSize; ++row) {
        const char* word = CommandTable[row].word;
        int i = 0;
        bool sameCase = true;
        for (; begin + i < end && word[i] != 0; ++i) {
            if (Lower(command[begin + i]) != Lower(word[i]))
                break;
            sameCase = sameCase && command[begin + i] == word[i];
        }
        if (begin + i == end && word[i] == 0) {
            *caseDiffers = !sameCase;
            *strayDiffers = end - begin != lstrlenA(command);
            return word;
        }
    }
    return NULL;
}

// Why a message the parser refused does nothing. The limits are the
// receive fields': 99 bytes and a zero.
const WCHAR* RefusalReason(const char* bytes, DWORD count)
{
    DWORD length = 0;
    while (length < count && bytes[length] != 0)
        ++length;
    DWORD split = 0;
    while (split < length && bytes[split] != '_')
        ++split;
    if (split >= FieldSize)
        return Text(IDS_EXPLAIN_COMMAND_TOO_LONG);
    if (split < length && length - split - 1 >= FieldSize)
        return Text(IDS_EXPLAIN_PRINTER_TOO_LONG);
    return Text(IDS_EXPLAIN_PRINTER_LINE_BREAK);
}

void PrintNothing(const StatusMessage& message, const char* bytes, DWORD count)
{
    if (!message.usable) {
        Print(Text(IDS_EXPLAIN_NOTHING_REFUSED), RefusalReason(bytes, count));
        return;
    }
    if (message.command[0] == 0) {
        Print(Text(IDS_EXPLAIN_NOTHING_EMPTY_COMMAND));
        return;
    }
    if (StepCount > 0) {
        // A word that only looked: "newconnect" with its box showing.
        Print(Text(IDS_EXPLAIN_NOTHING_NEW_PRINTER_BOX));
        return;
    }
    WCHAR quoted[QuotedSize];
    QuoteBytes(message.command, lstrlenA(message.command), quoted, QuotedSize);
    bool caseDiffers = false;
    bool strayDiffers = false;
    const char* nearest = NearestWord(message.command, &caseDiffers, &strayDiffers);
    if (nearest == NULL) {
        Print(Text(IDS_EXPLAIN_NOTHING_UNKNOWN_COMMAND), quoted);
        return;
    }
    WCHAR word[FieldSize];
    MultiByteToWideChar(CP_ACP, 0, nearest, -1, word, FieldSize);
    Print(Text(IDS_EXPLAIN_NOTHING_NEAR_COMMAND),
          quoted, word, caseDiffers ? Text(IDS_EXPLAIN_DIFFERS_IN_CASE) : L"",
          caseDiffers && strayDiffers ? Text(IDS_EXPLAIN_AND) : L"",
          strayDiffers ? Text(IDS_EXPLAIN_DIFFERS_BY_SPACE) : L"");
}

// Said of this user: the server's may differ.
void PrintPrinterRights()
{
    WCHAR quoted[QuotedSize];
    QuoteWide(SpoolerPrinter, quoted, QuotedSize);
    DWORD error;
    switch (ProbePrinterRights(SpoolerPrinter, &error)) {
    case PrinterManaged:
        Print(Text(IDS_EXPLAIN_PRINTER_ACCESS_GRANTED),
              quoted);
        return;
    case PrinterRefused:
        Print(Text(IDS_EXPLAIN_PRINTER_ACCESS_DENIED),
              quoted);
        return;
    case PrinterMissing:
        Print(Text(IDS_EXPLAIN_NO_PRINTER),
              quoted);
        return;
    case PrinterOpenFailed:
        Print(Text(IDS_EXPLAIN_PRINTER_OPEN_ERROR),
              quoted, error);
        return;
    }
}

// The worker reads a printer's settings into a buffer of fixed size and
// leaves alone one whose settings do not fit.
void PrintQueueModeRead()
{
    DWORD needed;
    DWORD error;
    if (ProbeQueueModeRead(SpoolerPrinter, &needed, &error) != QueueModeReadTooLarge)
        return;
    WCHAR quoted[QuotedSize];
    QuoteWide(SpoolerPrinter, quoted, QuotedSize);
    Print(Text(IDS_EXPLAIN_PRINTER_SETTINGS_TOO_LARGE),
          quoted, needed, PrinterInfoSize);
}

void PrintFields(const StatusMessage& message)
{
    WCHAR quoted[QuotedSize];
    QuoteBytes(message.command, lstrlenA(message.command), quoted, QuotedSize);
    Print(Text(IDS_EXPLAIN_COMMAND), quoted);
    QuoteBytes(message.argument, lstrlenA(message.argument), quoted, QuotedSize);
    Print(Text(IDS_EXPLAIN_ARGUMENT), quoted);

    WCHAR hex[FieldSize * 3 + 1] = L"";
    bool ascii = true;
    for (const char* byte = message.argument; *byte != 0; ++byte) {
        unsigned value = static_cast<unsigned char>(*byte);
        ascii = ascii && value < 0x80;
        WCHAR piece[4];
        wsprintfW(piece, hex[0] == 0 ? L"%02X" : L" %02X", value);
        Append(hex, ARRAYSIZE(hex), piece);
    }
    QuoteWide(message.printerName, quoted, QuotedSize);
    // The server decodes in the thread's code page, which the system's may not be.
    UINT names = NameCodePage();
    if (ascii)
        Print(Text(IDS_EXPLAIN_PRINTER), quoted);
    else if (names == GetACP())
        Print(Text(IDS_EXPLAIN_PRINTER_DECODED), quoted, names, hex);
    else
        Print(Text(IDS_EXPLAIN_PRINTER_DECODED_OTHER_CODE_PAGE),
              quoted, names, hex, GetACP());
    QuoteWide(message.statusTitle, quoted, QuotedSize);
    Print(Text(IDS_EXPLAIN_TITLE), quoted);
}

}  // namespace

int ExplainMessage(const char* bytes, DWORD count)
{
    if (count > MessageBufferSize) {
        Print(Text(IDS_EXPLAIN_MESSAGE_SIZE), count);
        Print(Text(IDS_EXPLAIN_NOTHING_TOO_LONG));
        return 1;
    }
    WCHAR quoted[QuotedSize];
    QuoteBytes(bytes, static_cast<int>(count), quoted, QuotedSize);
    Print(Text(IDS_EXPLAIN_MESSAGE), quoted, count);

    static char buffer[MessageBufferSize];
    CopyMemory(buffer, bytes, count);
    static StatusMessage message;
    ParseStatusMessage(buffer, count, &message);
    PrintFields(message);

    WCHAR discoveryTitle[TitleSize];
    MakeDiscoveryTitle(discoveryTitle);
    StatusActions actions;
    actions.CloseStatusWindows = ExplainClose;
    actions.StatusWindowExists = ExplainExists;
    actions.WriteStatusReport = ExplainReport;
    actions.LaunchStatusBox = ExplainLaunch;
    actions.PurgePrinterJobs = ExplainPurge;
    actions.RequestQueueMode = ExplainQueueMode;
    actions.StopQueueModeWorker = ExplainStopWorker;

    bool stops = DispatchStatusCommand(message, discoveryTitle, actions) == Stop;
    if (stops) {
        // The server's shutdown, in its order.
        actions.StopQueueModeWorker();
        actions.CloseStatusWindows(NULL);
        AddStep(Text(IDS_EXPLAIN_DISCONNECT_AND_END));
    }
    if (Acts)
        Print(stops ? Text(IDS_EXPLAIN_STEPS_TO_STOP)
                    : Text(IDS_EXPLAIN_STEPS));
    for (int i = 0; i < StepCount; ++i)
        Print(L"  %d. %s\n", i + 1, Steps[i]);
    if (NamesPrinter)
        PrintPrinterRights();
    if (QueueModeAsked)
        PrintQueueModeRead();
    if (Acts)
        return 0;
    PrintNothing(message, buffer, count);
    return 1;
}
