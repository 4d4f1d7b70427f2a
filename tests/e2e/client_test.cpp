// The shipped client QorlSend.exe through its command line, output and exit
// code, beside a server as the release unpacks (or alone): one table row a
// case.
#include "e2e_fixture.h"

namespace {

enum Setting { Alone, BesideServer, BesideServerWithoutBox };

struct ClientCase {
    const char* name;
    Setting setting;
    std::vector<std::wstring> arguments;
    DWORD exitCode;
    std::vector<std::string> output;   // each must appear; <DIR> is the folder
};

const std::string Usage = "usage: QorlSend MESSAGE";

const ClientCase Cases[] = {
    {"CheckAlone", Alone, {L"--check"}, 1, {"FAIL  no server runs in this session"}},
    {"CheckBesideServer", BesideServer, {L"--check"}, 0,
     {"ok    the server runs from <DIR>", "ok    QorlBox.exe is beside it",
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
    {"CheckWithArgument", Alone, {L"--check", L"now"}, 2, {Usage}},
};

class ClientTest : public ServerTest {};

TEST_F(ClientTest, EveryCaseOfTheTable)
{
    for (const ClientCase& row : Cases) {
        SCOPED_TRACE(row.name);
        std::wstring name(row.name, row.name + strlen(row.name));
        if (row.setting == Alone) {
            directory = MakeScratchDirectory(name);
        } else {
            directory = MakeProgramDirectory(name, row.setting == BesideServer ? WithBox
                                                                               : WithoutBox);
            server = StartServer(directory);
            ASSERT_NE(nullptr, server.process);
        }
        std::wstring client = directory + L"QorlSend.exe";
        ASSERT_TRUE(CopyFileW(ClientUnderTest().c_str(), client.c_str(), FALSE));

        ProgramRun run = RunProgram(client, row.arguments, directory);
        EXPECT_EQ(row.exitCode, run.exitCode) << run.output;
        for (std::string expected : row.output) {
            size_t at = expected.find("<DIR>");
            if (at != std::string::npos)
                expected.replace(at, 5, Utf8(directory));
            EXPECT_NE(std::string::npos, run.output.find(expected))
                << "missing: " << expected << "\nin:\n" << run.output;
        }
        if (row.setting == BesideServer && row.arguments[0] == L"--stop") {
            EXPECT_EQ(0u, WaitForExit(server, 0));   // ended, not only said so
        }
        StopServer(&server);
    }
}

}  // namespace
