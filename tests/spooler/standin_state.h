// The stand-in spooler's state, shared by the stand-in winspool.drv and the
// tests that drive it. Two UTF-8 text files in the program directory:
//
//   spooler.txt        the printers and the handles now open (rewritten)
//     next    <TAB> next handle number
//     printer <TAB> name <TAB> attributes (hex) <TAB> queued jobs <TAB>
//             bytes its level-5 information needs (0: what its strings take)
//             <TAB> GetPrinterW delay in ms <TAB> port <TAB>
//             device-not-selected timeout <TAB> transmission-retry timeout
//             <TAB> denied (1: refuses to be opened for more than use)
//     handle  <TAB> number <TAB> printer name <TAB> access asked for
//   spooler-calls.txt  one line per call, appended
//     op <TAB> thread id <TAB> printer <TAB> handle <TAB> access or level
//        <TAB> buffer size or command <TAB> attributes written <TAB>
//        ok (1/0) <TAB> last error
//
// Every read-modify-write of either file is made under one named mutex per
// directory, so the server's threads and the test never see half a file.
#pragma once

#include <windows.h>

const int StandInNameSize = 260;
const int StandInMaxPrinters = 32;
const int StandInMaxHandles = 64;

struct StandInPrinterRecord {
    WCHAR name[StandInNameSize];
    DWORD attributes;
    DWORD jobs;
    DWORD needed;
    DWORD delayMs;
    WCHAR port[StandInNameSize];
    DWORD deviceNotSelectedTimeout;
    DWORD transmissionRetryTimeout;
    DWORD denied;   // nonzero: ERROR_ACCESS_DENIED for more than PRINTER_READ
};

struct StandInHandleRecord {
    DWORD number;
    WCHAR printer[StandInNameSize];
    DWORD access;
};

struct StandInState {
    DWORD nextHandle;
    int printerCount;
    StandInPrinterRecord printers[StandInMaxPrinters];
    int handleCount;
    StandInHandleRecord handles[StandInMaxHandles];
};

struct StandInCallRecord {
    char op[16];   // "open", "get", "set", "close"
    DWORD thread;
    WCHAR printer[StandInNameSize];
    DWORD handle;
    DWORD first;    // open: access; get, set: level
    DWORD second;   // get: buffer size; set: command
    DWORD attributes;   // set level 5: the attributes written
    BOOL ok;
    DWORD error;
};

// directory: with its trailing backslash.
HANDLE LockStandIn(const WCHAR* directory);
void UnlockStandIn(HANDLE lock);

// Under the lock. A missing file is an empty state.
void LoadStandInState(const WCHAR* directory, StandInState* state);
bool SaveStandInState(const WCHAR* directory, const StandInState* state);
bool AppendStandInCall(const WCHAR* directory, const StandInCallRecord* call);
// Calls the callback for each recorded call, in order.
void ReadStandInCalls(const WCHAR* directory,
                      void (*each)(const StandInCallRecord* call, void* context), void* context);
void ClearStandInCalls(const WCHAR* directory);

StandInPrinterRecord* FindStandInPrinterRecord(StandInState* state, const WCHAR* name);
int FindStandInHandle(const StandInState* state, DWORD number);

const WCHAR StandInStateFile[] = L"spooler.txt";
const WCHAR StandInCallsFile[] = L"spooler-calls.txt";
