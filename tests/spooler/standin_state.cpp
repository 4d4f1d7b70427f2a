#include "standin_state.h"

namespace {

const int MaxFields = 10;

void PathOf(const WCHAR* directory, const WCHAR* file, WCHAR* path)
{
    lstrcpynW(path, directory, MAX_PATH);
    int length = lstrlenW(path);
    lstrcpynW(path + length, file, MAX_PATH - length);
}

// The whole file, NUL-terminated, from the process heap; NULL if missing.
char* ReadWholeFile(const WCHAR* path, DWORD* size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    DWORD length = GetFileSize(file, NULL);
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 1));
    DWORD got = 0;
    if (text != NULL && !ReadFile(file, text, length, &got, NULL))
        got = 0;
    CloseHandle(file);
    if (text == NULL)
        return NULL;
    text[got] = 0;
    *size = got;
    return text;
}

// Splits the line at tabs in place; returns the number of fields.
int SplitFields(char* line, char** fields)
{
    int count = 0;
    fields[count++] = line;
    for (char* c = line; *c != 0 && count < MaxFields; ++c) {
        if (*c == '\t') {
            *c = 0;
            fields[count++] = c + 1;
        }
    }
    return count;
}

// Calls each(line) for every complete line of the text, in place.
template <typename Each>
void ForEachLine(char* text, Each each)
{
    char* line = text;
    for (char* c = text; *c != 0; ++c) {
        if (*c != '\n')
            continue;
        *c = 0;
        if (c > line && c[-1] == '\r')
            c[-1] = 0;
        char* fields[MaxFields];
        int count = SplitFields(line, fields);
        each(fields, count);
        line = c + 1;
    }
}

DWORD Number(const char* text)
{
    DWORD value = 0;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    for (; *text != 0; ++text) {
        int digit;
        if (*text >= '0' && *text <= '9')
            digit = *text - '0';
        else if (base == 16 && *text >= 'a' && *text <= 'f')
            digit = *text - 'a' + 10;
        else if (base == 16 && *text >= 'A' && *text <= 'F')
            digit = *text - 'A' + 10;
        else
            break;
        value = value * base + digit;
    }
    return value;
}

void Wide(const char* text, WCHAR* out)
{
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, out, StandInNameSize) == 0)
        out[0] = 0;
}

// A line being built in a fixed buffer.
struct Line {
    char text[2048];
    int length;
};

void Put(Line* line, const char* text)
{
    while (*text != 0 && line->length < static_cast<int>(sizeof(line->text)) - 1)
        line->text[line->length++] = *text++;
    line->text[line->length] = 0;
}

void PutWide(Line* line, const WCHAR* text)
{
    char utf8[StandInNameSize * 3];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), NULL, NULL) == 0)
        utf8[0] = 0;
    Put(line, utf8);
}

void PutNumber(Line* line, DWORD value, bool hex = false)
{
    char text[16];
    wsprintfA(text, hex ? "0x%lX" : "%lu", value);
    Put(line, text);
}

void Tab(Line* line)
{
    Put(line, "\t");
}

bool WriteText(HANDLE file, const char* text, int length)
{
    DWORD written = 0;
    return WriteFile(file, text, length, &written, NULL) && written == static_cast<DWORD>(length);
}

}  // namespace

HANDLE LockStandIn(const WCHAR* directory)
{
    // One mutex per directory: its path, with the characters a name may not
    // hold replaced.
    WCHAR name[MAX_PATH + 32] = L"QorlSpoolerStandIn_";
    int start = lstrlenW(name);
    int i = 0;
    for (; directory[i] != 0 && start + i < MAX_PATH + 31; ++i) {
        WCHAR c = directory[i];
        name[start + i] = (c == L'\\' || c == L'/' || c == L':') ? L'_' : c;
    }
    name[start + i] = 0;
    CharLowerW(name);
    HANDLE lock = CreateMutexW(NULL, FALSE, name);
    if (lock != NULL)
        WaitForSingleObject(lock, INFINITE);   // abandoned counts as taken
    return lock;
}

void UnlockStandIn(HANDLE lock)
{
    if (lock == NULL)
        return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}

void LoadStandInState(const WCHAR* directory, StandInState* state)
{
    ZeroMemory(state, sizeof(*state));
    state->nextHandle = 1;
    WCHAR path[MAX_PATH];
    PathOf(directory, StandInStateFile, path);
    DWORD size = 0;
    char* text = ReadWholeFile(path, &size);
    if (text == NULL)
        return;
    ForEachLine(text, [state](char** fields, int count) {
        if (lstrcmpA(fields[0], "next") == 0 && count >= 2) {
            state->nextHandle = Number(fields[1]);
        } else if (lstrcmpA(fields[0], "printer") == 0 && count >= 9 &&
                   state->printerCount < StandInMaxPrinters) {
            StandInPrinterRecord* printer = &state->printers[state->printerCount++];
            Wide(fields[1], printer->name);
            printer->attributes = Number(fields[2]);
            printer->jobs = Number(fields[3]);
            printer->needed = Number(fields[4]);
            printer->delayMs = Number(fields[5]);
            Wide(fields[6], printer->port);
            printer->deviceNotSelectedTimeout = Number(fields[7]);
            printer->transmissionRetryTimeout = Number(fields[8]);
            printer->denied = count >= 10 ? Number(fields[9]) : 0;
        } else if (lstrcmpA(fields[0], "handle") == 0 && count >= 4 &&
                   state->handleCount < StandInMaxHandles) {
            StandInHandleRecord* handle = &state->handles[state->handleCount++];
            handle->number = Number(fields[1]);
            Wide(fields[2], handle->printer);
            handle->access = Number(fields[3]);
        }
    });
    HeapFree(GetProcessHeap(), 0, text);
}

bool SaveStandInState(const WCHAR* directory, const StandInState* state)
{
    WCHAR path[MAX_PATH];
    PathOf(directory, StandInStateFile, path);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    Line line = {};
    Put(&line, "next\t");
    PutNumber(&line, state->nextHandle);
    Put(&line, "\n");
    ok = WriteText(file, line.text, line.length) && ok;
    for (int i = 0; i < state->printerCount; ++i) {
        const StandInPrinterRecord& printer = state->printers[i];
        line.length = 0;
        Put(&line, "printer\t");
        PutWide(&line, printer.name);
        Tab(&line);
        PutNumber(&line, printer.attributes, true);
        Tab(&line);
        PutNumber(&line, printer.jobs);
        Tab(&line);
        PutNumber(&line, printer.needed);
        Tab(&line);
        PutNumber(&line, printer.delayMs);
        Tab(&line);
        PutWide(&line, printer.port);
        Tab(&line);
        PutNumber(&line, printer.deviceNotSelectedTimeout);
        Tab(&line);
        PutNumber(&line, printer.transmissionRetryTimeout);
        Tab(&line);
        PutNumber(&line, printer.denied);
        Put(&line, "\n");
        ok = WriteText(file, line.text, line.length) && ok;
    }
    for (int i = 0; i < state->handleCount; ++i) {
        const StandInHandleRecord& handle = state->handles[i];
        line.length = 0;
        Put(&line, "handle\t");
        PutNumber(&line, handle.number);
        Tab(&line);
        PutWide(&line, handle.printer);
        Tab(&line);
        PutNumber(&line, handle.access, true);
        Put(&line, "\n");
        ok = WriteText(file, line.text, line.length) && ok;
    }
    CloseHandle(file);
    return ok;
}

bool AppendStandInCall(const WCHAR* directory, const StandInCallRecord* call)
{
    WCHAR path[MAX_PATH];
    PathOf(directory, StandInCallsFile, path);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    Line line = {};
    Put(&line, call->op);
    Tab(&line);
    PutNumber(&line, call->thread);
    Tab(&line);
    PutWide(&line, call->printer);
    Tab(&line);
    PutNumber(&line, call->handle);
    Tab(&line);
    PutNumber(&line, call->first, true);
    Tab(&line);
    PutNumber(&line, call->second);
    Tab(&line);
    PutNumber(&line, call->attributes, true);
    Tab(&line);
    PutNumber(&line, call->ok ? 1 : 0);
    Tab(&line);
    PutNumber(&line, call->error);
    Put(&line, "\n");
    bool ok = WriteText(file, line.text, line.length);
    CloseHandle(file);
    return ok;
}

void ReadStandInCalls(const WCHAR* directory,
                      void (*each)(const StandInCallRecord* call, void* context), void* context)
{
    WCHAR path[MAX_PATH];
    PathOf(directory, StandInCallsFile, path);
    DWORD size = 0;
    char* text = ReadWholeFile(path, &size);
    if (text == NULL)
        return;
    ForEachLine(text, [each, context](char** fields, int count) {
        if (count < 9)
            return;
        StandInCallRecord call;
        ZeroMemory(&call, sizeof(call));
        lstrcpynA(call.op, fields[0], sizeof(call.op));
        call.thread = Number(fields[1]);
        Wide(fields[2], call.printer);
        call.handle = Number(fields[3]);
        call.first = Number(fields[4]);
        call.second = Number(fields[5]);
        call.attributes = Number(fields[6]);
        call.ok = Number(fields[7]) != 0;
        call.error = Number(fields[8]);
        each(&call, context);
    });
    HeapFree(GetProcessHeap(), 0, text);
}

void ClearStandInCalls(const WCHAR* directory)
{
    WCHAR path[MAX_PATH];
    PathOf(directory, StandInCallsFile, path);
    DeleteFileW(path);
}

StandInPrinterRecord* FindStandInPrinterRecord(StandInState* state, const WCHAR* name)
{
    // The spooler's printer names are case-insensitive.
    for (int i = 0; i < state->printerCount; ++i) {
        if (lstrcmpiW(state->printers[i].name, name) == 0)
            return &state->printers[i];
    }
    return NULL;
}

int FindStandInHandle(const StandInState* state, DWORD number)
{
    for (int i = 0; i < state->handleCount; ++i) {
        if (state->handles[i].number == number)
            return i;
    }
    return -1;
}
