// The server's own parsing and command table decide; the actions handed to
// dispatch print what they would do instead of doing it. Only the look for
// a showing new-printer box is real, since what "newconnect" does hangs on
// it, and so is the open of a printer the spooler commands name, closed
// unchanged, since whether they do anything hangs on this user's rights.
#include "explain.h"

#include "../status/command_table.h"
#include "console.h"
#include "printer.h"

namespace {

const int StepSize = 1025;     // wsprintfW writes at most 1024 units
const int MaxSteps = 8;        // the longest row takes four
const int QuotedSize = 512;    // a 256-byte message, escaped

WCHAR Steps[MaxSteps][StepSize];
int StepCount = 0;
bool Acts = false;             // something would change, beyond a look
WCHAR SpoolerPrinter[FieldSize];   // the printer devCancel or addNewDev names
bool NamesPrinter = false;

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
        AddStep(L"close every status box, whatever its title");
    else
        AddQuotedStep(L"close every status box titled %s", title);
}

bool ExplainExists(const WCHAR* title)
{
    bool showing = FindWindowW(L"ravonPT", title) != NULL;
    AddQuotedStep(L"look for a status box titled %s: %s", title,
                  showing ? L"one shows now, so nothing more would happen" : L"none shows now");
    return showing;
}

void ExplainReport(const WCHAR* type, const WCHAR* printerName)
{
    Acts = true;
    WCHAR step[StepSize];
    if (printerName == NULL) {
        wsprintfW(step, L"write TYPE=%s to box.ini (PRINTER keeps its value)", type);
        AddStep(step);
        return;
    }
    wsprintfW(step, L"write TYPE=%s to box.ini", type);
    AddStep(step);
    wsprintfW(step, L"write PRINTER=%s to box.ini%s", printerName,
              printerName[0] == 0 ? L" (an empty value)" : L"");
    AddStep(step);
}

void ExplainLaunch()
{
    Acts = true;
    AddStep(L"start QorlBox.exe from the server's folder, if it is there");
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
    AddQuotedStep(L"purge every job queued on the printer %s", printerName);
}

void ExplainQueueMode(const WCHAR* printerName)
{
    Acts = true;
    NotePrinter(printerName);
    AddQuotedStep(L"hand the printer %s to the queue-mode worker, which turns spooled "
                  L"printing on and direct printing off",
                  printerName);
}

void ExplainStopWorker()
{
    Acts = true;
    AddStep(L"stop the queue-mode worker (an addNewDev still waiting is dropped)");
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
        return L"the command word is over 99 bytes";
    if (split < length && length - split - 1 >= FieldSize)
        return L"the printer name is over 99 bytes; a cut name could name another printer";
    return L"the printer name holds a line break (CR or LF)";
}

void PrintNothing(const StatusMessage& message, const char* bytes, DWORD count)
{
    if (!message.usable) {
        Print(L"nothing would happen: %s\n", RefusalReason(bytes, count));
        return;
    }
    if (message.command[0] == 0) {
        Print(L"nothing would happen: the command word is empty\n");
        return;
    }
    if (StepCount > 0) {
        // A word that only looked: "newconnect" with its box showing.
        Print(L"nothing would happen: a new-printer box shows already\n");
        return;
    }
    WCHAR quoted[QuotedSize];
    QuoteBytes(message.command, lstrlenA(message.command), quoted, QuotedSize);
    bool caseDiffers = false;
    bool strayDiffers = false;
    const char* nearest = NearestWord(message.command, &caseDiffers, &strayDiffers);
    if (nearest == NULL) {
        Print(L"nothing would happen: %s is no command word (protocol.md lists them)\n", quoted);
        return;
    }
    WCHAR word[FieldSize];
    MultiByteToWideChar(CP_ACP, 0, nearest, -1, word, FieldSize);
    Print(L"nothing would happen: %s is no command word; the nearest is \"%s\", which "
          L"differs %s%s%s (the words are exact and case-sensitive)\n",
          quoted, word, caseDiffers ? L"in letter case" : L"",
          caseDiffers && strayDiffers ? L" and " : L"",
          strayDiffers ? L"by a space, tab, CR or LF" : L"");
}

// Said of this user: the server's may differ.
void PrintPrinterRights()
{
    WCHAR quoted[QuotedSize];
    QuoteWide(SpoolerPrinter, quoted, QuotedSize);
    DWORD error;
    switch (ProbePrinterRights(SpoolerPrinter, &error)) {
    case PrinterManaged:
        Print(L"spooler:  this user may administer the printer %s: it opened with "
              L"PRINTER_ALL_ACCESS, as the server opens it, and was closed unchanged\n",
              quoted);
        return;
    case PrinterRefused:
        Print(L"spooler:  this user may not administer the printer %s (ERROR_ACCESS_DENIED): "
              L"a server running as this user would leave it unchanged; grant the printer's "
              L"Manage Printers permission\n",
              quoted);
        return;
    case PrinterMissing:
        Print(L"spooler:  there is no printer %s (ERROR_INVALID_PRINTER_NAME): the spooler "
              L"would be left unchanged; the name must be the spooler's exact name\n",
              quoted);
        return;
    case PrinterOpenFailed:
        Print(L"spooler:  the printer %s did not open for this user (error %lu): it would be "
              L"left unchanged\n",
              quoted, error);
        return;
    }
}

void PrintFields(const StatusMessage& message)
{
    WCHAR quoted[QuotedSize];
    QuoteBytes(message.command, lstrlenA(message.command), quoted, QuotedSize);
    Print(L"command:  %s\n", quoted);
    QuoteBytes(message.argument, lstrlenA(message.argument), quoted, QuotedSize);
    Print(L"argument: %s\n", quoted);

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
    if (ascii)
        Print(L"printer:  %s\n", quoted);
    else
        Print(L"printer:  %s, decoded in code page %u from the bytes %s\n", quoted, GetACP(),
              hex);
    QuoteWide(message.statusTitle, quoted, QuotedSize);
    Print(L"title:    %s\n", quoted);
}

}  // namespace

int ExplainMessage(const char* bytes, DWORD count)
{
    if (count > MessageBufferSize) {
        Print(L"message:  %lu bytes\n", count);
        Print(L"nothing would happen: the server reads at most 256 bytes and drops a longer "
              L"message whole\n");
        return 1;
    }
    WCHAR quoted[QuotedSize];
    QuoteBytes(bytes, static_cast<int>(count), quoted, QuotedSize);
    Print(L"message:  %s, %lu bytes\n", quoted, count);

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
        AddStep(L"disconnect, pause 1 second and end with exit code 0");
    }
    if (Acts)
        Print(stops ? L"the server would stop, in this order:\n"
                    : L"the server would, in this order:\n");
    for (int i = 0; i < StepCount; ++i)
        Print(L"  %d. %s\n", i + 1, Steps[i]);
    if (NamesPrinter)
        PrintPrinterRights();
    if (Acts)
        return 0;
    PrintNothing(message, buffer, count);
    return 1;
}
