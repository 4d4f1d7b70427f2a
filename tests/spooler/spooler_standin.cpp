#include "spooler_standin.h"

#include <memory>

#include "../e2e/harness.h"
#include "standin_state.h"

namespace {

// Wine's per-program load order. Set in the environment of a process the
// test starts, WINEDLLOVERRIDES has no effect; this key does. Native first,
// then builtin: the stand-in in the system folder for these programs, Wine's
// own spooler for every other. On Windows this is the order for any DLL that
// is no KnownDLL, so a winspool.drv beside a program would come first.
const wchar_t AppDefaults[] = L"Software\\Wine\\AppDefaults\\";
const wchar_t Overrides[] = L"\\DllOverrides";
const wchar_t NativeFirst[] = L"native,builtin";

std::vector<std::wstring> OverriddenPrograms;

// Where the programs load the DLL from: the system folder of its bitness,
// SysWOW64 for a 32-bit one. Empty if it is no DLL.
std::wstring SystemPathFor(const std::string& dll)
{
    DWORD header = dll.size() >= 0x40 ? *reinterpret_cast<const DWORD*>(&dll[0x3C]) : 0;
    if (header == 0 || dll.size() < header + 6)
        return std::wstring();
    WCHAR folder[MAX_PATH] = L"";
    if (*reinterpret_cast<const WORD*>(&dll[header + 4]) == IMAGE_FILE_MACHINE_I386 &&
        sizeof(void*) == 8)
        GetSystemWow64DirectoryW(folder, MAX_PATH);
    else
        GetSystemDirectoryW(folder, MAX_PATH);
    return folder[0] == 0 ? std::wstring() : folder + std::wstring(L"\\winspool.drv");
}

void Copy(const std::wstring& text, WCHAR* out)
{
    lstrcpynW(out, text.c_str(), StandInNameSize);
}

struct Locked {
    explicit Locked(const std::wstring& directory) : lock(LockStandIn(directory.c_str())) {}
    ~Locked() { UnlockStandIn(lock); }
    HANDLE lock;
};

StandInPrinter FromRecord(const StandInPrinterRecord& record)
{
    StandInPrinter printer;
    printer.name = record.name;
    printer.attributes = record.attributes;
    printer.jobs = record.jobs;
    printer.needed = record.needed;
    printer.delayMs = record.delayMs;
    printer.port = record.port;
    printer.deviceNotSelectedTimeout = record.deviceNotSelectedTimeout;
    printer.transmissionRetryTimeout = record.transmissionRetryTimeout;
    printer.denied = record.denied != 0;
    return printer;
}

void CollectCall(const StandInCallRecord* record, void* context)
{
    SpoolerCall call = {};
    call.op = record->op;
    call.thread = record->thread;
    call.printer = record->printer;
    call.handle = record->handle;
    if (call.op == "open") {
        call.access = record->first;
    } else {
        call.level = record->first;
        if (call.op == "get")
            call.size = record->second;
        else
            call.command = record->second;
    }
    call.attributes = record->attributes;
    call.ok = record->ok != FALSE;
    call.error = record->error;
    static_cast<std::vector<SpoolerCall>*>(context)->push_back(call);
}

}  // namespace

StandInPrinter Printer(const std::wstring& name, DWORD attributes, DWORD jobs)
{
    StandInPrinter printer;
    printer.name = name;
    printer.attributes = attributes;
    printer.jobs = jobs;
    return printer;
}

bool InstallSpoolerStandIn(const std::wstring& directory, const std::wstring& serverName)
{
    std::wstring source = FileFromEnvironment(L"QORL_STANDIN", L"standin\\winspool.drv");
    std::string bytes = ReadFileBytes(source);
    std::wstring target = SystemPathFor(bytes);
    // Left there: a program still running may hold it, and it only acts for
    // the programs given the key below.
    if (target.empty() || (ReadFileBytes(target) != bytes &&
                           !CopyFileW(source.c_str(), target.c_str(), FALSE)))
        return false;
    {
        Locked lock(directory);
        std::unique_ptr<StandInState> state(new StandInState());
        state->nextHandle = 1;
        if (!SaveStandInState(directory.c_str(), state.get()))
            return false;
        ClearStandInCalls(directory.c_str());
    }

    std::wstring key = AppDefaults + serverName + Overrides;
    HKEY overrides;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL,
                        &overrides, NULL) != ERROR_SUCCESS)
        return false;
    LONG set = RegSetValueExW(overrides, L"winspool.drv", 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(NativeFirst), sizeof(NativeFirst));
    RegCloseKey(overrides);
    OverriddenPrograms.push_back(serverName);
    return set == ERROR_SUCCESS;
}

void UseSystemSpooler()
{
    for (const std::wstring& program : OverriddenPrograms) {
        std::wstring key = AppDefaults + program + Overrides;
        RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
        key = AppDefaults + program;
        RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    }
    OverriddenPrograms.clear();
}

bool WriteStandInPrinters(const std::wstring& directory,
                          const std::vector<StandInPrinter>& printers)
{
    if (printers.size() > static_cast<size_t>(StandInMaxPrinters))
        return false;
    Locked lock(directory);
    std::unique_ptr<StandInState> state(new StandInState());
    LoadStandInState(directory.c_str(), state.get());
    state->printerCount = 0;
    for (const StandInPrinter& printer : printers) {
        StandInPrinterRecord& record = state->printers[state->printerCount++];
        Copy(printer.name, record.name);
        record.attributes = printer.attributes;
        record.jobs = printer.jobs;
        record.needed = printer.needed;
        record.delayMs = printer.delayMs;
        Copy(printer.port, record.port);
        record.deviceNotSelectedTimeout = printer.deviceNotSelectedTimeout;
        record.transmissionRetryTimeout = printer.transmissionRetryTimeout;
        record.denied = printer.denied ? 1 : 0;
    }
    return SaveStandInState(directory.c_str(), state.get());
}

std::vector<StandInPrinter> ReadStandInPrinters(const std::wstring& directory)
{
    std::unique_ptr<StandInState> state(new StandInState());
    {
        Locked lock(directory);
        LoadStandInState(directory.c_str(), state.get());
    }
    std::vector<StandInPrinter> printers;
    for (int i = 0; i < state->printerCount; ++i)
        printers.push_back(FromRecord(state->printers[i]));
    return printers;
}

StandInPrinter ReadStandInPrinter(const std::wstring& directory, const std::wstring& name)
{
    for (const StandInPrinter& printer : ReadStandInPrinters(directory)) {
        if (printer.name == name)
            return printer;
    }
    StandInPrinter absent;
    absent.name = name;
    absent.present = false;
    return absent;
}

std::vector<SpoolerCall> ReadSpoolerCalls(const std::wstring& directory)
{
    std::vector<SpoolerCall> calls;
    Locked lock(directory);
    ReadStandInCalls(directory.c_str(), CollectCall, &calls);
    return calls;
}

void ClearSpoolerCalls(const std::wstring& directory)
{
    Locked lock(directory);
    ClearStandInCalls(directory.c_str());
}

std::vector<DWORD> OpenStandInHandles(const std::wstring& directory)
{
    std::unique_ptr<StandInState> state(new StandInState());
    {
        Locked lock(directory);
        LoadStandInState(directory.c_str(), state.get());
    }
    std::vector<DWORD> handles;
    for (int i = 0; i < state->handleCount; ++i)
        handles.push_back(state->handles[i].number);
    return handles;
}

size_t CountSpoolerCalls(const std::wstring& directory, const std::string& op,
                         const std::wstring& printer)
{
    size_t count = 0;
    for (const SpoolerCall& call : ReadSpoolerCalls(directory))
        count += (op.empty() || call.op == op) && (printer.empty() || call.printer == printer);
    return count;
}

bool WaitForSpoolerCalls(const std::wstring& directory, const std::string& op,
                         const std::wstring& printer, size_t count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (CountSpoolerCalls(directory, op, printer) < count) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}
