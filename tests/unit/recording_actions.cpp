#include "recording_actions.h"

const wchar_t* const None = L"(none)";

namespace {

std::vector<RecordedCall>* Log;
const wchar_t* ExistingTitle;

std::wstring Text(const WCHAR* value)
{
    return value == NULL ? std::wstring(None) : std::wstring(value);
}

void Record(const char* operation, const WCHAR* first = L"", const WCHAR* second = L"")
{
    Log->push_back(RecordedCall{operation, Text(first), Text(second)});
}

void Close(const WCHAR* title) { Record("CloseStatusWindows", title); }
bool Exists(const WCHAR* title)
{
    Record("StatusWindowExists", title);
    return ExistingTitle != NULL && Text(title) == ExistingTitle;
}
void Write(const WCHAR* type, const WCHAR* printer) { Record("WriteStatusReport", type, printer); }
void Launch() { Record("LaunchStatusBox"); }
void Purge(const WCHAR* printer) { Record("PurgePrinterJobs", printer); }
void Queue(const WCHAR* printer) { Record("RequestQueueMode", printer); }
void StopWorker() { Record("StopQueueModeWorker"); }

}  // namespace

StatusActions RecordingActions(std::vector<RecordedCall>* log, const wchar_t* existingTitle)
{
    Log = log;
    ExistingTitle = existingTitle;
    StatusActions actions = {Close, Exists, Write, Launch, Purge, Queue, StopWorker};
    return actions;
}
