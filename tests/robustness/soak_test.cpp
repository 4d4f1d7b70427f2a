// Pipe fuzz and soak: a few thousand seeded messages, random bytes and real
// words with random arguments, mixed with clients that misbehave, against the
// real server. Afterwards it must be alive, handle a report exactly, and have
// left box.ini well formed.
#include <stdio.h>

#include "../e2e/e2e_fixture.h"
#include "robust.h"

namespace {

const int MessageCount = 3000;
const int CheckEvery = 250;
const int SilentClients = 2;

const char* const Words[] = {
    "devCancel", "closeNewDev", "newconnect", "newdisconnect", "connect", "usb",
    "addNewDev", "disconnect", "stopByHuman", "normal", "temper", "cutter",
    "carbon", "busy", "adapter", "unlock", "lockopened", "labelmore",
    "labelbox", "labelunkown", "paper", "labelerr", "rfiderr", "rfidInvalid",
    "rfidUnSupport", "dpi", "antifake", "netbusy", "socketSnErr", "poweroff",
    "height", "Paper", "exi", "paper ", "",
};
const char* const ReportWords[] = {"connect", "usb", "disconnect", "stopByHuman", "temper",
                                   "cutter", "carbon", "busy", "paper", "labelerr", "dpi"};

template <typename T, size_t N>
unsigned Count(T (&)[N])
{
    return N;
}

// The server would end on it: the soak never sends it.
bool IsExit(const std::string& message)
{
    std::string text = message.substr(0, message.find('\0'));
    return text.substr(0, text.find('_')) == "exit";
}

char RandomByte(Random& random)
{
    unsigned r = random.Below(100);
    if (r < 5)
        return 0;
    if (r < 15)
        return '_';
    if (r < 20)
        return random.Percent(50) ? '\r' : '\n';
    if (r < 45)
        return static_cast<char>(0x80 + random.Below(0x80));
    return static_cast<char>(0x20 + random.Below(0x5F));
}

std::string RandomBytes(Random& random)
{
    std::string message(random.Below(301), ' ');
    for (char& byte : message)
        byte = RandomByte(random);
    return message;
}

std::string WordWithArgument(Random& random)
{
    std::string message = Words[random.Below(Count(Words))];
    if (random.Percent(10))
        return message;
    message += '_';
    // Mostly names that fit the field, some that do not.
    unsigned length = random.Percent(85) ? random.Below(60) : 90 + random.Below(30);
    for (unsigned i = 0; i < length; ++i) {
        unsigned r = random.Below(100);
        if (r < 15)
            message += static_cast<char>(0x80 + random.Below(0x80));
        else if (r < 18)
            message += '_';
        else if (r == 18)
            message += random.Percent(50) ? '\r' : '\n';
        else
            message += static_cast<char>(0x20 + random.Below(0x5F));
    }
    return message;
}

enum Hostile { LeaveAtOnce, Write64KiB, TwoMessages, WriteAndClose, HostileKinds };

class SoakTest : public ServerTest {
protected:
    bool Alive() const { return WaitForSingleObject(server.process, 0) == WAIT_TIMEOUT; }

    void SendChecked(const std::string& message)
    {
        SendResult result = Send(message);
        EXPECT_EQ(Sent, result) << "a client was refused; message of " << message.size()
                                << " bytes";
    }

    // A report of a fresh printer is handled exactly.
    void CheckReportHandled(const std::string& word, const std::string& printer)
    {
        ASSERT_EQ(Sent, Send(word + "_" + printer));
        Sync();
        EXPECT_EQ(std::wstring(word.begin(), word.end()), ReadReport(directory, L"TYPE"));
        EXPECT_EQ(std::wstring(printer.begin(), printer.end()), ReadReport(directory, L"PRINTER"));
        EXPECT_EQ("", ReportFileProblems(ReadFileBytes(Report())));
    }

    // The whole 64 KiB in one message: the server drops it, and the writer
    // is released rather than left blocked on a full pipe.
    void SendHuge()
    {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        for (int attempt = 0; attempt < 50 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
            pipe = CreateFileW(L"\\\\.\\pipe\\QorlPipe", GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, NULL);
            if (pipe == INVALID_HANDLE_VALUE)
                WaitNamedPipeW(L"\\\\.\\pipe\\QorlPipe", NMPWAIT_USE_DEFAULT_WAIT);
        }
        ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
        std::string huge(64 * 1024, 'x');
        memcpy(&huge[0], "paper_Huge", 10);
        OVERLAPPED overlapped = {};
        overlapped.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
        DWORD written = 0;
        if (!WriteFile(pipe, huge.data(), static_cast<DWORD>(huge.size()), &written, &overlapped) &&
            GetLastError() == ERROR_IO_PENDING) {
            bool released = WaitForSingleObject(overlapped.hEvent, 10000) == WAIT_OBJECT_0;
            EXPECT_TRUE(released) << "a 64 KiB writer was left blocked";
            if (!released)
                CancelIo(pipe);
            GetOverlappedResult(pipe, &overlapped, &written, TRUE);
        }
        CloseHandle(overlapped.hEvent);
        CloseHandle(pipe);
    }

    void SendHostile(Hostile kind, int step)
    {
        std::string tag = "Hostile" + std::to_string(step);
        switch (kind) {
        case LeaveAtOnce: {
            HANDLE pipe = OpenServerPipe();
            ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
            CloseHandle(pipe);
            break;
        }
        case Write64KiB:
            SendHuge();
            break;
        case TwoMessages: {
            HANDLE pipe = OpenServerPipe();
            ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
            std::string first = "usb_" + tag, second = "usb_" + tag + "b";
            DWORD written;
            EXPECT_TRUE(WriteFile(pipe, first.data(), static_cast<DWORD>(first.size()), &written,
                                  NULL));
            WriteFile(pipe, second.data(), static_cast<DWORD>(second.size()), &written, NULL);
            CloseHandle(pipe);
            Sync();
            EXPECT_EQ(std::wstring(tag.begin(), tag.end()), ReadReport(directory, L"PRINTER"));
            break;
        }
        case WriteAndClose: {
            // Gone before the server's read: the message it left still counts.
            HANDLE pipe = OpenServerPipe();
            ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
            std::string message = "connect_" + tag;
            DWORD written;
            EXPECT_TRUE(WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()),
                                  &written, NULL));
            CloseHandle(pipe);
            Sync();
            EXPECT_EQ(std::wstring(tag.begin(), tag.end()), ReadReport(directory, L"PRINTER"));
            break;
        }
        case HostileKinds:
            break;
        }
    }
};

TEST_F(SoakTest, ServesOnThroughRandomMessagesAndHostileClients)
{
    Start(WithoutBox);
    Random random(SoakSeed);
    int silentAt[SilentClients];
    for (int& step : silentAt)
        step = static_cast<int>(random.Below(MessageCount));

    int counts[3 + HostileKinds] = {};
    DWORD start = GetTickCount();
    HANDLE silent = INVALID_HANDLE_VALUE;
    for (int step = 0; step < MessageCount; ++step) {
        SCOPED_TRACE("seed " + std::to_string(SoakSeed) + ", step " + std::to_string(step));
        for (int at : silentAt) {
            if (at == step && silent == INVALID_HANDLE_VALUE) {
                // Holds the instance until the server cuts it off; the next
                // message waits for that.
                silent = OpenServerPipe();
                EXPECT_NE(INVALID_HANDLE_VALUE, silent);
                ++counts[2];
            }
        }

        unsigned r = random.Below(100);
        if (r < 45) {
            std::string message = RandomBytes(random);
            if (!IsExit(message))
                SendChecked(message);
            ++counts[0];
        } else if (r < 92) {
            SendChecked(WordWithArgument(random));
            ++counts[1];
        } else {
            Hostile kind = static_cast<Hostile>(random.Below(HostileKinds));
            SendHostile(kind, step);
            ++counts[3 + kind];
        }
        if (silent != INVALID_HANDLE_VALUE) {
            CloseHandle(silent);
            silent = INVALID_HANDLE_VALUE;
        }

        if (step % CheckEvery == CheckEvery - 1) {
            ASSERT_TRUE(Alive());
            CheckReportHandled(ReportWords[random.Below(Count(ReportWords))],
                               "Check" + std::to_string(step));
        }
        if (::testing::Test::HasFatalFailure() || !Alive())
            break;
    }
    DWORD took = GetTickCount() - start;
    printf("soak: %d steps in %lu ms: %d random, %d words, %d silent; hostile: %d left at once, "
           "%d of 64 KiB, %d with two messages, %d written and closed\n",
           MessageCount, took, counts[0], counts[1], counts[2], counts[3 + LeaveAtOnce],
           counts[3 + Write64KiB], counts[3 + TwoMessages], counts[3 + WriteAndClose]);

    ASSERT_TRUE(Alive()) << "the server ended during the soak, seed " << SoakSeed;
    std::string problems = ReportFileProblems(ReadFileBytes(Report()));
    EXPECT_EQ("", problems) << "box.ini after the soak, seed " << SoakSeed;

    // Now with the box beside it: the table's rows, exactly.
    ASSERT_TRUE(CopyFileW((BuildDirectory() + L"QorlBox.exe").c_str(),
                          (directory + L"QorlBox.exe").c_str(), FALSE));
    ASSERT_EQ(Sent, Send("paper_Final"));
    ASSERT_TRUE(WaitForBoxEvents(directory, "start", 1));
    ASSERT_TRUE(WaitForBoxWindows(L"Final  V1.4", 1));
    std::vector<BoxLogEntry> log = ReadBoxLog(directory);
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("paper|Final|Final  V1.4", log[0].detail);

    ASSERT_EQ(Sent, Send("poweroff_Final"));   // type only: PRINTER stays
    ASSERT_TRUE(WaitForBoxEvents(directory, "start", 2));
    ASSERT_TRUE(WaitForBoxWindows(L"Final  V1.4", 1));   // the new box, to be closed below
    EXPECT_TRUE(BoxQuit(directory, log[0].pid));
    EXPECT_EQ(L"poweroff", ReadReport(directory, L"TYPE"));
    EXPECT_EQ(L"Final", ReadReport(directory, L"PRINTER"));

    std::string before = ReadFileBytes(Report());
    ASSERT_EQ(Sent, Send("devCancel_Final"));
    ASSERT_EQ(Sent, Send("normal_Final"));
    Sync();
    EXPECT_TRUE(WaitForBoxEvents(directory, "quit", 2));
    EXPECT_EQ(before, ReadFileBytes(Report()));
    EXPECT_EQ(2u, CountBoxEvents(directory, "start"));
    EXPECT_EQ("", ReportFileProblems(ReadFileBytes(Report())));
}

}  // namespace
