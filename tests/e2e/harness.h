// Drives the real QorlServer.exe from the outside, as the printer software
// and a user would: a scratch program directory, the pipe, box.ini, the
// stand-in box's windows and log, the mutex, the process and its exit code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "pipe_client.h"

extern const wchar_t* const Absent;   // what ReadReport returns for a missing key

// Directory of the running test executable, with its backslash: the built
// QorlServer.exe and QorlBox.exe are there.
std::wstring BuildDirectory();

// The file named by the environment variable (a Windows path, or a Unix path
// reached through drive Z:), else BuildDirectory() + fallback. This is how a
// run points the suites at another build, such as the shipped 32-bit one:
//   QORL_SERVER           the QorlServer.exe under test
//   QORL_STANDIN          the stand-in winspool.drv of the same bitness
//   QORL_PLANTED          the winspool.drv planted beside the server, likewise
//   QORL_WINDOWS_VERSION  the Windows version Wine reports to the servers
//                         started (e.g. winxp); unset: Wine's default
// A Unix path as Wine's drive Z: shows it.
std::wstring PathOnDriveZ(const std::wstring& unixPath);
std::wstring FileFromEnvironment(const wchar_t* variable, const std::wstring& fallback);
std::wstring ServerUnderTest();
//   QORL_SEND             the QorlSend.exe under test
std::wstring ClientUnderTest();

struct ProgramRun {
    DWORD exitCode;       // STILL_ACTIVE: ended by force after the time-out
    std::string output;   // standard output and error, as written
};
// Runs program with the arguments (each quoted) in directory, and waits.
// With CREATE_NEW_CONSOLE (shown hidden) or CREATE_NO_WINDOW, as an
// installer starts it, it keeps the handles of that console: no output.
ProgramRun RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                      const std::wstring& directory, DWORD timeoutMs = 20000,
                      DWORD creationFlags = 0);

// Instances of the server's pipe served by this process as a server serves
// them: connect, read one message, disconnect, listen again. Made before a
// server's, they are what its clients reach first.
struct ServedPipe {
    struct Instance {
        HANDLE pipe;
        HANDLE stop;
        std::string received;   // touched by its thread until it has ended
        HANDLE thread;
    };
    std::vector<Instance*> instances;
    HANDLE stop;
};
ServedPipe ServePipeInstances(int count, const std::wstring& name = L"\\\\.\\pipe\\QorlPipe",
                              DWORD maxInstances = PIPE_UNLIMITED_INSTANCES);
// This session's pipe of the server, \\.\pipe\QorlPipe.<session id>.
std::wstring SessionPipeName();
// Stops serving and closes them; returns what was read.
std::string StopServingPipe(ServedPipe* served);

// The Windows version a program named programName is told, as the shipped
// client prints it ("5.1 build 2600"), for the version the run reports
// (QORL_WINDOWS_VERSION). Empty if it could not be read.
std::string WindowsVersionSeenBy(const std::wstring& programName);

// A fresh, empty directory under the temporary directory, with backslash.
std::wstring MakeScratchDirectory(const std::wstring& name);

enum BoxKind { WithBox, WithoutBox };
// A scratch program directory holding QorlServer.exe (as serverName) and,
// WithBox, the stand-in QorlBox.exe.
std::wstring MakeProgramDirectory(const std::wstring& name, BoxKind box,
                                  const std::wstring& serverName = L"QorlServer.exe");

struct ServerProcess {
    std::wstring directory;
    HANDLE process;
    DWORD id;
};

// Starts the server and waits until it serves its pipe (one word that matches
// nothing, sent and let go). Not started: process NULL.
ServerProcess StartServer(const std::wstring& directory, const std::wstring& arguments = L"",
                          const std::wstring& serverName = L"QorlServer.exe",
                          bool waitForPipe = true);
// Exit code, or STILL_ACTIVE if it did not end within timeoutMs.
DWORD WaitForExit(const ServerProcess& server, DWORD timeoutMs);
// Ends what a test left running: the server (by "exit", then by force) and
// every box the log names.
void StopServer(ServerProcess* server);

SendResult Send(const std::string& message);
// Sends a word that matches nothing: once it is taken, every message sent
// before it has been handled in full.
void Sync();

// REPORT section values of the directory's box.ini, or Absent.
std::wstring ReadReport(const std::wstring& directory, const wchar_t* key);
std::string ReadFileBytes(const std::wstring& path);
// Creates or replaces the file; true when every byte was written.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);

// Visible top-level windows of class "ravonPT" whose title is exactly title.
std::vector<HWND> BoxWindows(const std::wstring& title);
// Polls until exactly count such windows exist; false on time-out.
bool WaitForBoxWindows(const std::wstring& title, size_t count, DWORD timeoutMs = 5000);

struct BoxLogEntry {
    std::string event;   // "start" or "quit"
    DWORD pid;
    std::string detail;  // start: TYPE|PRINTER|TITLE (UTF-8)
};
std::vector<BoxLogEntry> ReadBoxLog(const std::wstring& directory);
size_t CountBoxEvents(const std::wstring& directory, const std::string& event);
// Polls the log until it holds count events of that kind.
bool WaitForBoxEvents(const std::wstring& directory, const std::string& event, size_t count,
                      DWORD timeoutMs = 5000);
bool BoxQuit(const std::wstring& directory, DWORD pid);
void KillBoxes(const std::wstring& directory);

std::string Utf8(const std::wstring& text);
