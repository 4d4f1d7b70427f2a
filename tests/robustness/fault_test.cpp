// Faults the server must survive, end to end, and the absence of busy
// waiting: a box file that is no program, boxes that ignore their quit, a
// report file that cannot be written, a killed server, a pipe name taken by
// someone else, idle time.
#include <stdio.h>

#include "../e2e/e2e_fixture.h"

#include <tlhelp32.h>

#include <set>

#include "../../include/qorl_send.h"
#include "robust.h"

namespace {

const wchar_t PipeName[] = L"\\\\.\\pipe\\QorlPipe";
const double IdleCpuBoundMs = 100;
const DWORD ClientDefaultWait = 3000;

std::set<DWORD> RunningProcesses()
{
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        ids.insert(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

using FaultTest = ServerTest;

// The launch of a box file that is no program leaves nothing running: no
// box, and nothing the shell might start in its place.
TEST_F(FaultTest, ABoxFileThatIsNoProgramStartsNothing)
{
    Start(WithoutBox);
    ASSERT_EQ(Sent, Send("paper_A"));   // the server is fully up
    Sync();
    ASSERT_TRUE(WriteFileBytes(directory + L"QorlBox.exe", "MZ but no program at all\r\n"));

    std::set<DWORD> before = RunningProcesses();
    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_EQ(Sent, Send("lockopened_Q"));
    Sync();
    Sleep(300);
    for (DWORD id : RunningProcesses()) {
        if (before.count(id) == 0 && id != server.id)
            ADD_FAILURE() << "a process " << id << " was started";
    }
    EXPECT_EQ(L"lockopened", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"Q", ReadReport(directory, L"PRINTER"));
    EXPECT_FALSE(FileExists(directory + L"qorlbox.log"));
}

// Every report for the printer starts one more box that will not quit. Each
// must cost the server at most the one give-up for the box it replaces, not
// one for every stuck box so far: otherwise the pipe is soon busy for longer
// than a client waits.
TEST_F(FaultTest, BoxesThatIgnoreQuitDoNotAddUp)
{
    Start();
    ASSERT_TRUE(WriteFileBytes(directory + L"qorlbox.ignorequit", ""));
    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_TRUE(WaitForBoxWindows(L"P  V1.4", 1));

    DWORD longest = 0;
    for (size_t boxes = 2; boxes <= 3; ++boxes) {
        DWORD start = GetTickCount();
        ASSERT_EQ(Sent, Send("cutter_P"));
        Sync();
        DWORD took = GetTickCount() - start;
        longest = took > longest ? took : longest;
        EXPECT_LT(took, ClientDefaultWait) << "with " << boxes - 1 << " stuck boxes";
        ASSERT_TRUE(WaitForBoxWindows(L"P  V1.4", boxes));
    }
    printf("stuck boxes: the longest report took %lu ms\n", longest);
    // Another printer is not held up by P's boxes at all.
    DWORD start = GetTickCount();
    ASSERT_EQ(Sent, Send("busy_Q"));
    Sync();
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(L"busy", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"Q", ReadReport(directory, L"PRINTER"));
}

TEST_F(FaultTest, AReadOnlyReportIsLeftAsItIsAndTheBoxStillStarts)
{
    Start();
    std::string old = "[REPORT]\r\nTYPE=temper\r\nPRINTER=Old\r\n";
    ASSERT_TRUE(WriteFileBytes(Report(), old));
    ASSERT_TRUE(SetFileAttributesW(Report().c_str(), FILE_ATTRIBUTE_READONLY));
    // Wine run as root writes read-only files all the same; there a handle
    // that lets others read but not write makes the write fail as Windows would.
    HANDLE hold = CreateFileW(Report().c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (hold != INVALID_HANDLE_VALUE) {
        CloseHandle(hold);
        hold = CreateFileW(Report().c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, hold);
        printf("read-only report: not enforced for this user, held without write sharing\n");
    }

    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_TRUE(WaitForBoxEvents(directory, "start", 1));
    EXPECT_EQ(old, ReadFileBytes(Report()));
    EXPECT_EQ("temper|Old|Old  V1.4", ReadBoxLog(directory)[0].detail);

    // And it goes on serving: once the file is writable again, reports land.
    if (hold != INVALID_HANDLE_VALUE)
        CloseHandle(hold);
    SetFileAttributesW(Report().c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(Sent, Send("usb_Q"));
    ASSERT_TRUE(WaitForBoxEvents(directory, "start", 2));
    EXPECT_EQ(L"usb", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"Q", ReadReport(directory, L"PRINTER"));
}

// Killed in the middle of a connection, as a crash or the task manager would:
// the next start passes the guard and serves.
TEST_F(FaultTest, AKilledServerIsReplacedByTheNextStart)
{
    Start(WithoutBox);
    ASSERT_EQ(Sent, Send("paper_A"));
    HANDLE client = OpenServerPipe();
    ASSERT_NE(INVALID_HANDLE_VALUE, client);
    ASSERT_TRUE(TerminateProcess(server.process, 1));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.process, 5000));
    CloseHandle(client);
    CloseHandle(server.process);
    server.process = NULL;

    server = StartServer(directory);
    ASSERT_NE(nullptr, server.process);
    EXPECT_EQ(STILL_ACTIVE, WaitForExit(server, 0)) << "the new server ended at the guard";
    ASSERT_EQ(Sent, Send("carbon_B"));
    Sync();
    EXPECT_EQ(L"carbon", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"B", ReadReport(directory, L"PRINTER"));
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"RX70_SER_MUTEX");
    EXPECT_NE(nullptr, mutex);
    if (mutex != NULL)
        CloseHandle(mutex);
}

// Other programs already own both pipe names, the machine-wide one and the
// session's, and allow no further instance: the server cannot serve, so it
// ends, quietly and at once, and leaves those programs' pipes alone.
TEST_F(FaultTest, APipeNameHeldElsewhereEndsTheServerQuietly)
{
    HANDLE held = CreateNamedPipeW(PipeName, PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                   4096, 3000, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    WCHAR sessionName[QORL_PIPE_NAME_SIZE];
    ASSERT_TRUE(QorlSessionPipeName(sessionName, QORL_PIPE_NAME_SIZE));
    HANDLE sessionHeld = CreateNamedPipeW(sessionName, PIPE_ACCESS_DUPLEX,
                                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                          1, 4096, 4096, 3000, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, sessionHeld);
    directory = MakeProgramDirectory(TestName(), WithBox);
    DWORD start = GetTickCount();
    server = StartServer(directory, L"", L"QorlServer.exe", false);
    ASSERT_NE(nullptr, server.process);
    EXPECT_EQ(0u, WaitForExit(server, 5000));
    printf("held pipe: the server ended after %lu ms\n", GetTickCount() - start);

    HANDLE client = CreateFileW(PipeName, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, client) << "the holder's instance was disturbed";
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(client, "paper_P", 7, &written, NULL));
    char received[16] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(held, received, sizeof(received), &got, NULL));
    EXPECT_EQ("paper_P", std::string(received, got));
    CloseHandle(client);
    CloseHandle(held);
    CloseHandle(sessionHeld);
    EXPECT_FALSE(FileExists(Report()));
}

// Idle means blocked: no clients for five seconds costs next to no CPU, and
// so does the time after a silent client was cut off.
TEST_F(FaultTest, AnIdleServerUsesNoProcessorTime)
{
    Start(WithoutBox);
    ASSERT_EQ(Sent, Send("paper_P"));
    Sync();
    Sleep(300);
    // Start-up alone costs some: a reading of zero means nothing is measured.
    double before = CpuMilliseconds(server);
    ASSERT_GT(before, 0) << "the server's processor time cannot be read";
    Sleep(5000);
    double after = CpuMilliseconds(server);
    ASSERT_GE(after, before);
    double idle = after - before;

    HANDLE silent = OpenServerPipe();
    ASSERT_NE(INVALID_HANDLE_VALUE, silent);
    Sleep(ClientDefaultWait + 500);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(silent, "paper_Late", 10, &written, NULL))
        << "the silent client was not cut off";
    CloseHandle(silent);

    before = CpuMilliseconds(server);
    Sleep(5000);
    after = CpuMilliseconds(server);
    ASSERT_GE(after, before);
    ASSERT_GT(before, 0);
    double afterCutOff = after - before;
    printf("idle CPU over 5 s: %.0f ms; over 5 s after a silent client was cut off: %.0f ms\n",
           idle, afterCutOff);
    EXPECT_LT(idle, IdleCpuBoundMs);
    EXPECT_LT(afterCutOff, IdleCpuBoundMs);

    ASSERT_EQ(Sent, Send("usb_Q"));
    Sync();
    EXPECT_EQ(L"Q", ReadReport(directory, L"PRINTER"));
}

}  // namespace
