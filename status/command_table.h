// The fixed table of command words and what each one makes the server do.
#pragma once

#include "status_actions.h"
#include "status_message.h"

enum CommandKind {
    StopServer,             // "exit"
    PurgeJobs,              // purge the printer's queue, nothing else
    CloseDiscoveryBox,      // close the new-printer box
    NewConnection,          // open the new-printer box unless it shows
    CloseOnly,              // close the printer's box, no report
    QueueModeThenReport,    // hand to the worker, then report with printer
    ReportWithPrinter,
    ReportTypeOnly,
};

struct CommandRow {
    const char* word;
    CommandKind kind;
};

extern const CommandRow CommandTable[];
extern const int CommandTableSize;

enum DispatchResult { Continue, Stop };

DispatchResult DispatchStatusCommand(const StatusMessage& message,
                                     const WCHAR* discoveryTitle,
                                     const StatusActions& actions);
