// One connection of the serving loop against a real pipe of the test's own:
// the wait codes that are not failures, and the bounded read.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "../../pipe/pipe_server.h"
#include "../../status/status_message.h"

namespace {

class PipeConnection : public ::testing::Test {
protected:
    void SetUp() override
    {
        name = L"\\\\.\\pipe\\QorlPipeTest-" + std::to_wstring(GetCurrentProcessId());
        pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 255, 4096,
                                4096, 3000, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
        connection = CreateEventW(NULL, TRUE, FALSE, NULL);
    }
    void TearDown() override
    {
        CloseHandle(pipe);
        CloseHandle(connection);
    }

    HANDLE Client()
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            HANDLE client = CreateFileW(name.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
            if (client != INVALID_HANDLE_VALUE)
                return client;
            Sleep(10);
        }
        return INVALID_HANDLE_VALUE;
    }

    // A client on another thread that connects once the pipe listens and writes.
    std::thread LaterClient(const std::string& message)
    {
        return std::thread([this, message] {
            Sleep(100);   // after the wait began
            HANDLE client = Client();
            DWORD written;
            WriteFile(client, message.data(), static_cast<DWORD>(message.size()), &written, NULL);
            CloseHandle(client);
        });
    }

    // As the serving loop does it, one pipe alone.
    ClientWait WaitForClient()
    {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = connection;
        ClientWait wait = BeginWaitForClient(pipe, &overlapped);
        if (wait != Pending)
            return wait;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(connection, 10000));
        return FinishWaitForClient(pipe, &overlapped);
    }

    std::string Read(bool* ok, DWORD timeoutMs = 3000)
    {
        char buffer[MessageBufferSize] = {};
        DWORD count = 0;
        *ok = ReadClientMessage(pipe, connection, buffer, &count, timeoutMs);
        return std::string(buffer, count);
    }

    std::wstring name;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE connection = NULL;
};

TEST_F(PipeConnection, AClientThatConnectedFirstIsServed)
{
    HANDLE client = Client();
    ASSERT_NE(INVALID_HANDLE_VALUE, client);
    ASSERT_EQ(Connected, WaitForClient());   // ERROR_PIPE_CONNECTED
    DWORD written;
    ASSERT_TRUE(WriteFile(client, "paper_P", 7, &written, NULL));
    bool ok = false;
    EXPECT_EQ("paper_P", Read(&ok));
    EXPECT_TRUE(ok);
    CloseHandle(client);
}

// A new pipe takes clients before its first wait: one may have come, written
// and gone, as a sender's first message right after the server starts can.
TEST_F(PipeConnection, AMessageLeftBeforeTheFirstWaitIsRead)
{
    HANDLE client = Client();
    DWORD written;
    ASSERT_TRUE(WriteFile(client, "paper_P", 7, &written, NULL));
    CloseHandle(client);
    ASSERT_EQ(Connected, WaitForClient());   // ERROR_NO_DATA
    bool ok = false;
    EXPECT_EQ("paper_P", Read(&ok));
    EXPECT_TRUE(ok);
}

TEST_F(PipeConnection, AClientThatCameAndWentIsClearedAndTheNextServed)
{
    HANDLE client = Client();
    ASSERT_NE(INVALID_HANDLE_VALUE, client);
    CloseHandle(client);
    ASSERT_EQ(Connected, WaitForClient());   // ERROR_NO_DATA
    bool ok = true;
    Read(&ok);
    EXPECT_FALSE(ok);
    DisconnectNamedPipe(pipe);

    std::thread next = LaterClient("usb_Q");
    EXPECT_EQ(Connected, WaitForClient());
    EXPECT_EQ("usb_Q", Read(&ok));
    EXPECT_TRUE(ok);
    next.join();
}

TEST_F(PipeConnection, ASilentClientIsCutOffAndTheNextServed)
{
    HANDLE silent = Client();
    ASSERT_EQ(Connected, WaitForClient());
    DWORD start = GetTickCount();
    bool ok = true;
    Read(&ok, 300);
    EXPECT_FALSE(ok);
    EXPECT_GE(GetTickCount() - start, 250u);
    DisconnectNamedPipe(pipe);
    CloseHandle(silent);

    std::thread next = LaterClient("busy_R");
    ASSERT_EQ(Connected, WaitForClient());
    EXPECT_EQ("busy_R", Read(&ok));
    EXPECT_TRUE(ok);
    next.join();
}

TEST_F(PipeConnection, OverLongMessagesAndClientsThatLeaveReadNothing)
{
    std::thread overLong = LaterClient(std::string(MessageBufferSize + 1, 'x'));
    ASSERT_EQ(Connected, WaitForClient());
    bool ok = true;
    Read(&ok);
    EXPECT_FALSE(ok);   // ERROR_MORE_DATA
    overLong.join();
    DisconnectNamedPipe(pipe);

    std::thread exact = LaterClient(std::string(MessageBufferSize, 'y'));
    ASSERT_EQ(Connected, WaitForClient());
    EXPECT_EQ(MessageBufferSize, Read(&ok).size());
    EXPECT_TRUE(ok);
    exact.join();
    DisconnectNamedPipe(pipe);

    std::thread leaves([this] { CloseHandle(Client()); });
    ASSERT_EQ(Connected, WaitForClient());
    leaves.join();
    Read(&ok);
    EXPECT_FALSE(ok);   // ERROR_BROKEN_PIPE
}

}  // namespace
