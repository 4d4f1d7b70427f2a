// Which operations each message makes the server run, with which arguments,
// in which order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../status/command_table.h"
#include "recording_actions.h"

namespace {

const wchar_t* const Discovery = L"Discover new printer";

struct Outcome {
    DispatchResult result;
    std::vector<RecordedCall> calls;
};

Outcome Dispatch(const std::string& bytes, const wchar_t* existingTitle = NULL)
{
    char buffer[MessageBufferSize] = {};
    std::copy(bytes.begin(), bytes.end(), buffer);
    StatusMessage message;
    ParseStatusMessage(buffer, static_cast<DWORD>(bytes.size()), &message);
    Outcome outcome;
    StatusActions actions = RecordingActions(&outcome.calls, existingTitle);
    outcome.result = DispatchStatusCommand(message, Discovery, actions);
    return outcome;
}

RecordedCall Call(const char* operation, const wchar_t* first = L"", const wchar_t* second = L"")
{
    return RecordedCall{operation, first, second};
}

std::vector<RecordedCall> ReportWith(const std::wstring& word, const std::wstring& printer)
{
    std::wstring title = printer + L"  V1.4";
    return {Call("CloseStatusWindows", title.c_str()),
            Call("WriteStatusReport", word.c_str(), printer.c_str()), Call("LaunchStatusBox")};
}

std::vector<RecordedCall> ReportTypeOnly(const std::wstring& word, const std::wstring& printer)
{
    std::wstring title = printer + L"  V1.4";
    return {Call("CloseStatusWindows", title.c_str()),
            Call("WriteStatusReport", word.c_str(), None), Call("LaunchStatusBox")};
}

// The words as the printer software spells them, typed here independently
// of the table.
const char* const WordsReportingWithPrinter[] = {
    "connect", "usb", "disconnect", "stopByHuman", "temper", "cutter", "carbon",
    "busy", "adapter", "unlock", "lockopened", "labelmore", "labelbox", "labelunkown",
    "paper", "labelerr", "rfiderr", "rfidInvalid", "rfidUnSupport", "dpi"};
const char* const WordsReportingTypeOnly[] = {"antifake", "netbusy", "socketSnErr", "poweroff",
                                              "height"};

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(DispatchStatusCommand, ReportWordsCloseThenWriteThenLaunch)
{
    for (const char* word : WordsReportingWithPrinter) {
        SCOPED_TRACE(word);
        Outcome outcome = Dispatch(std::string(word) + "_P1");
        EXPECT_EQ(Continue, outcome.result);
        EXPECT_EQ(ReportWith(Wide(word), L"P1"), outcome.calls);
    }
    for (const char* word : WordsReportingTypeOnly) {
        SCOPED_TRACE(word);
        Outcome outcome = Dispatch(std::string(word) + "_P1");
        EXPECT_EQ(Continue, outcome.result);
        EXPECT_EQ(ReportTypeOnly(Wide(word), L"P1"), outcome.calls);
    }
}

TEST(DispatchStatusCommand, WithoutAPrinterName)
{
    // An empty PRINTER is written, which is not the same as leaving it alone.
    EXPECT_EQ(ReportWith(L"paper", L""), Dispatch("paper").calls);
    EXPECT_EQ(ReportWith(L"paper", L""), Dispatch("paper_").calls);
    EXPECT_EQ(ReportTypeOnly(L"height", L""), Dispatch("height").calls);
}

TEST(DispatchStatusCommand, RowsOfTheirOwnKind)
{
    struct Row {
        std::string bytes;
        const wchar_t* existing;
        std::vector<RecordedCall> calls;
    };
    const Row rows[] = {
        {"devCancel_P1", NULL, {Call("PurgePrinterJobs", L"P1")}},
        {"devCancel", NULL, {Call("PurgePrinterJobs", L"")}},
        {"closeNewDev_P1", NULL, {Call("CloseStatusWindows", Discovery)}},
        {"newdisconnect", NULL, {Call("CloseStatusWindows", Discovery)}},
        {"newconnect_P1",
         NULL,
         {Call("StatusWindowExists", Discovery), Call("WriteStatusReport", L"newconnect", None),
          Call("LaunchStatusBox")}},
        {"newconnect_P1", Discovery, {Call("StatusWindowExists", Discovery)}},
        {"normal_P1", NULL, {Call("CloseStatusWindows", L"P1  V1.4")}},
        {"addNewDev_P1",
         NULL,
         {Call("RequestQueueMode", L"P1"), Call("CloseStatusWindows", L"P1  V1.4"),
          Call("WriteStatusReport", L"addNewDev", L"P1"), Call("LaunchStatusBox")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bytes);
        Outcome outcome = Dispatch(row.bytes, row.existing);
        EXPECT_EQ(Continue, outcome.result);
        EXPECT_EQ(row.calls, outcome.calls);
    }
}

TEST(DispatchStatusCommand, ExitStopsAtOnceWhateverItsArgument)
{
    const std::string stops[] = {"exit", "exit_", "exit_P1", "exit_" + std::string(200, 'x'),
                                 "exit_a\r\nb"};
    for (const std::string& bytes : stops) {
        SCOPED_TRACE(bytes);
        Outcome outcome = Dispatch(bytes);
        EXPECT_EQ(Stop, outcome.result);
        EXPECT_TRUE(outcome.calls.empty());
    }
}

TEST(DispatchStatusCommand, OtherWordsDoNothing)
{
    const std::string ignored[] = {"",       "exit\n",  "Exit",         "EXIT",  "paper\r_P1",
                                   "PAPER_P1", "Paper_P1", "labelunknown_P1", "rfidUnsupport_P",
                                   "socketSNErr", "pape_P1", "paperx_P1", " paper_P1", "_paper"};
    for (const std::string& bytes : ignored) {
        SCOPED_TRACE(bytes);
        Outcome outcome = Dispatch(bytes);
        EXPECT_EQ(Continue, outcome.result);
        EXPECT_TRUE(outcome.calls.empty());
    }
}

TEST(DispatchStatusCommand, UnusableArgumentsActOnNothing)
{
    // Acting on a cut name could purge another printer's queue.
    const std::string dropped[] = {"devCancel_" + std::string(100, 'P'),
                                   "paper_" + std::string(150, 'P'), "addNewDev_P1\r\n[X]",
                                   "height_P\n", std::string(100, 'c') + "_P"};
    for (const std::string& bytes : dropped) {
        SCOPED_TRACE(bytes);
        Outcome outcome = Dispatch(bytes);
        EXPECT_EQ(Continue, outcome.result);
        EXPECT_TRUE(outcome.calls.empty());
    }
    EXPECT_EQ(ReportWith(L"paper", std::wstring(99, L'P')),
              Dispatch("paper_" + std::string(99, 'P')).calls);
}

TEST(CommandTable, HoldsEachWordOnceExitFirst)
{
    ASSERT_EQ(32, CommandTableSize);
    EXPECT_STREQ("exit", CommandTable[0].word);
    EXPECT_EQ(StopServer, CommandTable[0].kind);
    for (int i = 0; i < CommandTableSize; ++i) {
        for (int j = i + 1; j < CommandTableSize; ++j)
            EXPECT_STRNE(CommandTable[i].word, CommandTable[j].word);
    }
}

}  // namespace
