#include "harness.h"

#include "../../include/qorl_send.h"

#include <psapi.h>

const wchar_t* const Absent = L"<absent>";

namespace {

const wchar_t PipeName[] = L"\\\\.\\pipe\\QorlPipe";

bool PipeExists()
{
    // Busy counts: the pipe exists while a client is being served.
    if (WaitNamedPipeW(PipeName, 1))
        return true;
    return GetLastError() == ERROR_SEM_TIMEOUT;
}

// The pipe exists from the server's CreateNamedPipeW on, and takes a client
// at once; but a client that writes and leaves before the server's first
// ConnectNamedPipe is dropped (ERROR_NO_DATA: cleared by design), so a test's
// first message, sent the moment the pipe exists, was lost now and then under
// load. A word that matches nothing, from a client that stays until the
// server has let it go: the server is then in its loop. And it is pid's, not
// another program's holding the name.
bool ServingLoopOf(DWORD pid)
{
    typedef BOOL(WINAPI * ServerOf)(HANDLE, PULONG);
    ServerOf serverOf = reinterpret_cast<ServerOf>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetNamedPipeServerProcessId")));
    HANDLE pipe = CreateFileW(PipeName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0,
                              NULL);
    if (pipe == INVALID_HANDLE_VALUE)
        return false;
    ULONG server = 0;
    bool ours = serverOf == NULL || (serverOf(pipe, &server) && server == pid);
    DWORD count = 0;
    char byte;
    if (ours && WriteFile(pipe, "sync", 4, &count, NULL))
        ReadFile(pipe, &byte, 1, &count, NULL);   // fails once the server disconnects
    CloseHandle(pipe);
    return ours;
}

void RemoveTree(const std::wstring& directory)
{
    std::wstring pattern = directory + L"*";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = directory + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path + L"\\");
            RemoveDirectoryW(path.c_str());
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

std::string Utf8(const std::wstring& text)
{
    char buffer[4096];
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buffer, sizeof(buffer), NULL,
                                     NULL);
    return length > 0 ? std::string(buffer, length - 1) : std::string();
}

std::wstring BuildDirectory()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring result(path, length);
    return result.substr(0, result.rfind(L'\\') + 1);
}

std::wstring PathOnDriveZ(const std::wstring& unixPath)
{
    std::wstring path = L"Z:" + unixPath;
    for (wchar_t& c : path)
        c = c == L'/' ? L'\\' : c;
    return path;
}

std::wstring FileFromEnvironment(const wchar_t* variable, const std::wstring& fallback)
{
    wchar_t value[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(variable, value, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return BuildDirectory() + fallback;
    std::wstring path(value, length);
    return path[0] == L'/' ? PathOnDriveZ(path) : path;
}

std::wstring ServerUnderTest()
{
    return FileFromEnvironment(L"QORL_SERVER", L"QorlServer.exe");
}

std::wstring ClientUnderTest()
{
    return FileFromEnvironment(L"QORL_SEND", L"QorlSend.exe");
}

std::wstring MakeScratchDirectory(const std::wstring& name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring root = std::wstring(temp) + L"qorl-e2e\\";
    CreateDirectoryW(root.c_str(), NULL);
    std::wstring directory = root + name + L"\\";
    RemoveTree(directory);
    CreateDirectoryW(directory.c_str(), NULL);
    return directory;
}

std::wstring MakeProgramDirectory(const std::wstring& name, BoxKind box,
                                  const std::wstring& serverName)
{
    std::wstring directory = MakeScratchDirectory(name);
    std::wstring build = BuildDirectory();
    CopyFileW(ServerUnderTest().c_str(), (directory + serverName).c_str(), FALSE);
    if (box == WithBox)
        CopyFileW((build + L"QorlBox.exe").c_str(), (directory + L"QorlBox.exe").c_str(), FALSE);
    return directory;
}

namespace {

// Wine reads a program's Windows version from its AppDefaults key when the
// program starts. Set, or cleared, for every start: a run must not leave its
// version to the next.
void SetReportedVersion(const std::wstring& program)
{
    std::wstring key = L"Software\\Wine\\AppDefaults\\" + program;
    wchar_t version[32];
    DWORD length = GetEnvironmentVariableW(L"QORL_WINDOWS_VERSION", version, 32);
    HKEY appDefaults;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL,
                        &appDefaults, NULL) != ERROR_SUCCESS)
        return;
    if (length > 0 && length < 32)
        RegSetValueExW(appDefaults, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       (length + 1) * sizeof(wchar_t));
    else
        RegDeleteValueW(appDefaults, L"Version");
    RegCloseKey(appDefaults);
}

}  // namespace

ServerProcess StartServer(const std::wstring& directory, const std::wstring& arguments,
                          const std::wstring& serverName, bool waitForPipe)
{
    ServerProcess server = {directory, NULL, 0};
    SetReportedVersion(serverName);
    std::wstring command = L"\"" + directory + serverName + L"\"";
    if (!arguments.empty())
        command += L" " + arguments;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    // The working directory is not the program directory on purpose: the
    // server must find its files beside itself, not in its current directory.
    std::wstring cwd = BuildDirectory();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, cwd.c_str(), &startup,
                        &info))
        return server;
    CloseHandle(info.hThread);
    server.process = info.hProcess;
    server.id = info.dwProcessId;
    if (waitForPipe) {
        for (int i = 0; i < 500 && !(PipeExists() && ServingLoopOf(server.id)); ++i) {
            if (WaitForSingleObject(server.process, 10) == WAIT_OBJECT_0)
                break;
        }
    }
    return server;
}

ProgramRun RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                      const std::wstring& directory, DWORD timeoutMs, DWORD creationFlags)
{
    ProgramRun run = {STILL_ACTIVE, std::string()};
    std::wstring command = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments)
        command += L" \"" + argument + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);

    // A file, not a pipe: a program that hangs cannot block the reader. One
    // a run of each test process: a program it starts (msiexec's server)
    // may keep it open.
    static int runs = 0;
    std::wstring outputPath = MakeScratchDirectory(L"program-output") + L"output" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++runs) + L".txt";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, NULL);
    if (output == INVALID_HANDLE_VALUE)
        return run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    if (creationFlags & (CREATE_NEW_CONSOLE | CREATE_NO_WINDOW)) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessW(NULL, line.data(), NULL, NULL, TRUE, creationFlags, NULL,
                                  directory.c_str(), &startup, &info);
    CloseHandle(output);
    if (!started)
        return run;
    CloseHandle(info.hThread);
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_TIMEOUT) {
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, 5000);
    } else {
        GetExitCodeProcess(info.hProcess, &run.exitCode);
    }
    CloseHandle(info.hProcess);
    run.output = ReadFileBytes(outputPath);
    return run;
}

std::string WindowsVersionSeenBy(const std::wstring& programName)
{
    std::wstring directory = MakeScratchDirectory(L"version-probe");
    CopyFileW(ClientUnderTest().c_str(), (directory + programName).c_str(), FALSE);
    SetReportedVersion(programName);
    // The line is parsed: in English whatever the display language.
    SetEnvironmentVariableW(L"QORLSEND_LANG", L"en");
    std::string output = RunProgram(directory + programName, {L"--check"}, directory).output;
    SetEnvironmentVariableW(L"QORLSEND_LANG", NULL);
    const std::string marker = "Windows ";
    size_t at = output.find(marker);
    if (at == std::string::npos)
        return std::string();
    size_t end = output.find(',', at);
    return output.substr(at + marker.size(), end - at - marker.size());
}

DWORD WaitForExit(const ServerProcess& server, DWORD timeoutMs)
{
    if (WaitForSingleObject(server.process, timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(server.process, &code);
    return code;
}

void StopServer(ServerProcess* server)
{
    if (server->process != NULL) {
        if (WaitForSingleObject(server->process, 0) == WAIT_TIMEOUT) {
            Send("exit");
            if (WaitForSingleObject(server->process, 5000) == WAIT_TIMEOUT) {
                TerminateProcess(server->process, 1);
                WaitForSingleObject(server->process, 5000);
            }
        }
        CloseHandle(server->process);
        server->process = NULL;
    }
    KillBoxes(server->directory);
}

SendResult Send(const std::string& message)
{
    return SendPipeMessage(message.data(), static_cast<DWORD>(message.size()), NULL);
}

void Sync()
{
    Send("sync");
}

std::wstring ReadReport(const std::wstring& directory, const wchar_t* key)
{
    wchar_t value[512];
    std::wstring path = directory + L"box.ini";
    GetPrivateProfileStringW(L"REPORT", key, Absent, value, 512, path.c_str());
    return value;
}

std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
    return written == bytes.size();
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

struct WindowSearch {
    std::wstring title;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM context)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    wchar_t className[64];
    wchar_t title[512];
    if (!IsWindowVisible(window) || GetClassNameW(window, className, 64) == 0 ||
        lstrcmpW(className, L"ravonPT") != 0)
        return TRUE;
    GetWindowTextW(window, title, 512);
    if (search->title == title)
        search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> BoxWindows(const std::wstring& title)
{
    WindowSearch search;
    search.title = title;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitForBoxWindows(const std::wstring& title, size_t count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (BoxWindows(title).size() == count)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
}

std::vector<BoxLogEntry> ReadBoxLog(const std::wstring& directory)
{
    std::vector<BoxLogEntry> entries;
    std::string text = ReadFileBytes(directory + L"qorlbox.log");
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string::npos)
            break;   // a line still being written
        std::string line = text.substr(position, end - position);
        position = end + 1;
        size_t first = line.find(' ');
        if (first == std::string::npos)
            continue;
        size_t second = line.find(' ', first + 1);
        BoxLogEntry entry;
        entry.event = line.substr(0, first);
        entry.pid = strtoul(line.c_str() + first + 1, NULL, 10);
        entry.detail = second == std::string::npos ? std::string() : line.substr(second + 1);
        entries.push_back(entry);
    }
    return entries;
}

size_t CountBoxEvents(const std::wstring& directory, const std::string& event)
{
    size_t count = 0;
    for (const BoxLogEntry& entry : ReadBoxLog(directory))
        count += entry.event == event;
    return count;
}

bool WaitForBoxEvents(const std::wstring& directory, const std::string& event, size_t count,
                      DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (CountBoxEvents(directory, event) < count) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

bool BoxQuit(const std::wstring& directory, DWORD pid)
{
    for (const BoxLogEntry& entry : ReadBoxLog(directory)) {
        if (entry.event == "quit" && entry.pid == pid)
            return true;
    }
    return false;
}

void KillBoxes(const std::wstring& directory)
{
    for (const BoxLogEntry& entry : ReadBoxLog(directory)) {
        if (entry.event != "start")
            continue;
        HANDLE box = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION |
                                     PROCESS_VM_READ,
                                 FALSE, entry.pid);
        if (box == NULL)
            continue;
        // Only this directory's box: the pid may have been reused since it quit.
        wchar_t image[MAX_PATH];
        std::wstring expected = directory + L"QorlBox.exe";
        if (GetModuleFileNameExW(box, NULL, image, MAX_PATH) > 0 &&
            lstrcmpiW(image, expected.c_str()) == 0 && WaitForSingleObject(box, 0) == WAIT_TIMEOUT) {
            TerminateProcess(box, 1);
            WaitForSingleObject(box, 2000);
        }
        CloseHandle(box);
    }
}

namespace {

// Waits for an overlapped operation or the stop; false on the stop or a failure.
bool Finish(HANDLE pipe, HANDLE stop, OVERLAPPED* overlapped, BOOL started, DWORD* count)
{
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return GetLastError() == ERROR_PIPE_CONNECTED || GetLastError() == ERROR_MORE_DATA;
    HANDLE events[2] = {overlapped->hEvent, stop};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, overlapped, count, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, overlapped, count, FALSE) || GetLastError() == ERROR_MORE_DATA;
}

DWORD WINAPI ServeInstance(void* parameter)
{
    ServedPipe::Instance* served = static_cast<ServedPipe::Instance*>(parameter);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    while (WaitForSingleObject(served->stop, 0) != WAIT_OBJECT_0) {
        DWORD count = 0;
        ResetEvent(overlapped.hEvent);
        BOOL connected = ConnectNamedPipe(served->pipe, &overlapped);
        if (!Finish(served->pipe, served->stop, &overlapped, connected, &count) &&
            WaitForSingleObject(served->stop, 0) == WAIT_OBJECT_0)
            break;
        char bytes[256];
        ResetEvent(overlapped.hEvent);
        BOOL read = ReadFile(served->pipe, bytes, sizeof(bytes), NULL, &overlapped);
        if (Finish(served->pipe, served->stop, &overlapped, read, &count))
            served->received.append(bytes, count);
        DisconnectNamedPipe(served->pipe);
    }
    CloseHandle(overlapped.hEvent);
    CloseHandle(served->pipe);
    return 0;
}

}  // namespace

std::wstring SessionPipeName()
{
    WCHAR name[QORL_PIPE_NAME_SIZE] = {};
    QorlSessionPipeName(name, QORL_PIPE_NAME_SIZE);
    return name;
}

ServedPipe ServePipeInstances(int count, const std::wstring& name, DWORD maxInstances)
{
    ServedPipe served;
    served.stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    for (int i = 0; i < count; ++i) {
        HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, maxInstances,
                                       4096, 4096, 3000, NULL);
        if (pipe == INVALID_HANDLE_VALUE)
            continue;
        served.instances.push_back(new ServedPipe::Instance{pipe, served.stop, std::string(), NULL});
        served.instances.back()->thread =
            CreateThread(NULL, 0, ServeInstance, served.instances.back(), 0, NULL);
    }
    return served;
}

std::string StopServingPipe(ServedPipe* served)
{
    SetEvent(served->stop);
    std::string received;
    for (ServedPipe::Instance* instance : served->instances) {
        WaitForSingleObject(instance->thread, 5000);
        CloseHandle(instance->thread);
        received += instance->received;
        delete instance;
    }
    served->instances.clear();
    CloseHandle(served->stop);
    return received;
}
