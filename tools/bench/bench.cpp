// QorlBench: what handling one message costs QorlServer.exe, against a pipe
// server that does nothing with it. Prints a Markdown table on stdout and
// its progress on stderr; scripts/bench builds and runs it.
//   QorlBench.exe            full run (3 s per row and as much floor, 5 s idle)
//   QorlBench.exe --short    a fraction of a second per row: does it still run
//   QorlBench.exe --floor-server | --floor-server-overlapped
//                 | --spooler-probe DIRECTORY MS
//                            the floors and a probe, started by the run itself
#include <windows.h>
#include <psapi.h>
#include <winspool.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "../../tests/e2e/harness.h"
#include "../../tests/spooler/spooler_standin.h"
#include "client_loop.h"
#include "floor_server.h"

namespace {

struct Settings {
    const char* name;
    int rounds;       // per row, each a floor block then a server block
    DWORD blockMs;
    DWORD warmUpMs;   // not counted: first calls load code and create files
    DWORD idleMs;
};
const Settings Full = {"full", 10, 300, 300, 5000};
const Settings Short = {"short", 2, 100, 50, 1000};

const WCHAR ServerPipeName[] = L"\\\\.\\pipe\\QorlPipe";
// Matches no row of the command table.
const char NoRowMessage[] = "bench_P";

struct Row {
    const char* label;
    const char* message;
    Sample server;
    Sample floor;   // measured in alternation with the server's blocks
};

struct Run {
    const Settings* settings;
    ServerProcess floor;
    ServerProcess overlappedFloor;
    ServerProcess server;
    std::wstring directory;
    std::vector<StandInPrinter> printers;   // the stand-in spooler's
    bool boxPresent;
    size_t boxMessages;   // reports sent while QorlBox.exe was present
};

void Progress(const char* text)
{
    fprintf(stderr, "bench: %s\n", text);
    fflush(stderr);
}

bool Fail(const char* text)
{
    fprintf(stderr, "bench: FAILED: %s\n", text);
    fflush(stderr);
    return false;
}

bool Running(const ServerProcess& process)
{
    return process.process != NULL && WaitForSingleObject(process.process, 0) == WAIT_TIMEOUT;
}

// A box still starting would take the processor from the next block: wait
// until every report sent so far has its box up (or give up after 5 s).
void WaitForBoxes(const Run& run)
{
    if (run.boxPresent)
        WaitForBoxEvents(run.directory, "start", run.boxMessages, 5000);
}

// Sends to pipe and counts the reports that will start a box.
bool TargetLoop(Run* run, const WCHAR* pipe, const char* message, DWORD durationMs,
                Sample* sample)
{
    size_t before = sample->messages;
    bool ok = RunClientLoop(pipe, message, durationMs, sample);
    if (run->boxPresent)
        run->boxMessages += sample->messages - before;
    return ok;
}

// The target's blocks (QorlServer.exe's pipe, or the overlapped floor's)
// alternate with blocks on the plain floor, so that the machine's drift
// (other work, frequency) falls on both alike. False if a send failed or a
// server ended.
bool MeasureRow(Run* run, const char* label, const WCHAR* pipe, const char* message,
                std::vector<Row>* rows)
{
    Progress(label);
    const Settings& settings = *run->settings;
    const WCHAR* floor = FloorPipeName(PlainFloor);
    Row row = {label, message, Sample(), Sample()};
    Sample floorWarmUp = Sample();
    Sample targetWarmUp = Sample();
    bool ok = RunClientLoop(floor, NoRowMessage, settings.warmUpMs, &floorWarmUp) &&
              TargetLoop(run, pipe, message, settings.warmUpMs, &targetWarmUp);
    for (int round = 0; ok && round < settings.rounds; ++round) {
        WaitForBoxes(*run);
        ok = RunClientLoop(floor, NoRowMessage, settings.blockMs, &row.floor) &&
             TargetLoop(run, pipe, message, settings.blockMs, &row.server);
    }
    if (!ok)
        return Fail("a message did not get through");
    if (!Running(run->server) || !Running(run->floor) || !Running(run->overlappedFloor))
        return Fail("a server ended during the row");
    rows->push_back(row);
    return true;
}

// GetProcAddress's result cast through the one function type the compiler
// does not warn of.
template <typename Function>
Function Export(HMODULE module, const char* name)
{
    typedef void (*AnyFunction)();
    return reinterpret_cast<Function>(reinterpret_cast<AnyFunction>(GetProcAddress(module, name)));
}

typedef const char*(__cdecl* WineVersionFunction)();

bool UnderWine()
{
    return Export<WineVersionFunction>(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != NULL;
}

std::string RegistryText(HKEY root, const wchar_t* key, const wchar_t* value)
{
    HKEY handle;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return std::string();
    wchar_t text[256] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD type = 0;
    LONG status = RegQueryValueExW(handle, value, NULL, &type, reinterpret_cast<BYTE*>(text),
                                   &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return std::string();
    std::string result = Utf8(text);
    size_t first = result.find_first_not_of(' ');
    size_t last = result.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : result.substr(first, last - first + 1);
}

std::string MachineDescription()
{
    std::string cpu = RegistryText(HKEY_LOCAL_MACHINE,
                                   L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                                   L"ProcessorNameString");
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char text[512];
    snprintf(text, sizeof(text), "%s, %lu logical CPUs", cpu.empty() ? "unknown CPU" : cpu.c_str(),
             static_cast<unsigned long>(system.dwNumberOfProcessors));
    std::string result = text;

    typedef void(__cdecl * HostFunction)(const char**, const char**);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    WineVersionFunction version = Export<WineVersionFunction>(ntdll, "wine_get_version");
    HostFunction host = Export<HostFunction>(ntdll, "wine_get_host_version");
    if (version == NULL)
        return result + ", Windows (not Wine)";
    result += ", Wine ";
    result += version();
    if (host != NULL) {
        const char* sysname = "";
        const char* release = "";
        host(&sysname, &release);
        result += std::string(" on ") + sysname + " " + release;
    }
    return result;
}

double FileTimeMs(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 10000.0;
}

// Kernel plus user time of the process so far, in ms; negative if unknown.
double CpuMs(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return -1;
    return FileTimeMs(kernel) + FileTimeMs(user);
}

struct Figures {
    double idleCpuMs;      // negative if unknown
    double totalCpuMs;
    SIZE_T peakWorkingSet;
    SIZE_T privateBytes;
    bool memoryKnown;
    size_t boxesStarted;
    size_t boxMessages;
    double standInPurgeUs;      // negative if unknown
    double missingBoxLookupUs;
    LONGLONG shippedSize;  // negative if the file is missing
};

double PerMessageUs(const Sample& sample)
{
    return sample.seconds * 1e6 / sample.messages;
}

void PrintTable(const Settings& settings, const std::vector<Row>& rows,
                const Figures& figures)
{
    Sample floor = Sample();
    for (size_t i = 0; i < rows.size(); ++i) {
        floor.messages += rows[i].floor.messages;
        floor.seconds += rows[i].floor.seconds;
        floor.latenciesUs.insert(floor.latenciesUs.end(), rows[i].floor.latenciesUs.begin(),
                                 rows[i].floor.latenciesUs.end());
    }

    printf("## QorlServer: the cost of a message against the bare pipe, on %s\n\n",
           MachineDescription().c_str());
    printf("Mode %s: per row, %d rounds of %.1f s of back-to-back clients on the floor, then "
           "%.1f s on the row's server, after %.2f s of warm-up on each. \"Floor alongside\" is "
           "the floor's time per message in that row's rounds; \"\xC3\x97 floor\" divides by it. "
           "Latency: open to written, as the client sees it. Figures vary from run to run, "
           "more so on a shared machine.\n\n",
           settings.name, settings.rounds, settings.blockMs / 1000.0, settings.blockMs / 1000.0,
           settings.warmUpMs / 1000.0);
    printf("| Row | Message | Messages | Messages/s | Per message (\xC2\xB5s) | p50 (\xC2\xB5s) "
           "| p99 (\xC2\xB5s) | Floor alongside (\xC2\xB5s) | \xC3\x97 floor |\n");
    printf("|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
    printf("| Floor: bare pipe server, all rounds | `%s` | %lu | %.0f | %.0f | %.0f | %.0f | "
           "| 1.00 |\n",
           NoRowMessage, static_cast<unsigned long>(floor.messages),
           floor.messages / floor.seconds, PerMessageUs(floor),
           Percentile(floor.latenciesUs, 0.50), Percentile(floor.latenciesUs, 0.99));
    for (size_t i = 0; i < rows.size(); ++i) {
        const Sample& r = rows[i].server;
        printf("| %s | `%s` | %lu | %.0f | %.0f | %.0f | %.0f | %.0f | %.2f |\n", rows[i].label,
               rows[i].message, static_cast<unsigned long>(r.messages), r.messages / r.seconds,
               PerMessageUs(r), Percentile(r.latenciesUs, 0.50), Percentile(r.latenciesUs, 0.99),
               PerMessageUs(rows[i].floor), PerMessageUs(r) / PerMessageUs(rows[i].floor));
    }

    printf("\n| Also measured | Value |\n|---|---:|\n");
    // Wine takes another process's times from Linux, in 10 ms ticks.
    const char* resolution = UnderWine() ? ", in 10 ms steps under Wine" : "";
    if (figures.idleCpuMs >= 0)
        printf("| QorlServer.exe: CPU time while idle for %.0f s, after the rows%s | %.0f ms |\n",
               settings.idleMs / 1000.0, resolution, figures.idleCpuMs);
    else
        printf("| QorlServer.exe: CPU time while idle for %.0f s, after the rows | unknown |\n",
               settings.idleMs / 1000.0);
    if (figures.totalCpuMs >= 0)
        printf("| QorlServer.exe: CPU time over the whole run | %.0f ms |\n", figures.totalCpuMs);
    if (figures.memoryKnown) {
        printf("| QorlServer.exe: peak working set | %lu KiB |\n",
               static_cast<unsigned long>(figures.peakWorkingSet / 1024));
        printf("| QorlServer.exe: private bytes after the run | %lu KiB |\n",
               static_cast<unsigned long>(figures.privateBytes / 1024));
    } else {
        printf("| QorlServer.exe: peak working set, private bytes | unknown |\n");
    }
    printf("| FindWindowExW for a box that is not showing, in the bench's process "
           "| %.0f \xC2\xB5s |\n",
           figures.missingBoxLookupUs);
    const char* purge = "| The stand-in spooler alone: devCancel's open, purge and close, in a "
                        "process of the bench's";
    if (figures.standInPurgeUs >= 0)
        printf("%s | %.0f \xC2\xB5s |\n", purge, figures.standInPurgeUs);
    else
        printf("%s | unknown |\n", purge);
    printf("| Stand-in boxes started in the last row, for its reports | %lu for %lu |\n",
           static_cast<unsigned long>(figures.boxesStarted),
           static_cast<unsigned long>(figures.boxMessages));
    if (figures.shippedSize >= 0)
        printf("| Shipped 32-bit QorlServer.exe (win32 build) | %lld bytes |\n",
               static_cast<long long>(figures.shippedSize));
    else
        printf("| Shipped 32-bit QorlServer.exe (win32 build) | not built |\n");
    fflush(stdout);
}

LONGLONG FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

const wchar_t* FloorArgument(FloorKind kind)
{
    return kind == PlainFloor ? L"--floor-server" : L"--floor-server-overlapped";
}

// A floor is this executable with its argument. Not started: not Running.
ServerProcess StartFloor(FloorKind kind)
{
    ServerProcess floor = StartServer(BuildDirectory(), FloorArgument(kind), L"QorlBench.exe",
                                      false);
    for (int i = 0; i < 500 && Running(floor); ++i) {
        // Busy counts: the pipe exists while a client is being served.
        if (WaitNamedPipeW(FloorPipeName(kind), 1) || GetLastError() == ERROR_SEM_TIMEOUT)
            break;
        Sleep(10);
    }
    return floor;
}

void StopFloor(ServerProcess* floor, FloorKind kind)
{
    if (floor->process == NULL)
        return;
    Sample unused = Sample();
    if (!RunClientLoop(FloorPipeName(kind), "exit", 0, &unused) ||
        WaitForSingleObject(floor->process, 5000) == WAIT_TIMEOUT) {
        TerminateProcess(floor->process, 1);
        WaitForSingleObject(floor->process, 5000);
    }
    CloseHandle(floor->process);
    floor->process = NULL;
}

// What "normal" asks of the window manager when no box shows: one lookup
// of the box's class and title, in microseconds.
double MissingBoxLookupUs(DWORD durationMs)
{
    size_t count = 0;
    const double start = NowSeconds();
    double last = start;
    do {
        FindWindowExW(NULL, NULL, L"ravonPT", L"P  V1.4");
        ++count;
        last = NowSeconds();
    } while (last - start < durationMs / 1000.0);
    return (last - start) * 1e6 / count;
}

typedef BOOL(WINAPI* OpenPrinterFunction)(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW);
typedef BOOL(WINAPI* SetPrinterFunction)(HANDLE, DWORD, LPBYTE, DWORD);
typedef BOOL(WINAPI* ClosePrinterFunction)(HANDLE);

// The stand-in spooler alone: devCancel's three calls in a process of this
// executable's own, which loads the stand-in as the server does. Runs for
// durationMs; the exit code is the microseconds per message, or
// ProbeFailed.
const DWORD ProbeFailed = 0xFFFFFFFF;

DWORD RunSpoolerProbe(const wchar_t* /*directory*/, DWORD durationMs)
{
    // From the system folder, as the server loads it; the stand-in is there
    // for this program, and keeps its printers beside this executable.
    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH - 16);
    if (length == 0 || length >= MAX_PATH - 16)
        return ProbeFailed;
    lstrcatW(path, L"\\winspool.drv");
    HMODULE spooler = LoadLibraryW(path);
    if (spooler == NULL)
        return ProbeFailed;
    OpenPrinterFunction open = Export<OpenPrinterFunction>(spooler, "OpenPrinterW");
    SetPrinterFunction set = Export<SetPrinterFunction>(spooler, "SetPrinterW");
    ClosePrinterFunction close = Export<ClosePrinterFunction>(spooler, "ClosePrinter");
    if (open == NULL || set == NULL || close == NULL)
        return ProbeFailed;
    WCHAR name[] = L"P";
    PRINTER_DEFAULTSW defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    size_t count = 0;
    const double start = NowSeconds();
    double last = start;
    do {
        HANDLE printer;
        // Only the stand-in knows P: Wine's own spooler would fail here.
        if (!open(name, &printer, &defaults))
            return ProbeFailed;
        set(printer, 0, NULL, PRINTER_CONTROL_PURGE);
        close(printer);
        ++count;
        last = NowSeconds();
    } while (last - start < durationMs / 1000.0);
    return static_cast<DWORD>((last - start) * 1e6 / count);
}

// Negative if the probe could not use the stand-in.
double StandInPurgeUs(const std::vector<StandInPrinter>& printers, DWORD durationMs)
{
    std::wstring directory = MakeScratchDirectory(L"bench-spooler");
    // Wine reads a program's load order when the program starts.
    if (!InstallSpoolerStandIn(directory, L"QorlBench.exe") ||
        !WriteStandInPrinters(directory, printers))
        return -1;
    // Without its last backslash, which would escape the closing quote.
    std::wstring arguments = L"--spooler-probe \"" + directory.substr(0, directory.size() - 1) +
                             L"\" " + std::to_wstring(durationMs);
    if (!CopyFileW((BuildDirectory() + L"QorlBench.exe").c_str(),
                   (directory + L"QorlBench.exe").c_str(), FALSE))
        return -1;
    ServerProcess probe = StartServer(directory, arguments, L"QorlBench.exe", false);
    if (probe.process == NULL)
        return -1;
    DWORD code = WaitForExit(probe, durationMs + 10000);
    if (code == STILL_ACTIVE)
        TerminateProcess(probe.process, ProbeFailed);
    CloseHandle(probe.process);
    return code == STILL_ACTIVE || code == ProbeFailed ? -1 : static_cast<double>(code);
}

// Every row on one server process, in an order that needs no restart: the
// box is looked for at every report, so copying it in changes the last row.
bool MeasureRows(Run* run, std::vector<Row>* rows, Figures* figures)
{
    if (!MeasureRow(run, "Floor, overlapped and read in bounded time as the server does",
                    FloorPipeName(OverlappedFloor), NoRowMessage, rows) ||
        !MeasureRow(run, "No row matches", ServerPipeName, NoRowMessage, rows) ||
        !MeasureRow(run, "normal, no box showing", ServerPipeName, "normal_P", rows))
        return false;
    figures->missingBoxLookupUs = MissingBoxLookupUs(run->settings->blockMs);
    if (!MeasureRow(run, "devCancel, stand-in spooler", ServerPipeName, "devCancel_P", rows))
        return false;
    size_t purges = CountSpoolerCalls(run->directory, "set", L"P");
    if (purges < rows->back().server.messages)
        return Fail("the stand-in spooler saw fewer purges than messages");
    Progress("the stand-in spooler alone");
    figures->standInPurgeUs = StandInPurgeUs(run->printers, run->settings->blockMs);
    if (!MeasureRow(run, "Report with printer, no QorlBox.exe", ServerPipeName, "paper_P",
                    rows))
        return false;
    if (ReadReport(run->directory, L"TYPE") != L"paper" ||
        ReadReport(run->directory, L"PRINTER") != L"P")
        return Fail("box.ini does not hold the report");

    // From here on each report closes the box before it, writes and starts one.
    if (!CopyFileW((BuildDirectory() + L"QorlBox.exe").c_str(),
                   (run->directory + L"QorlBox.exe").c_str(), FALSE))
        return Fail("QorlBox.exe could not be copied");
    run->boxPresent = true;
    if (!MeasureRow(run, "Report with printer, stand-in box", ServerPipeName, "paper_P", rows))
        return false;
    WaitForBoxes(*run);
    figures->boxMessages = run->boxMessages;
    figures->boxesStarted = CountBoxEvents(run->directory, "start");
    if (figures->boxesStarted == 0)
        return Fail("no stand-in box was started");
    return true;
}

void MeasureIdle(const Run& run, Figures* figures)
{
    Progress("idle");
    double before = CpuMs(run.server.process);
    Sleep(run.settings->idleMs);
    double after = CpuMs(run.server.process);
    figures->idleCpuMs = before >= 0 && after >= 0 ? after - before : -1;
    figures->totalCpuMs = after;

    PROCESS_MEMORY_COUNTERS_EX memory;
    ZeroMemory(&memory, sizeof(memory));
    figures->memoryKnown =
        GetProcessMemoryInfo(run.server.process,
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof(memory)) != FALSE;
    figures->peakWorkingSet = memory.PeakWorkingSetSize;
    // Wine leaves PrivateUsage 0 and fills PagefileUsage, which Windows
    // reports equal to it.
    figures->privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && lstrcmpW(argv[1], FloorArgument(PlainFloor)) == 0)
        return RunFloorServer(PlainFloor);
    if (argc == 2 && lstrcmpW(argv[1], FloorArgument(OverlappedFloor)) == 0)
        return RunFloorServer(OverlappedFloor);
    if (argc == 4 && lstrcmpW(argv[1], L"--spooler-probe") == 0)
        return static_cast<int>(RunSpoolerProbe(argv[2], wcstoul(argv[3], NULL, 10)));
    Run run = {&Full,
               ServerProcess(),
               ServerProcess(),
               ServerProcess(),
               std::wstring(),
               std::vector<StandInPrinter>(1, Printer(L"P", PRINTER_ATTRIBUTE_QUEUED, 3)),
               false,
               0};
    if (argc == 2 && lstrcmpW(argv[1], L"--short") == 0) {
        run.settings = &Short;
    } else if (argc != 1) {
        fprintf(stderr, "usage: QorlBench.exe [--short]\n");
        return 2;
    }

    run.floor = StartFloor(PlainFloor);
    run.overlappedFloor = StartFloor(OverlappedFloor);
    bool ok = (Running(run.floor) && Running(run.overlappedFloor)) ||
              Fail("a floor server did not start");
    run.directory = MakeProgramDirectory(L"bench", WithoutBox);
    ok = ok && ((InstallSpoolerStandIn(run.directory) &&
                 WriteStandInPrinters(run.directory, run.printers)) ||
                Fail("the stand-in spooler could not be installed"));
    if (ok)
        run.server = StartServer(run.directory);

    std::vector<Row> rows;
    Figures figures = {-1, -1, 0, 0, false, 0, 0, -1, -1, -1};
    ok = ok && (Running(run.server) || Fail("QorlServer.exe did not start"));
    ok = ok && MeasureRows(&run, &rows, &figures);
    if (ok)
        MeasureIdle(run, &figures);
    StopServer(&run.server);
    StopFloor(&run.floor, PlainFloor);
    StopFloor(&run.overlappedFloor, OverlappedFloor);
    UseSystemSpooler();
    if (!ok)
        return 1;
    figures.shippedSize = FileSize(BuildDirectory() + L"..\\..\\win32\\bin\\QorlServer.exe");
    PrintTable(*run.settings, rows, figures);
    return 0;
}
