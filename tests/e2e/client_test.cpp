// The shipped client QorlSend.exe through its command line, output and exit
// code, beside a server as the release unpacks (or alone): one table row a
// case.
#include "e2e_fixture.h"

namespace {

// PipeTaken: alone, with this test process holding the pipe's name.
// PipeShared: beside a server that serves the machine-wide pipe alone (its
// session pipe's name taken by this process first, as a server older than
// the session pipe), with instances of this test process's made before the
// server's own, which connections reach first, each served again after its
// client as a server serves it (Windows would give every new client the
// oldest of them). MachinePipeHeld: beside a server, with the machine-wide
// pipe's one instance this process's, made first, as another user's server
// would hold it: the server serves its session pipe alone. HiddenConsole,
// NoWindow: alone,
// started as an installer or a scheduled task starts a program.
enum Setting {
    Alone, BesideServer, BesideServerWithoutBox, PipeTaken, PipeShared, MachinePipeHeld,
    HiddenConsole, NoWindow
};

struct ClientCase {
    const char* name;
    Setting setting;
    std::vector<std::wstring> arguments;
    DWORD exitCode;
    // <DIR> in an argument is the folder without its backslash.
    // Each must appear. <DIR> is the folder, <PID> the server's process id,
    // <SELF> this test's process id and executable, "1234 (e2e_tests.exe)".
    std::vector<std::string> output;
    std::vector<std::string> chinese;   // the same, on a Chinese Windows
};

const std::string Usage = "usage: QorlSend MESSAGE";
const std::string ZhUsage = "用法： QorlSend 消息";

const ClientCase Cases[] = {
    {"CheckAlone", Alone, {L"--check"}, 1, {"FAIL  no server runs in this session"},
     {"失败  本会话中没有后台程序在运行"}},
    {"CheckPipeTaken", PipeTaken, {L"--check"}, 1,
     {"FAIL  the pipe \\\\.\\pipe\\QorlPipe is held by process <SELF>, not by "
      "QorlServer.exe: another program has taken the pipe's name",
      "it may impersonate those that do not ask for identification only"},
     {"失败  管道 \\\\.\\pipe\\QorlPipe 由进程 <SELF> 占用，而不是由 QorlServer.exe 占用",
      "对于未要求仅限标识级别的发送方，它还可以模拟其身份"}},
    {"CheckBesideServer", BesideServer, {L"--check"}, 0,
     {"ok    the pipe's server end is QorlServer.exe, process <PID>, of this session",
      "ok    the server runs from <DIR>", "ok    QorlBox.exe is beside it",
      "ok    this user can write box.ini in <DIR>", "result: a message sent now would be handled",
      "is served by QorlServer.exe, process <PID>: senders of this version reach the server there"},
     {"正常  管道的服务器端是本会话的 QorlServer.exe，进程 <PID>", "正常  后台程序从 <DIR> 运行",
      "正常  QorlBox.exe 与后台程序在同一文件夹中", "正常  本用户可以在 <DIR> 中写入 box.ini",
      "结果：现在发送的消息会被处理", "由 QorlServer.exe（进程 <PID>）提供服务：本版本的发送程序通过它连接后台程序"}},
    {"CheckWithoutBox", BesideServerWithoutBox, {L"--check"}, 1,
     {"FAIL  QorlBox.exe is not in <DIR>"},
     {"失败  QorlBox.exe 不在 <DIR> 中"}},
    {"ExplainReport", Alone, {L"--explain", L"paper_Label_1"}, 0,
     {"title:    \"Label_1  V1.4\"", "1. close every status box titled \"Label_1  V1.4\"",
      "2. write TYPE=paper to box.ini", "3. write PRINTER=Label_1 to box.ini",
      "4. start QorlBox.exe"},
     {"标题：    \"Label_1  V1.4\"", "1. 关闭所有标题为 \"Label_1  V1.4\" 的状态框",
      "2. 把 TYPE=paper 写入 box.ini", "3. 把 PRINTER=Label_1 写入 box.ini",
      "4. 从后台程序的文件夹启动 QorlBox.exe"}},
    {"ExplainTypeOnly", Alone, {L"--explain", L"height_Q"}, 0,
     {"write TYPE=height to box.ini (PRINTER keeps its value)"},
     {"把 TYPE=height 写入 box.ini（PRINTER 保持原值）"}},
    {"ExplainLetterCase", Alone, {L"--explain", L"Paper_1"}, 1,
     {"nothing would happen: \"Paper\" is no command word; the nearest is \"paper\", which "
      "differs in letter case"},
     {"不会有任何动作：\"Paper\" 不是命令词；最接近的是 \"paper\"，区别在于大小写不同"}},
    {"ExplainStrayLineEnd", Alone, {L"--explain", L"paper\r\n"}, 1,
     {"\"paper\\r\\n\" is no command word; the nearest is \"paper\", which differs by a space"},
     {"\"paper\\r\\n\" 不是命令词；最接近的是 \"paper\"，区别在于多了空格"}},
    {"ExplainLineBreakInName", Alone, {L"--explain", L"paper_P\r\n"}, 1,
     {"nothing would happen: the printer name holds a line break"},
     {"不会有任何动作：打印机名中含有换行符"}},
    {"ExplainLongName", Alone, {L"--explain", L"paper_" + std::wstring(100, L'P')}, 1,
     {"nothing would happen: the printer name is over 99 bytes"},
     {"不会有任何动作：打印机名超过 99 字节"}},
    {"ExplainLongMessage", Alone, {L"--explain", L"paper_" + std::wstring(251, L'P')}, 1,
     {"drops a longer message whole"},
     {"更长的消息会被整条丢弃"}},
    {"ExplainExit", Alone, {L"--explain", L"exit_now"}, 0,
     {"the server would stop", "close every status box, whatever its title"},
     {"后台程序会按以下顺序停止", "关闭所有状态框，不论标题"}},
    {"StopAlone", Alone, {L"--stop"}, 0, {"no server was running in this session"},
     {"本会话中没有正在运行的后台程序"}},
    {"StopBesideServer", BesideServer, {L"--stop", L"10"}, 0, {"the server has ended"},
     {"后台程序已结束"}},
    {"StopOwnFolder", BesideServer, {L"--stop", L"5", L"<DIR>"}, 0, {"the server has ended"},
     {"后台程序已结束"}},
    {"StopOtherFolder", BesideServer, {L"--stop", L"5", L"C:\\Other Suite"}, 0,
     {"QorlServer.exe, process <PID> (<DIR>QorlServer.exe), does not run from C:\\Other Suite: "
      "it is left running"},
     {"QorlServer.exe（进程 <PID>，<DIR>QorlServer.exe）不是从 C:\\Other Suite 运行的：未停止它"}},
    {"StopPipeShared", PipeShared, {L"--stop"}, 0, {"the server has ended"}, {"后台程序已结束"}},
    // No time to look further than the first instance reached.
    {"StopPipeSharedNoTime", PipeShared, {L"--stop", L"0"}, 3,
     {"was answered by process <SELF> of session",
      "not by QorlServer.exe, process <PID>, of this session and user: nothing was sent"},
     {"由进程 <SELF> 应答（会话", "QorlServer.exe（进程 <PID>）应答：未发送任何内容"}},
    {"CheckMachinePipeHeld", MachinePipeHeld, {L"--check"}, 0,
     {"senders older than this version send to the machine-wide pipe",
      "info  the pipe \\\\.\\pipe\\QorlPipe is held by process <SELF>, not by QorlServer.exe",
      "result: a message sent now would be handled"},
     {"早于本版本的发送程序只会发送到全机管道", "信息  管道 \\\\.\\pipe\\QorlPipe 由进程 <SELF> 占用",
      "结果：现在发送的消息会被处理"}},
    {"StopMachinePipeHeld", MachinePipeHeld, {L"--stop"}, 0, {"the server has ended"},
     {"后台程序已结束"}},
    {"SendAlone", Alone, {L"paper_P"}, 1, {"no server is running"},
     {"没有正在运行的后台程序"}},
    {"SendTooLong", Alone, {L"paper_" + std::wstring(251, L'P')}, 2, {"nothing was sent"},
     {"未发送任何内容"}},
    {"SendNameTooLong", Alone, {L"paper_" + std::wstring(100, L'P')}, 2,
     {"printer name is over 99 bytes; the server would drop the message; nothing was sent"},
     {"打印机名超过 99 字节；后台程序会丢弃这条消息；未发送任何内容"}},
    {"NoArguments", Alone, {}, 2, {Usage}, {ZhUsage}},
    {"NoArgumentsHiddenConsole", HiddenConsole, {}, 2, {}, {}},
    {"NoArgumentsNoWindow", NoWindow, {}, 2, {}, {}},
    {"ExplainNothing", Alone, {L"--explain"}, 2, {Usage}, {ZhUsage}},
    {"ExplainTwo", Alone, {L"--explain", L"paper_A", L"paper_B"}, 2, {Usage}, {ZhUsage}},
    {"TwoMessages", Alone, {L"paper_A", L"paper_B"}, 2, {Usage}, {ZhUsage}},
    {"UnknownOption", Alone, {L"--bogus"}, 2, {Usage}, {ZhUsage}},
    {"StopNegative", Alone, {L"--stop", L"-1"}, 2, {Usage}, {ZhUsage}},
    {"StopNotANumber", Alone, {L"--stop", L"ten"}, 2, {Usage}, {ZhUsage}},
    {"CheckTwoPrinters", Alone, {L"--check", L"A", L"B"}, 2, {Usage}, {ZhUsage}},
};

std::string ThisProcess()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring file(path, length);
    file = file.substr(file.rfind(L'\\') + 1);
    return std::to_string(GetCurrentProcessId()) + " (" + Utf8(file) + ")";
}

void Expand(std::string* text, const std::string& mark, const std::string& value)
{
    size_t at = text->find(mark);
    if (at != std::string::npos)
        text->replace(at, mark.size(), value);
}

// Redirected output is in the ANSI code page: compared as UTF-8.
std::string FromAnsi(const std::string& bytes)
{
    std::wstring wide(bytes.size() + 1, L'\0');
    int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                    &wide[0], static_cast<int>(wide.size()));
    wide.resize(units > 0 ? units : 0);
    return Utf8(wide);
}

void ExpectCrlf(const std::string& output)
{
    for (size_t at = output.find('\n'); at != std::string::npos; at = output.find('\n', at + 1))
        EXPECT_TRUE(at > 0 && output[at - 1] == '\r') << "a bare LF in:\n" << output;
}

bool WaitForServerMutex()
{
    for (int i = 0; i < 200; ++i) {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"RX70_SER_MUTEX");
        if (mutex != NULL) {
            CloseHandle(mutex);
            return true;
        }
        Sleep(25);
    }
    return false;
}

class ClientTest : public ServerTest {
protected:
    void RunCases(bool chinese);
};
class CodePage936Client : public ClientTest {};
// A Chinese display language over code page 1252, as with an English
// Windows and the Chinese language pack: Chinese would be question marks.
class ChineseDisplayOn1252 : public ClientTest {};

void ClientTest::RunCases(bool chinese)
{
    for (const ClientCase& row : Cases) {
        SCOPED_TRACE(row.name);
        std::wstring name(row.name, row.name + strlen(row.name));
        HANDLE taken = INVALID_HANDLE_VALUE;
        ServedPipe shared;
        ServedPipe squatted;
        bool beside = row.setting == BesideServer || row.setting == BesideServerWithoutBox ||
                      row.setting == PipeShared || row.setting == MachinePipeHeld;
        if (!beside) {
            directory = MakeScratchDirectory(name);
        } else {
            directory = MakeProgramDirectory(
                name, row.setting == BesideServerWithoutBox ? WithoutBox : WithBox);
            if (row.setting == PipeShared) {
                shared = ServePipeInstances(6);
                squatted = ServePipeInstances(1, SessionPipeName(), 1);
            }
            if (row.setting == MachinePipeHeld)
                shared = ServePipeInstances(1, L"\\\\.\\pipe\\QorlPipe", 1);
            // Its start is told by its mutex: a connection would reach ours.
            server = StartServer(directory, L"", L"QorlServer.exe", shared.instances.empty());
            ASSERT_NE(nullptr, server.process);
            ASSERT_TRUE(WaitForServerMutex());
            for (int i = 0; i < 100 && row.setting == MachinePipeHeld &&
                            !WaitNamedPipeW(SessionPipeName().c_str(), 50);
                 ++i)
                Sleep(50);   // until the session pipe serves
        }
        std::wstring client = directory + L"QorlSend.exe";
        ASSERT_TRUE(CopyFileW(ClientUnderTest().c_str(), client.c_str(), FALSE));

        if (row.setting == PipeTaken) {
            // As any program could, before a server starts: a listening instance.
            taken = CreateNamedPipeW(L"\\\\.\\pipe\\QorlPipe", PIPE_ACCESS_INBOUND,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 0, 0, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, taken) << GetLastError();
        }

        std::vector<std::wstring> arguments = row.arguments;
        for (std::wstring& argument : arguments) {
            if (argument == L"<DIR>")
                argument = directory.substr(0, directory.size() - 1);
        }
        DWORD creation = row.setting == HiddenConsole ? CREATE_NEW_CONSOLE
                         : row.setting == NoWindow    ? CREATE_NO_WINDOW
                                                      : 0;
        DWORD started = GetTickCount();
        ProgramRun run = RunProgram(client, arguments, directory, 20000, creation);
        if (creation != 0) {   // nobody could press a key there: no wait for one
            EXPECT_GT(1000u, GetTickCount() - started);
        }
        if (taken != INVALID_HANDLE_VALUE)
            CloseHandle(taken);
        ExpectCrlf(run.output);
        run.output = FromAnsi(run.output);
        std::vector<std::string> expected = chinese ? row.chinese : row.output;
        for (std::string& text : expected) {
            Expand(&text, "<DIR>", Utf8(directory));
            Expand(&text, "<PID>", std::to_string(server.id));
            Expand(&text, "<SELF>", ThisProcess());
        }
        ExpectRun(run, row.exitCode, expected);
        if (beside && row.arguments[0] == L"--stop") {   // ended, not only said so
            bool ends = row.exitCode == 0 && row.output[0] == "the server has ended";
            EXPECT_EQ(ends ? 0u : STILL_ACTIVE, WaitForExit(server, ends ? 1000 : 0));
        }
        if (row.setting == MachinePipeHeld && WaitForExit(server, 0) == STILL_ACTIVE)
            RunProgram(client, {L"--stop"}, directory);   // the harness's exit goes machine-wide
        if (!shared.instances.empty()) {
            EXPECT_EQ("", StopServingPipe(&shared) + StopServingPipe(&squatted))
                << "the stop wrote to another process's instance";
        }
        StopServer(&server);
    }
}

TEST_F(ClientTest, EveryCaseOfTheTable)
{
    RunCases(false);
}

TEST_F(CodePage936Client, EveryCaseOfTheTableInChinese)
{
    ASSERT_EQ(936u, GetACP());
    RunCases(true);
}

TEST_F(ChineseDisplayOn1252, EveryCaseOfTheTableInEnglish)
{
    ASSERT_EQ(1252u, GetACP());
    ASSERT_EQ(LANG_CHINESE, PRIMARYLANGID(GetUserDefaultUILanguage()));
    RunCases(false);
}

// A Chinese printer name, in Chinese and, asked for, in English.
TEST_F(CodePage936Client, ChinesePrinterNameInBothLanguages)
{
    directory = MakeScratchDirectory(L"client-chinese-name");
    std::wstring client = directory + L"QorlSend.exe";
    ASSERT_TRUE(CopyFileW(ClientUnderTest().c_str(), client.c_str(), FALSE));
    const std::vector<std::wstring> explain = {L"--explain",
                                               L"paper_\x6807\x7B7E\x6253\x5370\x673A"};
    const std::string bytes = "B1 EA C7 A9 B4 F2 D3 A1 BB FA";
    ProgramRun run = RunProgram(client, explain, directory);
    ExpectCrlf(run.output);
    run.output = FromAnsi(run.output);
    ExpectRun(run, 0, {"打印机：  \"标签打印机\"，按代码页 936 解码，原始字节为 " + bytes});

    SetEnvironmentVariableW(L"QORLSEND_LANG", L"en");
    run = RunProgram(client, explain, directory);
    ProgramRun check = RunProgram(client, {L"--check"}, directory);
    SetEnvironmentVariableW(L"QORLSEND_LANG", NULL);
    run.output = FromAnsi(run.output);
    ExpectRun(run, 0,
              {"printer:  \"标签打印机\", decoded in code page 936 from the bytes " + bytes});
    ExpectRun(check, 1, {"FAIL  no server runs in this session"});
}

// Every text has its Chinese one, with the same format specifiers in the
// same order and the same line breaks: wvsprintfW has no positional ones.
std::string Specifiers(const WCHAR* text, int length)
{
    std::string found;
    for (int i = 0; i < length; ++i) {
        if (text[i] == L'\n')
            found += "\\n ";
        if (text[i] != L'%')
            continue;
        for (++i; i < length && wcschr(L"-0123456789lh#", text[i]) != NULL; ++i)
            found += static_cast<char>(text[i]);
        if (i < length)
            found += static_cast<char>(text[i]);
        found += ' ';
    }
    return found;
}

BOOL CALLBACK CompareBlock(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR compared)
{
    const WORD Languages[2] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                               MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)};
    const WCHAR* texts[2] = {};
    for (int i = 0; i < 2; ++i) {
        HRSRC found = FindResourceExW(module, RT_STRING, name, Languages[i]);
        if (found != NULL)
            texts[i] = static_cast<const WCHAR*>(LockResource(LoadResource(module, found)));
    }
    UINT block = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name));
    for (UINT i = 0; i < 16 && texts[0] != nullptr; ++i) {
        int length = *texts[0];
        int translated = texts[1] != nullptr ? *texts[1] : 0;
        if (length > 0) {
            ++*reinterpret_cast<int*>(compared);
            UINT id = (block - 1) * 16 + i;
            EXPECT_NE(0, translated) << "string " << id << " has no Chinese text";
            if (translated > 0) {
                EXPECT_EQ(Specifiers(texts[0] + 1, length), Specifiers(texts[1] + 1, translated))
                    << "string " << id;
            }
        }
        texts[0] += 1 + length;
        if (texts[1] != nullptr)
            texts[1] += 1 + translated;
    }
    return TRUE;
}

TEST_F(ClientTest, EveryTextHasItsChineseOne)
{
    HMODULE client = LoadLibraryExW(ClientUnderTest().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, client);
    int compared = 0;
    EXPECT_TRUE(EnumResourceNamesW(client, RT_STRING, CompareBlock,
                                   reinterpret_cast<LONG_PTR>(&compared)));
    EXPECT_LT(100, compared);
    FreeLibrary(client);
}

}  // namespace
