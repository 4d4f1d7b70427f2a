// Runs the robustness tests, and the helpers they share. The soak's seed
// comes from --seed=N or QORL_SEED and is printed, so that a failing run can
// be repeated exactly.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "robust.h"

uint64_t SoakSeed;

namespace {

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != NULL;
}

// A file of the Unix side, through Wine's drive Z:.
std::string ReadUnixFile(const std::string& path)
{
    return ReadFileBytes(PathOnDriveZ(std::wstring(path.begin(), path.end())));
}

std::string PrefixOf(const std::string& variables)
{
    size_t at = 0;
    while (at < variables.size()) {
        size_t end = variables.find('\0', at);
        if (end == std::string::npos)
            end = variables.size();
        if (variables.compare(at, 11, "WINEPREFIX=") == 0)
            return variables.substr(at, end - at);
        at = end + 1;
    }
    return std::string();
}

// The Unix process of a program of this Wine prefix started from imagePath:
// Wine shows the Windows path as its argv[0]. 0 if there is none.
int UnixProcessOf(const std::string& imagePath)
{
    std::string prefix = PrefixOf(ReadUnixFile("/proc/self/environ"));
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int pid = 0;
    do {
        if (found.cFileName[0] < '1' || found.cFileName[0] > '9')
            continue;
        std::string directory = std::string("/proc/") + found.cFileName;
        std::string command = ReadUnixFile(directory + "/cmdline");
        command = command.substr(0, command.find('\0'));
        if (lstrcmpiA(command.c_str(), imagePath.c_str()) == 0 &&
            PrefixOf(ReadUnixFile(directory + "/environ")) == prefix)
            pid = atoi(found.cFileName);
    } while (pid == 0 && FindNextFileA(search, &found));
    FindClose(search);
    return pid;
}

double UnixCpuMilliseconds(int pid)
{
    const double MillisecondsPerTick = 10;   // USER_HZ on Linux
    std::string stat = ReadUnixFile("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')');
    if (pid == 0 || end == std::string::npos)
        return -1;
    // After the command: state, ppid, ... utime is the 12th, stime the 13th.
    unsigned long long utime = 0, stime = 0;
    if (sscanf(stat.c_str() + end + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
               &utime, &stime) != 2)
        return -1;
    return static_cast<double>(utime + stime) * MillisecondsPerTick;
}

}  // namespace

double CpuMilliseconds(const ServerProcess& server, const std::wstring& serverName)
{
    // Wine 8's GetProcessTimes does not advance for another process; there
    // the kernel's own accounting of the Unix process is read instead.
    if (UnderWine())
        return UnixCpuMilliseconds(UnixProcessOf(Utf8(server.directory + serverName)));

    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(server.process, &created, &exited, &kernel, &user))
        return -1;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

HANDLE OpenServerPipe()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        HANDLE pipe = CreateFileW(L"\\\\.\\pipe\\QorlPipe", GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                  0, NULL);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        if (GetLastError() != ERROR_PIPE_BUSY)
            return INVALID_HANDLE_VALUE;
        WaitNamedPipeW(L"\\\\.\\pipe\\QorlPipe", NMPWAIT_USE_DEFAULT_WAIT);
    }
    return INVALID_HANDLE_VALUE;
}

std::string ReportFileProblems(const std::string& bytes)
{
    std::string problems;
    int sections = 0, types = 0, printers = 0;
    size_t position = 0;
    int lineNumber = 0;
    while (position < bytes.size()) {
        size_t end = bytes.find('\n', position);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(position, end - position);
        position = end + 1;
        ++lineNumber;
        if (!line.empty() && line[line.size() - 1] == '\r')
            line.erase(line.size() - 1);
        if (line.empty())
            continue;
        if (line[0] == '[') {
            ++sections;
            if (line != "[REPORT]" || sections > 1)
                problems += "line " + std::to_string(lineNumber) + ": section " + line + "\n";
        } else if (sections == 0) {
            problems += "line " + std::to_string(lineNumber) + ": outside any section\n";
        } else if (line.compare(0, 5, "TYPE=") == 0) {
            ++types;
        } else if (line.compare(0, 8, "PRINTER=") == 0) {
            ++printers;
        } else {
            problems += "line " + std::to_string(lineNumber) + ": stray line " + line + "\n";
        }
    }
    if (sections != 1 || types != 1 || printers > 1)
        problems += "sections " + std::to_string(sections) + ", TYPE " + std::to_string(types) +
                    ", PRINTER " + std::to_string(printers) + "\n";
    return problems;
}

int main(int argc, char** argv)
{
    bool given = false;
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--seed=", 7) == 0) {
            SoakSeed = strtoull(argv[i] + 7, NULL, 0);
            given = true;
        }
    }
    const char* environment = getenv("QORL_SEED");
    if (!given && environment != NULL && *environment != 0) {
        SoakSeed = strtoull(environment, NULL, 0);
        given = true;
    }
    if (!given) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        SoakSeed = static_cast<uint64_t>(now.QuadPart) ^ (GetCurrentProcessId() * 0x100000001ull);
    }
    printf("soak seed: %llu (repeat with --seed=%llu or QORL_SEED=%llu)\n",
           static_cast<unsigned long long>(SoakSeed), static_cast<unsigned long long>(SoakSeed),
           static_cast<unsigned long long>(SoakSeed));
    fflush(stdout);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
