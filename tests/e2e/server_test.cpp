// The running server through its real interfaces: reports, status boxes,
// the pipe's limits, exit and the single-instance guard.
#include "e2e_fixture.h"

#include "../../include/qorl_send.h"

namespace {

const wchar_t* const Discovery = L"Discover new printer";

TEST_F(ServerTest, ReportWithPrinterWritesThenLaunchesTheBox)
{
    Start();
    ASSERT_EQ(Sent, Send("paper_LabelPrinter1"));
    ASSERT_TRUE(WaitForBoxWindows(L"LabelPrinter1  V1.4", 1));
    EXPECT_EQ(L"paper", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"LabelPrinter1", ReadReport(directory, L"PRINTER"));
    std::vector<BoxLogEntry> log = ReadBoxLog(directory);
    ASSERT_EQ(1u, log.size());
    // The box found both values in place when it started.
    EXPECT_EQ("paper|LabelPrinter1|LabelPrinter1  V1.4", log[0].detail);
}

TEST_F(ServerTest, TypeOnlyKeepsThePrinterAndLeavesOtherBoxesAlone)
{
    Start();
    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_TRUE(WaitForBoxEvents(directory, "start", 1));
    DWORD firstBox = ReadBoxLog(directory)[0].pid;

    ASSERT_EQ(Sent, Send("height_Q"));
    ASSERT_TRUE(WaitForBoxEvents(directory, "start", 2));
    EXPECT_EQ(L"height", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"P", ReadReport(directory, L"PRINTER"));
    Sync();
    EXPECT_FALSE(BoxQuit(directory, firstBox));
}

TEST_F(ServerTest, AReportForAnotherPrinterLeavesABoxAlone)
{
    Start();
    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_TRUE(WaitForBoxWindows(L"P  V1.4", 1));
    ASSERT_EQ(Sent, Send("busy_Q"));
    ASSERT_TRUE(WaitForBoxWindows(L"Q  V1.4", 1));
    ASSERT_EQ(Sent, Send("cutter_Q"));
    ASSERT_TRUE(WaitForBoxEvents(directory, "start", 3));
    Sync();
    // Q's first box was replaced; P's still shows.
    EXPECT_EQ(1u, CountBoxEvents(directory, "quit"));
    EXPECT_EQ(1u, BoxWindows(L"P  V1.4").size());
    EXPECT_TRUE(WaitForBoxWindows(L"Q  V1.4", 1));
    EXPECT_EQ(L"cutter", ReadReport(directory, L"TYPE"));
}

TEST_F(ServerTest, NormalClosesEveryBoxOfThePrinterAndWritesNothing)
{
    Start();
    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_TRUE(WaitForBoxWindows(L"P  V1.4", 1));
    // A type-only report launches a second box that shows the same printer.
    ASSERT_EQ(Sent, Send("poweroff_X"));
    ASSERT_TRUE(WaitForBoxWindows(L"P  V1.4", 2));
    std::string before = ReadFileBytes(Report());

    ASSERT_EQ(Sent, Send("normal_P"));
    Sync();
    EXPECT_TRUE(BoxWindows(L"P  V1.4").empty());
    EXPECT_TRUE(WaitForBoxEvents(directory, "quit", 2));
    EXPECT_EQ(before, ReadFileBytes(Report()));
}

TEST_F(ServerTest, NewPrinterBoxOpensOnceAndClosesOnCommand)
{
    Start();
    ASSERT_EQ(Sent, Send("connect_P"));
    ASSERT_TRUE(WaitForBoxWindows(L"P  V1.4", 1));
    ASSERT_EQ(Sent, Send("newconnect_Q"));
    ASSERT_TRUE(WaitForBoxWindows(Discovery, 1));
    EXPECT_EQ(L"newconnect", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"P", ReadReport(directory, L"PRINTER"));

    // With the box showing, "newconnect" does nothing at all.
    WritePrivateProfileStringW(L"REPORT", L"TYPE", L"marker", Report().c_str());
    ASSERT_EQ(Sent, Send("newconnect_Q"));
    Sync();
    EXPECT_EQ(L"marker", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(2u, CountBoxEvents(directory, "start"));

    // Printer reports leave it alone; "closeNewDev" closes it.
    ASSERT_EQ(Sent, Send("normal_P"));
    ASSERT_EQ(Sent, Send("closeNewDev"));
    Sync();
    EXPECT_TRUE(BoxWindows(Discovery).empty());
    EXPECT_TRUE(WaitForBoxEvents(directory, "quit", 2));

    ASSERT_EQ(Sent, Send("newconnect"));
    ASSERT_TRUE(WaitForBoxWindows(Discovery, 1));
    ASSERT_EQ(Sent, Send("newdisconnect_anything"));
    Sync();
    EXPECT_TRUE(BoxWindows(Discovery).empty());
}

TEST_F(ServerTest, WithoutTheBoxProgramReportsStillUpdate)
{
    Start(WithoutBox);
    ASSERT_EQ(Sent, Send("labelunkown_P"));
    ASSERT_EQ(Sent, Send("rfidUnSupport_Q"));
    Sync();
    EXPECT_EQ(L"rfidUnSupport", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"Q", ReadReport(directory, L"PRINTER"));
    EXPECT_FALSE(FileExists(directory + L"qorlbox.log"));
}

TEST_F(ServerTest, ABoxProgramThatDoesNotRunRaisesNoDialog)
{
    Start(WithoutBox);
    ASSERT_TRUE(WriteFileBytes(directory + L"QorlBox.exe", "this is not a program\r\n"));

    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_EQ(Sent, Send("temper_Q"));   // served: the launch did not wait on a dialog
    Sync();
    EXPECT_EQ(L"temper", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"Q", ReadReport(directory, L"PRINTER"));
}

TEST_F(ServerTest, EmptyPrinterNameIsWrittenEmpty)
{
    Start(WithoutBox);
    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_EQ(Sent, Send("dpi"));
    Sync();
    EXPECT_EQ(L"dpi", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"", ReadReport(directory, L"PRINTER"));
}

TEST_F(ServerTest, MessagesThatDoNotFitAreDroppedAndServingGoesOn)
{
    Start(WithoutBox);
    ASSERT_EQ(Sent, Send("paper_" + std::string(251, 'P')));   // 257 bytes: the read fails
    ASSERT_EQ(Sent, Send("paper_" + std::string(150, 'P')));   // fits the buffer, not the field
    ASSERT_EQ(Sent, Send("paper_P\r\n[EVIL]\r\nx=1"));
    ASSERT_EQ(Sent, Send("Paper_P"));
    Sync();
    EXPECT_FALSE(FileExists(Report()));

    ASSERT_EQ(Sent, Send("carbon_P"));
    Sync();
    EXPECT_EQ(L"carbon", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"P", ReadReport(directory, L"PRINTER"));
}

HANDLE OpenPipe()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        HANDLE pipe = CreateFileW(L"\\\\.\\pipe\\QorlPipe", GENERIC_WRITE, 0, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        WaitNamedPipeW(L"\\\\.\\pipe\\QorlPipe", NMPWAIT_USE_DEFAULT_WAIT);
    }
    return INVALID_HANDLE_VALUE;
}

// A pipe name held by the test, one instance and no more, as another user's
// server or another program holds it. PIPE_NOWAIT: ConnectNamedPipe then
// tells at once whether a client came.
struct HeldPipe {
    explicit HeldPipe(const std::wstring& name)
        : pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_NOWAIT,
                                1, 4096, 4096, 3000, NULL)) {}
    ~HeldPipe() { CloseHandle(pipe); }
    bool HeardNothing() { return !ConnectNamedPipe(pipe, NULL) && GetLastError() == ERROR_PIPE_LISTENING; }
    HANDLE pipe;
};

// Sends on the named pipe alone and waits until the server let it go.
bool SendOn(const std::wstring& name, const std::string& message)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (pipe == INVALID_HANDLE_VALUE) {
            Sleep(50);
            continue;
        }
        DWORD count = 0;
        char byte;
        BOOL written = WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()),
                                 &count, NULL);
        ReadFile(pipe, &byte, 1, &count, NULL);   // fails once the server disconnects
        CloseHandle(pipe);
        return written != FALSE;
    }
    return false;
}

// Another session's server, or another program, holds the machine-wide name.
TEST_F(ServerTest, WithTheMachineWidePipeHeldTheSessionPipeServesTheSenders)
{
    HeldPipe held(L"\\\\.\\pipe\\QorlPipe");
    ASSERT_TRUE(held.HeardNothing());
    directory = MakeProgramDirectory(TestName(), WithoutBox);
    server = StartServer(directory, L"", L"QorlServer.exe", false);
    ASSERT_NE(nullptr, server.process);
    ASSERT_TRUE(SendOn(SessionPipeName(), "sync"));

    ProgramRun run = RunProgram(ClientUnderTest(), {L"paper_A"}, directory);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ASSERT_TRUE(SendOn(SessionPipeName(), "sync"));
    EXPECT_EQ(L"A", ReadReport(directory, L"PRINTER"));
    EXPECT_EQ(QORL_SEND_OK, QorlSendStatusW(L"carbon", L"B", 10000));
    ASSERT_TRUE(SendOn(SessionPipeName(), "sync"));
    EXPECT_EQ(L"carbon", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"B", ReadReport(directory, L"PRINTER"));
    EXPECT_TRUE(held.HeardNothing());
    ASSERT_TRUE(SendOn(SessionPipeName(), "exit"));
    EXPECT_EQ(0u, WaitForExit(server, 5000));
}

// A program took the session pipe's name first: the server serves the
// machine-wide pipe as before, and once the name is free again the senders
// find no session pipe and take the machine-wide one, as with an older server.
TEST_F(ServerTest, WithTheSessionPipeNameTakenTheMachineWidePipeServes)
{
    {
        HeldPipe squatter(SessionPipeName());
        ASSERT_TRUE(squatter.HeardNothing());
        Start(WithoutBox);
        ASSERT_TRUE(SendOn(L"\\\\.\\pipe\\QorlPipe", "paper_A"));
        EXPECT_EQ(L"A", ReadReport(directory, L"PRINTER"));
        EXPECT_TRUE(squatter.HeardNothing());
    }   // under one user it would pass the senders' check, and be written to

    EXPECT_EQ(QORL_SEND_OK, QorlSendStatusW(L"carbon", L"B", 10000));
    Sync();
    EXPECT_EQ(L"B", ReadReport(directory, L"PRINTER"));
}

TEST_F(ServerTest, OnlyTheFirstMessageOfAConnectionCounts)
{
    Start(WithoutBox);
    HANDLE pipe = OpenPipe();
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    DWORD written;
    ASSERT_TRUE(WriteFile(pipe, "paper_A", 7, &written, NULL));
    WriteFile(pipe, "paper_B", 7, &written, NULL);
    // Still connected: the server's flush and disconnect must not wait for it.
    ASSERT_EQ(Sent, Send("sync"));
    CloseHandle(pipe);
    EXPECT_EQ(L"A", ReadReport(directory, L"PRINTER"));
}

TEST_F(ServerTest, ClientsThatLeaveOrStaySilentDoNotBlockOthers)
{
    Start(WithoutBox);
    HANDLE leaves = OpenPipe();
    ASSERT_NE(INVALID_HANDLE_VALUE, leaves);
    CloseHandle(leaves);
    ASSERT_EQ(Sent, Send("usb_A"));
    Sync();
    EXPECT_EQ(L"A", ReadReport(directory, L"PRINTER"));

    HANDLE silent = OpenPipe();
    ASSERT_NE(INVALID_HANDLE_VALUE, silent);
    DWORD start = GetTickCount();
    DWORD waited = 0;
    ASSERT_EQ(Sent, SendPipeMessage("usb_B", 5, &waited));
    Sync();
    EXPECT_EQ(L"B", ReadReport(directory, L"PRINTER"));
    // Cut off after the pipe's default time-out, not before.
    EXPECT_GE(GetTickCount() - start, 2500u);
    EXPECT_LT(waited, 6000u);
    CloseHandle(silent);
}

TEST_F(ServerTest, ABoxThatIgnoresQuitIsGivenUp)
{
    Start();
    ASSERT_TRUE(WriteFileBytes(directory + L"qorlbox.ignorequit", ""));
    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_TRUE(WaitForBoxWindows(L"P  V1.4", 1));

    DWORD start = GetTickCount();
    ASSERT_EQ(Sent, Send("labelmore_P"));
    Sync();
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 4500u);
    EXPECT_EQ(L"labelmore", ReadReport(directory, L"TYPE"));
    EXPECT_TRUE(WaitForBoxWindows(L"P  V1.4", 2));
}

TEST_F(ServerTest, ExitClosesEveryBoxAndEndsTheProcess)
{
    Start();
    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_TRUE(WaitForBoxWindows(L"P  V1.4", 1));   // it has read its report
    ASSERT_EQ(Sent, Send("newconnect"));
    ASSERT_TRUE(WaitForBoxWindows(Discovery, 1));

    DWORD start = GetTickCount();
    ASSERT_EQ(Sent, Send("exit_now"));
    EXPECT_TRUE(WaitForBoxEvents(directory, "quit", 2, 3000));
    EXPECT_EQ(0u, WaitForExit(server, 5000));
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 3000u);
    EXPECT_EQ(NoServer, Send("paper_P"));
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"RX70_SER_MUTEX");
    EXPECT_EQ(nullptr, mutex);
    if (mutex != NULL)
        CloseHandle(mutex);
}

// An upgrade sends "exit" and waits for the process: boxes that ignore their
// quit share one give-up deadline instead of adding theirs up.
TEST_F(ServerTest, ExitWithStuckBoxesEndsWithinOneDeadline)
{
    Start();
    ASSERT_TRUE(WriteFileBytes(directory + L"qorlbox.ignorequit", ""));
    for (const char* printer : {"A", "B", "C"}) {
        ASSERT_EQ(Sent, Send(std::string("paper_") + printer));
        ASSERT_TRUE(WaitForBoxWindows(std::wstring(printer, printer + 1) + L"  V1.4", 1));
    }
    DWORD start = GetTickCount();
    ASSERT_EQ(Sent, Send("exit"));
    EXPECT_EQ(0u, WaitForExit(server, 10000));
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 2900u);   // each box had its chance to quit
    EXPECT_LT(took, 3800u);
}

TEST_F(ServerTest, ASecondInstanceEndsAtOnceAndTheFirstServesOn)
{
    Start(WithoutBox);
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"RX70_SER_MUTEX");
    EXPECT_NE(nullptr, mutex);
    if (mutex != NULL)
        CloseHandle(mutex);

    std::wstring other = MakeProgramDirectory(L"SecondInstance", WithoutBox);
    ServerProcess second = StartServer(other, L"", L"QorlServer.exe", false);
    ASSERT_NE(nullptr, second.process);
    EXPECT_EQ(0u, WaitForExit(second, 3000));
    StopServer(&second);

    ASSERT_EQ(Sent, Send("paper_P"));
    Sync();
    EXPECT_EQ(L"paper", ReadReport(directory, L"TYPE"));
    EXPECT_FALSE(FileExists(other + L"box.ini"));
}

TEST_F(ServerTest, CommandLineIsIgnoredAndNoWindowShows)
{
    directory = MakeProgramDirectory(TestName(), WithoutBox);
    server = StartServer(directory, L"exit --help /?");
    ASSERT_NE(nullptr, server.process);
    ASSERT_EQ(Sent, Send("paper_P"));
    Sync();
    EXPECT_EQ(L"paper", ReadReport(directory, L"TYPE"));

    struct Search {
        DWORD pid;
        int visible;
    } search = {server.id, 0};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            Search* s = reinterpret_cast<Search*>(context);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == s->pid && IsWindowVisible(window))
                ++s->visible;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    EXPECT_EQ(0, search.visible);
}

// With no room beside the executable for the box's name, nothing is written
// or launched, yet the server serves.
TEST_F(ServerTest, AnExecutablePathWithNoRoomServesWithoutReports)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring base = std::wstring(temp) + L"qorl-e2e\\";
    // 249 units of directory: "QorlBox.exe" and its zero would need 261.
    std::wstring name(249 - base.size() - 1, L'd');
    directory = MakeProgramDirectory(name, WithBox, L"s.exe");
    ASSERT_EQ(249u, directory.size());
    server = StartServer(directory, L"", L"s.exe");
    ASSERT_NE(nullptr, server.process);
    ASSERT_EQ(Sent, Send("paper_P"));
    Sync();
    EXPECT_FALSE(FileExists(directory + L"box.ini"));
    EXPECT_FALSE(FileExists(directory + L"qorlbox.log"));
    ASSERT_EQ(Sent, Send("exit"));
    EXPECT_EQ(0u, WaitForExit(server, 5000));
}

// The shell's process handle from each launch is not kept: once a box has
// ended and nobody holds a handle to it, its process id is gone.
TEST_F(ServerTest, LaunchesDoNotKeepTheBoxProcess)
{
    Start();
    ASSERT_EQ(Sent, Send("paper_P"));
    ASSERT_TRUE(WaitForBoxWindows(L"P  V1.4", 1));
    DWORD pid = ReadBoxLog(directory)[0].pid;
    ASSERT_EQ(Sent, Send("normal_P"));
    ASSERT_TRUE(WaitForBoxEvents(directory, "quit", 1));
    HANDLE box = NULL;
    for (int i = 0; i < 100; ++i) {
        box = OpenProcess(SYNCHRONIZE, FALSE, pid);
        if (box == NULL)
            break;
        CloseHandle(box);
        Sleep(20);
    }
    EXPECT_EQ(nullptr, box);
}

}  // namespace

namespace {

// An installation on a Chinese system: a program folder named with spaces and
// Chinese characters, GBK printer names, the Chinese new-printer title. Runs
// only under code page 936 (LANG=zh_CN.UTF-8 for the Wine process).
class CodePage936Install : public ServerTest {};

TEST_F(CodePage936Install, ReportsLandInTheProgramFolderAndTheBoxStartsThere)
{
    ASSERT_EQ(936u, GetACP()) << "needs LANG=zh_CN.UTF-8 in the Unix environment";
    directory = MakeProgramDirectory(L"Qorl \x6807\x7B7E \x6253\x5370\x670D\x52A1", WithBox);
    server = StartServer(directory);
    ASSERT_NE(nullptr, server.process);

    const std::wstring printer = L"\x6807\x7B7E\x673A 1";   // 标签机 1
    char gbk[32];
    ASSERT_EQ(9, WideCharToMultiByte(936, 0, printer.c_str(), -1, gbk, sizeof(gbk), NULL, NULL));
    ASSERT_EQ(Sent, Send(std::string("paper_") + gbk));
    ASSERT_TRUE(WaitForBoxWindows(printer + L"  V1.4", 1));
    EXPECT_EQ(L"paper", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(printer, ReadReport(directory, L"PRINTER"));
    // The box's log lies beside the box that started: this folder's.
    std::vector<BoxLogEntry> log = ReadBoxLog(directory);
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("paper|" + Utf8(printer) + "|" + Utf8(printer + L"  V1.4"), log[0].detail);

    // The client explains the name as the server decodes it, with its bytes.
    std::wstring client = directory + L"QorlSend.exe";
    ASSERT_TRUE(CopyFileW(ClientUnderTest().c_str(), client.c_str(), FALSE));
    SetEnvironmentVariableW(L"QORLSEND_LANG", L"en");
    ProgramRun run = RunProgram(client, {L"--explain", L"paper_" + printer}, directory);
    SetEnvironmentVariableW(L"QORLSEND_LANG", NULL);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_NE(std::string::npos,
              run.output.find(std::string("printer:  \"") + gbk +
                              "\", decoded in code page 936 from the bytes B1 EA C7 A9 BB FA 20 31"))
        << run.output;

    // The server finds the new-printer box by its Chinese title.
    const std::wstring discovery = L"\x53D1\x73B0\x65B0\x6253\x5370\x673A";   // 发现新打印机
    ASSERT_EQ(Sent, Send("newconnect"));
    ASSERT_TRUE(WaitForBoxWindows(discovery, 1));
    ASSERT_EQ(Sent, Send("closeNewDev"));
    Sync();
    EXPECT_TRUE(BoxWindows(discovery).empty());
}

}  // namespace
