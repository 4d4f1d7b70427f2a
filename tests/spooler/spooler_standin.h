// The test side of the stand-in spooler: put it where a server loads the
// spooler from, give it printers, and read back what the server did to them
// and how it called.
//
//   std::wstring dir = MakeProgramDirectory(L"name", WithoutBox);
//   InstallSpoolerStandIn(dir);                  // before StartServer
//   WriteStandInPrinters(dir, {Printer(L"P", PRINTER_ATTRIBUTE_DIRECT, 4)});
//   ServerProcess server = StartServer(dir);
//   ... Send("devCancel_P"); Sync();
//   ReadStandInPrinter(dir, L"P").jobs == 0; ReadSpoolerCalls(dir) ...
//
// Every function is safe to call while a server uses the stand-in.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct StandInPrinter {
    std::wstring name;
    DWORD attributes = 0;
    DWORD jobs = 0;            // queued jobs; a purge sets 0
    DWORD needed = 0;          // bytes its level-5 information needs; 0: what it takes
    DWORD delayMs = 0;         // GetPrinterW returns this much later
    std::wstring port = L"QORL:";
    DWORD deviceNotSelectedTimeout = 15000;
    DWORD transmissionRetryTimeout = 45000;
    // Refuses any open for more than use (PRINTER_READ) with ERROR_ACCESS_DENIED,
    // as Windows refuses a user without the printer's Manage Printers right.
    bool denied = false;
    bool present = true;       // false: ReadStandInPrinter found no such printer
};

StandInPrinter Printer(const std::wstring& name, DWORD attributes, DWORD jobs = 0);

struct SpoolerCall {
    std::string op;        // "open", "get", "set" or "close"
    DWORD thread;          // the caller's thread id
    std::wstring printer;  // open: the name asked for; otherwise the handle's printer
    DWORD handle;          // 0 when an open failed
    DWORD access;          // open: the access asked for
    DWORD level;           // get, set
    DWORD size;            // get: the buffer size given
    DWORD command;         // set
    DWORD attributes;      // set level 5: the attributes written
    bool ok;
    DWORD error;           // the last error when not ok
};

// Copies the stand-in into the prefix's system folder of its bitness, where
// the programs load winspool.drv from, and gives the program directory no
// printers and no calls: the stand-in keeps them beside the program that
// loaded it. Every program named serverName started from now on (by any
// process in the prefix) loads it instead of Wine's own spooler.
bool InstallSpoolerStandIn(const std::wstring& directory,
                           const std::wstring& serverName = L"QorlServer.exe");
// Servers started from now on use Wine's spooler again.
void UseSystemSpooler();

// Replaces the printers; open handles and the call record stay.
bool WriteStandInPrinters(const std::wstring& directory,
                          const std::vector<StandInPrinter>& printers);
std::vector<StandInPrinter> ReadStandInPrinters(const std::wstring& directory);
StandInPrinter ReadStandInPrinter(const std::wstring& directory, const std::wstring& name);

std::vector<SpoolerCall> ReadSpoolerCalls(const std::wstring& directory);
void ClearSpoolerCalls(const std::wstring& directory);
// Handles opened and not yet closed.
std::vector<DWORD> OpenStandInHandles(const std::wstring& directory);
// Calls of that op (any op if empty) for that printer (any if empty).
size_t CountSpoolerCalls(const std::wstring& directory, const std::string& op,
                         const std::wstring& printer = L"");
// Polls until at least count such calls are recorded; false on time-out.
bool WaitForSpoolerCalls(const std::wstring& directory, const std::string& op,
                         const std::wstring& printer, size_t count, DWORD timeoutMs = 5000);
