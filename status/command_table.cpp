// Command words are compared as exact, case-sensitive byte strings; the
// report type written is the same word in UTF-16.
#include "command_table.h"

const CommandRow CommandTable[] = {
    {"exit", StopServer},
    {"devCancel", PurgeJobs},
    {"closeNewDev", CloseDiscoveryBox},
    {"newconnect", NewConnection},
    {"newdisconnect", CloseDiscoveryBox},
    {"connect", ReportWithPrinter},
    {"usb", ReportWithPrinter},
    {"addNewDev", QueueModeThenReport},
    {"disconnect", ReportWithPrinter},
    {"stopByHuman", ReportWithPrinter},
    {"normal", CloseOnly},
    {"temper", ReportWithPrinter},
    {"cutter", ReportWithPrinter},
    {"carbon", ReportWithPrinter},
    {"busy", ReportWithPrinter},
    {"adapter", ReportWithPrinter},
    {"unlock", ReportWithPrinter},
    {"lockopened", ReportWithPrinter},
    {"labelmore", ReportWithPrinter},
    {"labelbox", ReportWithPrinter},
    {"labelunkown", ReportWithPrinter},
    {"paper", ReportWithPrinter},
    {"labelerr", ReportWithPrinter},
    {"rfiderr", ReportWithPrinter},
    {"rfidInvalid", ReportWithPrinter},
    {"rfidUnSupport", ReportWithPrinter},
    {"dpi", ReportWithPrinter},
    {"antifake", ReportTypeOnly},
    {"netbusy", ReportTypeOnly},
    {"socketSnErr", ReportTypeOnly},
    {"poweroff", ReportTypeOnly},
    {"height", ReportTypeOnly},
};

const int CommandTableSize = sizeof(CommandTable) / sizeof(CommandTable[0]);

namespace {

bool SameWord(const char* a, const char* b)
{
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

void Report(const StatusMessage& message, const WCHAR* type, bool withPrinter,
            const StatusActions& actions)
{
    actions.CloseStatusWindows(message.statusTitle);
    actions.WriteStatusReport(type, withPrinter ? message.printerName : NULL);
    actions.LaunchStatusBox();
}

void Perform(CommandKind kind, const StatusMessage& message, const WCHAR* type,
             const WCHAR* discoveryTitle, const StatusActions& actions)
{
    switch (kind) {
    case StopServer:
        break;
    case PurgeJobs:
        actions.PurgePrinterJobs(message.printerName);
        break;
    case CloseDiscoveryBox:
        actions.CloseStatusWindows(discoveryTitle);
        break;
    case NewConnection:
        if (!actions.StatusWindowExists(discoveryTitle)) {
            actions.WriteStatusReport(type, NULL);
            actions.LaunchStatusBox();
        }
        break;
    case CloseOnly:
        actions.CloseStatusWindows(message.statusTitle);
        break;
    case QueueModeThenReport:
        actions.RequestQueueMode(message.printerName);
        Report(message, type, true, actions);
        break;
    case ReportWithPrinter:
        Report(message, type, true, actions);
        break;
    case ReportTypeOnly:
        Report(message, type, false, actions);
        break;
    }
}

}  // namespace

DispatchResult DispatchStatusCommand(const StatusMessage& message,
                                     const WCHAR* discoveryTitle,
                                     const StatusActions& actions)
{
    // "exit" ends the server whatever its argument.
    if (SameWord(message.command, CommandTable[0].word))
        return Stop;
    if (!message.usable)
        return Continue;

    for (int row = 1; row < CommandTableSize; ++row) {
        const char* word = CommandTable[row].word;
        if (!SameWord(message.command, word))
            continue;
        WCHAR type[FieldSize];
        int i = 0;
        for (; word[i] != 0; ++i)
            type[i] = static_cast<WCHAR>(word[i]);  // the words are ASCII
        type[i] = 0;
        Perform(CommandTable[row].kind, message, type, discoveryTitle, actions);
    }
    return Continue;
}
