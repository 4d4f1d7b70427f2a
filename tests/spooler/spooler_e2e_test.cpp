// The real server against the stand-in spooler: what a purge and the
// queue-mode worker do to printers, and how they call the spooler; and what
// the client tells of a printer this user may or may not manage.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <set>

#include "../e2e/e2e_fixture.h"
#include "spooler_standin.h"

namespace {

const DWORD Direct = PRINTER_ATTRIBUTE_DIRECT;
const DWORD Queued = PRINTER_ATTRIBUTE_QUEUED;
// Bits the server must leave as they are.
const DWORD Others = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_SHARED |
                     PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS | PRINTER_ATTRIBUTE_ENABLE_BIDI |
                     PRINTER_ATTRIBUTE_RAW_ONLY;

class SpoolerTest : public ::testing::Test {
protected:
    void Start(const std::vector<StandInPrinter>& printers, BoxKind box = WithoutBox)
    {
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        directory = MakeProgramDirectory(L"spooler-" + std::wstring(name, name + strlen(name)), box);
        // Where Windows looks first for a DLL that is no KnownDLL.
        ASSERT_TRUE(CopyFileW(FileFromEnvironment(L"QORL_PLANTED", L"planted\\winspool.drv").c_str(),
                              (directory + L"winspool.drv").c_str(), FALSE));
        ASSERT_TRUE(InstallSpoolerStandIn(directory));
        ASSERT_TRUE(InstallSpoolerStandIn(directory, L"QorlSend.exe"));
        ASSERT_TRUE(WriteStandInPrinters(directory, printers));
        server = StartServer(directory);
        ASSERT_NE(nullptr, server.process) << "QorlServer.exe did not start";
    }

    void TearDown() override
    {
        StopServer(&server);
        UseSystemSpooler();
        EXPECT_FALSE(FileExists(directory + L"planted-winspool-loaded"))
            << "the winspool.drv beside the programs was loaded";
    }

    StandInPrinter Read(const std::wstring& name) { return ReadStandInPrinter(directory, name); }

    std::vector<SpoolerCall> Calls(const std::string& op, const std::wstring& printer)
    {
        std::vector<SpoolerCall> found;
        for (const SpoolerCall& call : ReadSpoolerCalls(directory)) {
            if (call.op == op && call.printer == printer)
                found.push_back(call);
        }
        return found;
    }

    // Closes of the printer, or failed opens of it: one per finished attempt.
    size_t Finished(const std::wstring& printer)
    {
        size_t done = 0;
        for (const SpoolerCall& call : ReadSpoolerCalls(directory)) {
            if (call.printer == printer && (call.op == "close" || (call.op == "open" && !call.ok)))
                ++done;
        }
        return done;
    }

    // Sends "addNewDev" for the printer and waits until the worker is done with it.
    bool AddAndWait(const std::wstring& printer)
    {
        size_t before = Finished(printer);
        if (Send("addNewDev_" + Utf8(printer)) != Sent)
            return false;
        return WaitForFinished(printer, before + 1);
    }

    bool WaitForFinished(const std::wstring& printer, size_t count)
    {
        DWORD start = GetTickCount();
        while (Finished(printer) < count) {
            if (GetTickCount() - start > 5000)
                return false;
            Sleep(10);
        }
        return true;
    }

    // Every open asked for full access, and nothing is left open.
    void ExpectCleanCalls()
    {
        for (const SpoolerCall& call : ReadSpoolerCalls(directory)) {
            if (call.op == "open") {
                EXPECT_EQ(static_cast<DWORD>(PRINTER_ALL_ACCESS), call.access)
                    << Utf8(call.printer);
            }
        }
        EXPECT_TRUE(OpenStandInHandles(directory).empty());
    }

    // With the worker inside a slow read and a request waiting, "exit" arrives:
    // the waiting printer must never be opened.
    void ExpectNoUpdateAfterExit(DWORD exitTimeoutMs)
    {
        ASSERT_EQ(Sent, Send("addNewDev_Slow"));
        ASSERT_TRUE(WaitForSpoolerCalls(directory, "get", L"Slow", 1));
        ASSERT_EQ(Sent, Send("addNewDev_Waiting"));
        ASSERT_EQ(Sent, Send("exit"));
        EXPECT_EQ(0u, WaitForExit(server, exitTimeoutMs));

        EXPECT_TRUE(Calls("open", L"Waiting").empty());
        EXPECT_EQ(Direct, Read(L"Waiting").attributes);
    }

    std::wstring directory;
    ServerProcess server = {};
};

TEST_F(SpoolerTest, PurgeEmptiesThatPrinterOnlyAndTouchesNoBoxOrReport)
{
    Start({Printer(L"Alpha", Direct, 5), Printer(L"Beta", Queued, 3)}, WithBox);
    ASSERT_EQ(Sent, Send("paper_Alpha"));
    ASSERT_TRUE(WaitForBoxEvents(directory, "start", 1));
    std::string report = ReadFileBytes(directory + L"box.ini");

    ASSERT_EQ(Sent, Send("devCancel_Alpha"));
    Sync();
    EXPECT_EQ(0u, Read(L"Alpha").jobs);
    EXPECT_EQ(3u, Read(L"Beta").jobs);
    EXPECT_EQ(Direct, Read(L"Alpha").attributes);

    std::vector<SpoolerCall> calls = ReadSpoolerCalls(directory);
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ("open", calls[0].op);
    EXPECT_EQ(L"Alpha", calls[0].printer);
    EXPECT_EQ("set", calls[1].op);
    EXPECT_EQ(0u, calls[1].level);
    EXPECT_EQ(static_cast<DWORD>(PRINTER_CONTROL_PURGE), calls[1].command);
    EXPECT_TRUE(calls[1].ok);
    EXPECT_EQ("close", calls[2].op);
    EXPECT_EQ(calls[0].handle, calls[2].handle);
    EXPECT_EQ(calls[0].thread, calls[2].thread);

    // A printer that does not exist: the open fails and nothing follows.
    ASSERT_EQ(Sent, Send("devCancel_Gamma"));
    Sync();
    std::vector<SpoolerCall> missing = Calls("open", L"Gamma");
    ASSERT_EQ(1u, missing.size());
    EXPECT_FALSE(missing[0].ok);
    EXPECT_EQ(4u, ReadSpoolerCalls(directory).size());
    EXPECT_EQ(3u, Read(L"Beta").jobs);

    EXPECT_EQ(report, ReadFileBytes(directory + L"box.ini"));
    EXPECT_EQ(1u, CountBoxEvents(directory, "start"));
    EXPECT_EQ(0u, CountBoxEvents(directory, "quit"));
    ExpectCleanCalls();
}

TEST_F(SpoolerTest, QueueModeClearsDirectSetsQueuedOnTheWorkerAndKeepsTheRest)
{
    StandInPrinter direct = Printer(L"Direct", Direct | Others, 2);
    direct.port = L"USB007:";
    direct.deviceNotSelectedTimeout = 1234;
    direct.transmissionRetryTimeout = 5678;
    StandInPrinter both = Printer(L"Both", Direct | Queued | PRINTER_ATTRIBUTE_LOCAL);
    Start({direct, both, Printer(L"Queued", Queued | PRINTER_ATTRIBUTE_NETWORK)});

    // The purge runs on the pipe thread: the worker is another.
    ASSERT_EQ(Sent, Send("devCancel_Queued"));
    Sync();
    ASSERT_EQ(1u, Calls("open", L"Queued").size());
    DWORD pipeThread = Calls("open", L"Queued")[0].thread;

    ASSERT_TRUE(AddAndWait(L"Direct"));
    StandInPrinter after = Read(L"Direct");
    EXPECT_EQ(Queued | Others, after.attributes);
    EXPECT_EQ(L"USB007:", after.port);
    EXPECT_EQ(1234u, after.deviceNotSelectedTimeout);
    EXPECT_EQ(5678u, after.transmissionRetryTimeout);
    EXPECT_EQ(2u, after.jobs);
    Sync();
    EXPECT_EQ(L"addNewDev", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"Direct", ReadReport(directory, L"PRINTER"));

    std::vector<SpoolerCall> gets = Calls("get", L"Direct");
    ASSERT_EQ(1u, gets.size());
    EXPECT_EQ(5u, gets[0].level);
    EXPECT_EQ(256u, gets[0].size);
    EXPECT_NE(pipeThread, gets[0].thread);
    std::vector<SpoolerCall> sets = Calls("set", L"Direct");
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ(5u, sets[0].level);
    EXPECT_EQ(0u, sets[0].command);
    EXPECT_TRUE(sets[0].ok);

    ASSERT_TRUE(AddAndWait(L"Both"));
    EXPECT_EQ(Queued | PRINTER_ATTRIBUTE_LOCAL, Read(L"Both").attributes);

    // Already queued: written back as it was.
    ASSERT_TRUE(AddAndWait(L"Queued"));
    sets = Calls("set", L"Queued");
    ASSERT_EQ(2u, sets.size());   // the purge, then the write
    EXPECT_EQ(5u, sets[1].level);
    EXPECT_EQ(Queued | PRINTER_ATTRIBUTE_NETWORK, sets[1].attributes);
    EXPECT_EQ(Queued | PRINTER_ATTRIBUTE_NETWORK, Read(L"Queued").attributes);
    EXPECT_EQ(L"QORL:", Read(L"Queued").port);
    ExpectCleanCalls();
}

TEST_F(SpoolerTest, MissingOrOversizedPrintersStayUntouched)
{
    StandInPrinter big = Printer(L"Big", Direct | PRINTER_ATTRIBUTE_LOCAL);
    big.needed = 257;
    StandInPrinter fits = Printer(L"Fits", Direct);
    fits.needed = 256;
    Start({big, fits});

    ASSERT_TRUE(AddAndWait(L"Nowhere"));
    EXPECT_TRUE(Calls("get", L"Nowhere").empty());
    EXPECT_TRUE(Calls("set", L"Nowhere").empty());

    ASSERT_TRUE(AddAndWait(L"Big"));
    std::vector<SpoolerCall> gets = Calls("get", L"Big");
    ASSERT_EQ(1u, gets.size());
    EXPECT_FALSE(gets[0].ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), gets[0].error);
    EXPECT_TRUE(Calls("set", L"Big").empty());
    EXPECT_EQ(Direct | PRINTER_ATTRIBUTE_LOCAL, Read(L"Big").attributes);

    // Exactly the buffer's size still fits.
    ASSERT_TRUE(AddAndWait(L"Fits"));
    EXPECT_EQ(Queued, Read(L"Fits").attributes);
    ExpectCleanCalls();
}

TEST_F(SpoolerTest, ThreeQuickRequestsAlwaysServeTheLast)
{
    const std::wstring names[] = {L"First", L"Second printer", L"The third printer"};
    // Once with the worker still busy on the first when the others arrive,
    // once without.
    for (DWORD delay : {400u, 0u}) {
        SCOPED_TRACE(delay);
        std::vector<StandInPrinter> printers;
        for (const std::wstring& name : names)
            printers.push_back(Printer(name, Direct | PRINTER_ATTRIBUTE_SHARED));
        printers[0].delayMs = delay;
        if (server.process == NULL) {
            Start(printers);
        } else {
            ASSERT_TRUE(WriteStandInPrinters(directory, printers));
            ClearSpoolerCalls(directory);
        }

        for (const std::wstring& name : names)
            ASSERT_EQ(Sent, Send("addNewDev_" + Utf8(name)));
        ASSERT_TRUE(WaitForFinished(names[2], 1));
        EXPECT_EQ(Queued | PRINTER_ATTRIBUTE_SHARED, Read(names[2]).attributes);

        // Nothing but whole names reached the spooler, and the last one last.
        std::set<std::wstring> known(names, names + 3);
        std::wstring lastOpened;
        for (const SpoolerCall& call : ReadSpoolerCalls(directory)) {
            if (call.op != "open")
                continue;
            EXPECT_EQ(1u, known.count(call.printer)) << Utf8(call.printer);
            EXPECT_TRUE(call.ok);
            lastOpened = call.printer;
        }
        EXPECT_EQ(names[2], lastOpened);
        for (const std::wstring& name : names) {
            DWORD attributes = Read(name).attributes;
            EXPECT_TRUE(attributes == (Direct | PRINTER_ATTRIBUTE_SHARED) ||
                        attributes == (Queued | PRINTER_ATTRIBUTE_SHARED))
                << Utf8(name);
        }
        ExpectCleanCalls();
    }
}

// Purges on the pipe thread while the worker updates printers: both threads
// use the spooler at once, and no call, job count or handle goes astray.
TEST_F(SpoolerTest, PurgesDuringUpdatesAllLand)
{
    const int rounds = 8;
    std::vector<StandInPrinter> printers;
    for (int i = 0; i < rounds; ++i) {
        printers.push_back(Printer(L"W" + std::to_wstring(i), Direct));
        printers.back().delayMs = 20;
        printers.push_back(Printer(L"J" + std::to_wstring(i), Queued, 7));
    }
    Start(printers);

    for (int i = 0; i < rounds; ++i) {
        ASSERT_EQ(Sent, Send("addNewDev_W" + std::to_string(i)));
        ASSERT_EQ(Sent, Send("devCancel_J" + std::to_string(i)));
    }
    std::wstring last = L"W" + std::to_wstring(rounds - 1);
    ASSERT_TRUE(WaitForFinished(last, 1));
    Sync();   // the last purge, sent after it, may still run on the pipe thread
    EXPECT_EQ(Queued, Read(last).attributes);

    std::vector<SpoolerCall> calls = ReadSpoolerCalls(directory);
    size_t purges = 0;
    std::set<DWORD> opened, closed;
    for (const SpoolerCall& call : calls) {
        EXPECT_TRUE(call.ok) << call.op << " " << Utf8(call.printer);
        purges += call.op == "set" && call.level == 0;
        if (call.op == "open") {
            EXPECT_TRUE(opened.insert(call.handle).second);
        } else if (call.op == "close") {
            EXPECT_TRUE(closed.insert(call.handle).second);
        }
    }
    EXPECT_EQ(static_cast<size_t>(rounds), purges);
    EXPECT_EQ(opened, closed);
    for (int i = 0; i < rounds; ++i)
        EXPECT_EQ(0u, Read(L"J" + std::to_wstring(i)).jobs) << i;
    ExpectCleanCalls();
}

TEST_F(SpoolerTest, AfterExitNoUpdateStarts)
{
    StandInPrinter slow = Printer(L"Slow", Direct);
    slow.delayMs = 600;
    Start({slow, Printer(L"Waiting", Direct)});
    ExpectNoUpdateAfterExit(5000);
}

// Closing the boxes at exit can take seconds; the worker must not pick up
// the waiting request meanwhile.
TEST_F(SpoolerTest, AfterExitNoUpdateStartsWhileBoxesClose)
{
    StandInPrinter slow = Printer(L"Slow", Direct);
    slow.delayMs = 600;
    Start({slow, Printer(L"Waiting", Direct)}, WithBox);
    ASSERT_TRUE(WriteFileBytes(directory + L"qorlbox.ignorequit", ""));
    ASSERT_EQ(Sent, Send("paper_Stuck"));
    ASSERT_TRUE(WaitForBoxWindows(L"Stuck  V1.4", 1));
    ExpectNoUpdateAfterExit(8000);
}

// QorlSend beside the server, on a spooler that refuses "DeniedPrinter" to
// this user as Windows refuses a standard user: one row a case.
struct PrinterCheckCase {
    const char* name;
    std::vector<std::wstring> arguments;
    DWORD exitCode;
    std::vector<std::string> output;   // each must appear
};

// Name and port past what the server's 256-byte level-5 read holds.
const wchar_t LongName[] =
    L"Qorl QL-820 label printer, dispatch hall 2, loading bay 3, east wall, station 14";

const PrinterCheckCase PrinterChecks[] = {
    {"Refused", {L"--check", L"DeniedPrinter"}, 1,
     {"ok    the printer \"DeniedPrinter\" exists",
      "FAIL  this user may not administer the printer \"DeniedPrinter\" (ERROR_ACCESS_DENIED",
      "devCancel and addNewDev will do nothing for this user", "\"Manage this printer\" permission",
      "jobs queued on the printer \"DeniedPrinter\": 3", "but devCancel and addNewDev for"}},
    {"AllowedDirect", {L"--check", L"Direct"}, 0,
     {"ok    this user may administer the printer \"Direct\"",
      "info  the printer \"Direct\" prints directly, bypassing the spooler (attributes "
      "0x00000002): addNewDev would switch it to spooled printing",
      "info  jobs queued on the printer \"Direct\": 4",
      "result: a message sent now would be handled, and its status box shown\r\n"}},
    {"AllowedSpooled", {L"--check", L"Spooled"}, 0,
     {"spools, and starts printing once the last page is spooled",
      "jobs queued on the printer \"Spooled\": 0"}},
    {"Missing", {L"--check", L"Nowhere"}, 1,
     {"FAIL  there is no printer \"Nowhere\" (ERROR_INVALID_PRINTER_NAME)",
      "the spooler's exact name"}},
    {"ExplainRefused", {L"--explain", L"devCancel_DeniedPrinter"}, 0,
     {"1. purge every job",
      "spooler:  this user may not administer the printer \"DeniedPrinter\""}},
    {"ExplainAllowed", {L"--explain", L"addNewDev_Direct"}, 0,
     {"spooler:  this user may administer the printer \"Direct\""}},
    {"ExplainMissing", {L"--explain", L"devCancel_Nowhere"}, 0,
     {"spooler:  there is no printer \"Nowhere\""}},
    {"LongName", {L"--check", LongName}, 0, {"addNewDev would leave"}},
    {"ExplainLongName", {L"--explain", std::wstring(L"addNewDev_") + LongName}, 0,
     {"addNewDev would leave"}},
};

TEST_F(SpoolerTest, ClientTellsWhatThisUserMayDoToAPrinterAndChangesNothing)
{
    StandInPrinter denied = Printer(L"DeniedPrinter", Direct, 3);
    denied.denied = true;
    StandInPrinter longName = Printer(LongName, Direct);
    longName.port = L"WSD-6d4f1c2e-8b3a-4f5d-9e7c-1a2b3c4d5e6f";
    Start({denied, Printer(L"Direct", Direct, 4), Printer(L"Spooled", Queued), longName}, WithBox);
    std::wstring client = directory + L"QorlSend.exe";
    ASSERT_TRUE(CopyFileW(ClientUnderTest().c_str(), client.c_str(), FALSE));

    for (const PrinterCheckCase& row : PrinterChecks) {
        SCOPED_TRACE(row.name);
        ExpectRun(RunProgram(client, row.arguments, directory), row.exitCode, row.output);
    }

    // The full open of DeniedPrinter was refused, as the stand-in refuses it,
    // and nothing was set, left open or changed.
    size_t refused = 0;
    for (const SpoolerCall& call : Calls("open", L"DeniedPrinter")) {
        if (call.access == static_cast<DWORD>(PRINTER_ALL_ACCESS)) {
            EXPECT_FALSE(call.ok);
            EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), call.error);
            ++refused;
        }
    }
    EXPECT_EQ(2u, refused);   // --check and --explain
    EXPECT_EQ(0u, CountSpoolerCalls(directory, "set"));
    EXPECT_TRUE(OpenStandInHandles(directory).empty());
    EXPECT_EQ(4u, Read(L"Direct").jobs);
    EXPECT_EQ(Direct, Read(L"Direct").attributes);

    // What --check foretold: the server, as this user, leaves it alone.
    ASSERT_EQ(Sent, Send("devCancel_DeniedPrinter"));
    Sync();
    EXPECT_EQ(3u, Read(L"DeniedPrinter").jobs);
    ASSERT_TRUE(AddAndWait(LongName));
    EXPECT_TRUE(Calls("set", LongName).empty());
    EXPECT_EQ(Direct, Read(LongName).attributes);
}

}  // namespace
