// The shipped client QorlSend.exe through its command line, output and exit
// code, beside a server as the release unpacks (or alone): one table row a
// case.
#include "e2e_fixture.h"

namespace {

// PipeTaken: alone, with this test process holding the pipe's name.
enum Setting { Alone, BesideServer, BesideServerWithoutBox, PipeTaken };

struct ClientCase {
    const char* name;
    Setting setting;
    std::vector<std::wstring> arguments;
    DWORD exitCode;
    // Each must appear. <DIR> is the folder, <PID> the server's process id,
    // <SELF> this test's process id and executable, "1234 (e2e_tests.exe)".
    std::vector<std::string> output;
};

const std::string Usage = "usage: QorlSend MESSAGE";

const ClientCase Cases[] = {
    {"CheckAlone", Alone, {L"--check"}, 1, {"FAIL  no server runs in this session"}},
    {"CheckPipeTaken", PipeTaken, {L"--check"}, 1,
     {"FAIL  the pipe \\\\.\\pipe\\QorlPipe is held by process <SELF>, not by "
      "QorlServer.exe: another program has taken the pipe's name",
      "it may impersonate those that do not ask for identification only"}},
    {"CheckBesideServer", BesideServer, {L"--check"}, 0,
     {"ok    the pipe's server end is QorlServer.exe, process <PID>, of this session",
      "ok    the server runs from <DIR>", "ok    QorlBox.exe is beside it",
      "ok    this user can write box.ini in <DIR>", "result: a message sent now would be handled"}},
    {"CheckWithoutBox", BesideServerWithoutBox, {L"--check"}, 1,
     {"FAIL  QorlBox.exe is not in <DIR>"}},
    {"ExplainReport", Alone, {L"--explain", L"paper_Label_1"}, 0,
     {"title:    \"Label_1  V1.4\"", "1. close every status box titled \"Label_1  V1.4\"",
      "2. write TYPE=paper to box.ini", "3. write PRINTER=Label_1 to box.ini",
      "4. start QorlBox.exe"}},
    {"ExplainTypeOnly", Alone, {L"--explain", L"height_Q"}, 0,
     {"write TYPE=height to box.ini (PRINTER keeps its value)"}},
    {"ExplainLetterCase", Alone, {L"--explain", L"Paper_1"}, 1,
     {"nothing would happen: \"Paper\" is no command word; the nearest is \"paper\", which "
      "differs in letter case"}},
    {"ExplainStrayLineEnd", Alone, {L"--explain", L"paper\r\n"}, 1,
     {"\"paper\\r\\n\" is no command word; the nearest is \"paper\", which differs by a space"}},
    {"ExplainLineBreakInName", Alone, {L"--explain", L"paper_P\r\n"}, 1,
     {"nothing would happen: the printer name holds a line break"}},
    {"ExplainLongName", Alone, {L"--explain", L"paper_" + std::wstring(100, L'P')}, 1,
     {"nothing would happen: the printer name is over 99 bytes"}},
    {"ExplainLongMessage", Alone, {L"--explain", L"paper_" + std::wstring(251, L'P')}, 1,
     {"drops a longer message whole"}},
    {"ExplainExit", Alone, {L"--explain", L"exit_now"}, 0,
     {"the server would stop", "close every status box, whatever its title"}},
    {"StopAlone", Alone, {L"--stop"}, 0, {"no server was running in this session"}},
    {"StopBesideServer", BesideServer, {L"--stop", L"10"}, 0, {"the server has ended"}},
    {"SendAlone", Alone, {L"paper_P"}, 1, {"no server is running"}},
    {"SendTooLong", Alone, {L"paper_" + std::wstring(251, L'P')}, 2, {"nothing was sent"}},
    {"NoArguments", Alone, {}, 2, {Usage}},
    {"ExplainNothing", Alone, {L"--explain"}, 2, {Usage}},
    {"ExplainTwo", Alone, {L"--explain", L"paper_A", L"paper_B"}, 2, {Usage}},
    {"TwoMessages", Alone, {L"paper_A", L"paper_B"}, 2, {Usage}},
    {"UnknownOption", Alone, {L"--bogus"}, 2, {Usage}},
    {"StopNegative", Alone, {L"--stop", L"-1"}, 2, {Usage}},
    {"StopNotANumber", Alone, {L"--stop", L"ten"}, 2, {Usage}},
    {"CheckTwoPrinters", Alone, {L"--check", L"A", L"B"}, 2, {Usage}},
};

class ClientTest : public ServerTest {};

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

TEST_F(ClientTest, EveryCaseOfTheTable)
{
    for (const ClientCase& row : Cases) {
        SCOPED_TRACE(row.name);
        std::wstring name(row.name, row.name + strlen(row.name));
        HANDLE taken = INVALID_HANDLE_VALUE;
        if (row.setting == Alone || row.setting == PipeTaken) {
            directory = MakeScratchDirectory(name);
        } else {
            directory = MakeProgramDirectory(name, row.setting == BesideServer ? WithBox
                                                                               : WithoutBox);
            server = StartServer(directory);
            ASSERT_NE(nullptr, server.process);
        }
        std::wstring client = directory + L"QorlSend.exe";
        ASSERT_TRUE(CopyFileW(ClientUnderTest().c_str(), client.c_str(), FALSE));

        if (row.setting == PipeTaken) {
            // As any program could, before a server starts: a listening instance.
            taken = CreateNamedPipeW(L"\\\\.\\pipe\\QorlPipe", PIPE_ACCESS_INBOUND,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 0, 0, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, taken) << GetLastError();
        }

        ProgramRun run = RunProgram(client, row.arguments, directory);
        if (taken != INVALID_HANDLE_VALUE)
            CloseHandle(taken);
        std::vector<std::string> expected = row.output;
        for (std::string& text : expected) {
            Expand(&text, "<DIR>", Utf8(directory));
            Expand(&text, "<PID>", std::to_string(server.id));
            Expand(&text, "<SELF>", ThisProcess());
        }
        ExpectRun(run, row.exitCode, expected);
        if (row.setting == BesideServer && row.arguments[0] == L"--stop") {
            EXPECT_EQ(0u, WaitForExit(server, 0));   // ended, not only said so
        }
        StopServer(&server);
    }
}

}  // namespace
