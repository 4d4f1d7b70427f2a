// Nothing lost under load: 32 clients at once, each cancelling the jobs of its
// own printer through the stand-in spooler, all waiting for the one busy pipe
// instance as the printer software does.
#include <stdio.h>

#include "../e2e/e2e_fixture.h"

#include <winspool.h>

#include "../spooler/spooler_standin.h"
#include "robust.h"

namespace {

const int Clients = 32;
const wchar_t PipeName[] = L"\\\\.\\pipe\\QorlPipe";

struct Client {
    HANDLE go;
    std::string message;
    DWORD waited;
    int raceLosses;
    bool timedOut;
    bool written;
};

// Waits with the pipe's default time-out whenever the instance is busy; an
// instance that came free and went to another client is waited for again. A
// wait that runs out, the server busy for its whole default time, gives up.
DWORD WINAPI RunClient(LPVOID context)
{
    Client* client = static_cast<Client*>(context);
    WaitForSingleObject(client->go, INFINITE);
    DWORD start = GetTickCount();
    HANDLE pipe = INVALID_HANDLE_VALUE;
    while (client->raceLosses < 10000) {
        pipe = CreateFileW(PipeName, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY)
            break;
        if (!WaitNamedPipeW(PipeName, NMPWAIT_USE_DEFAULT_WAIT)) {
            client->timedOut = GetLastError() == ERROR_SEM_TIMEOUT;
            break;
        }
        ++client->raceLosses;
    }
    if (pipe != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        client->written = WriteFile(pipe, client->message.data(),
                                    static_cast<DWORD>(client->message.size()), &written, NULL) &&
                          written == client->message.size();
        CloseHandle(pipe);
    }
    client->waited = GetTickCount() - start;
    return 0;
}

class LoadTest : public ServerTest {
protected:
    void TearDown() override
    {
        ServerTest::TearDown();
        UseSystemSpooler();
    }
};

TEST_F(LoadTest, ThirtyTwoClientsAtOnceEachPurgeExactlyOnce)
{
    directory = MakeProgramDirectory(TestName(), WithoutBox);
    ASSERT_TRUE(InstallSpoolerStandIn(directory));
    std::vector<StandInPrinter> printers;
    for (int i = 0; i < Clients; ++i)
        printers.push_back(Printer(L"Load" + std::to_wstring(i), PRINTER_ATTRIBUTE_QUEUED, 5 + i));
    ASSERT_TRUE(WriteStandInPrinters(directory, printers));
    server = StartServer(directory);
    ASSERT_NE(nullptr, server.process);

    HANDLE go = CreateEventW(NULL, TRUE, FALSE, NULL);
    Client clients[Clients];
    HANDLE threads[Clients];
    for (int i = 0; i < Clients; ++i) {
        clients[i] = Client{go, "devCancel_Load" + std::to_string(i), 0, 0, false, false};
        threads[i] = CreateThread(NULL, 0, RunClient, &clients[i], 0, NULL);
        ASSERT_NE(nullptr, threads[i]);
    }
    SetEvent(go);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(Clients, threads, TRUE, 60000));
    for (HANDLE thread : threads)
        CloseHandle(thread);
    CloseHandle(go);
    Sync();

    DWORD longest = 0;
    int mostLosses = 0;
    for (int i = 0; i < Clients; ++i) {
        const Client& client = clients[i];
        EXPECT_TRUE(client.written) << client.message << (client.timedOut ? ": a wait ran out" : "");
        longest = client.waited > longest ? client.waited : longest;
        mostLosses = client.raceLosses > mostLosses ? client.raceLosses : mostLosses;
    }
    printf("load: %d clients at once; longest wait %lu ms; at most %d free instances lost to "
           "another client\n",
           Clients, longest, mostLosses);

    std::vector<SpoolerCall> calls = ReadSpoolerCalls(directory);
    for (int i = 0; i < Clients; ++i) {
        std::wstring name = L"Load" + std::to_wstring(i);
        int purges = 0;
        for (const SpoolerCall& call : calls) {
            if (call.op == "set" && call.printer == name && call.level == 0 &&
                call.command == PRINTER_CONTROL_PURGE && call.ok)
                ++purges;
        }
        EXPECT_EQ(1, purges) << Utf8(name);
        EXPECT_EQ(0u, ReadStandInPrinter(directory, name).jobs) << Utf8(name);
    }
    EXPECT_TRUE(OpenStandInHandles(directory).empty());
    EXPECT_FALSE(FileExists(Report()));
}

}  // namespace
