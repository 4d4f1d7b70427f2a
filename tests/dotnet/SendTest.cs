// QorlSend.cs as a program uses it, against the server dotnet_test.sh runs and then none.
// The exit code counts the rows whose result, time or processor time was not as expected.
using System;
using System.Diagnostics;
using System.IO.Pipes;
using System.Text;
using System.Threading;
using System.Threading.Tasks;

static class SendTest
{
    static int failures;

    static void Row(string name, QorlSendResult expected, int fromMs, int toMs,
                    Func<QorlSendResult> send)
    {
        Process self = Process.GetCurrentProcess();
        TimeSpan cpu = self.TotalProcessorTime;
        Stopwatch clock = Stopwatch.StartNew();
        QorlSendResult result = send();
        long ms = clock.ElapsedMilliseconds;
        self.Refresh();
        double cpuMs = (self.TotalProcessorTime - cpu).TotalMilliseconds;
        // Waiting must block: a spinning wait costs its whole time.
        bool ok = result == expected && ms >= fromMs && ms <= toMs && cpuMs < 250;
        failures += ok ? 0 : 1;
        Console.WriteLine("{0}: {1}: {2} in {3} ms, {4:F0} ms of processor time",
                          ok ? "ok" : "FAIL", name, result, ms, cpuMs);
    }

    static NamedPipeServerStream Stand(string name)
    {
        // With buffers, as the server's: a write then need not wait for a read.
        return new NamedPipeServerStream(name, PipeDirection.InOut, 1, PipeTransmissionMode.Message,
                                         PipeOptions.Asynchronous, 4096, 4096);
    }

    // What a stand-in was sent, once connected is done.
    static void Heard(string name, NamedPipeServerStream stand, Task connected, string expected)
    {
        byte[] buffer = new byte[300];
        int count = connected.Wait(5000) ? stand.Read(buffer, 0, buffer.Length) : 0;
        string heard = Encoding.ASCII.GetString(buffer, 0, count);
        failures += heard == expected ? 0 : 1;
        Console.WriteLine("{0}: {1}: \"{2}\"", heard == expected ? "ok" : "FAIL", name, heard);
    }

    static QorlSendResult Paper(string printer) { return QorlSender.Send("paper", printer, 10000); }

    static int Main(string[] args)
    {
        if (args.Length == 1 && args[0] == "utf8") {
            // Under code page 65001, no server: a lone surrogate is refused, a pair encoded.
            Row("lone surrogate", QorlSendResult.Unmappable, 0, 1000, () => Paper("P\ud800Q"));
            Row("surrogate pair", QorlSendResult.NoServer, 0, 1000, () => Paper("P\ud83d\ude00"));
            return failures;
        }
        for (int i = 0; i < 50 && QorlSender.Send("sync", null, 1000) == QorlSendResult.NoServer; i++)
            Thread.Sleep(200);
        // A whole message as the command: the limits hold as the server splits it.
        Row("99 bytes", QorlSendResult.Ok, 0, 5000,
            () => QorlSender.Send("paper_" + new string('\u6807', 49) + "A", null, 10000));
        Row("100 bytes", QorlSendResult.NameTooLong, 0, 1000, () => Paper(new string('\u6807', 50)));
        // Thai is not in GBK, and for \u00c0 it has only the look-alike A.
        Row("not in GBK", QorlSendResult.Unmappable, 0, 1000, () => Paper("\u6807\u0e01"));
        Row("best fit", QorlSendResult.Unmappable, 0, 1000, () => Paper("\u6807\u00c0"));
        Row("257 bytes", QorlSendResult.TooLong, 0, 1000, () => QorlSender.SendBytes(new byte[257], 0));
        Row("Chinese", QorlSendResult.Ok, 0, 5000, () => Paper("\u6807\u7b7e\u6253\u5370\u673a"));
        // A silent client holds the session pipe's single instance for 3 s.
        string session = QorlSender.SessionPipeName().Substring(9);
        using (NamedPipeClientStream holder = new NamedPipeClientStream(".", session, PipeDirection.Out,
                   PipeOptions.None, System.Security.Principal.TokenImpersonationLevel.Identification)) {
            holder.Connect(5000);
            Row("busy", QorlSendResult.Busy, 900, 2500, () => QorlSender.Send("paper", "X", 1000));
        }
        Row("exit", QorlSendResult.Ok, 0, 5000, () => QorlSender.Send("exit", null, 10000));
        for (int i = 0; i < 100 && QorlSender.Send("sync", null, 0) != QorlSendResult.NoServer; i++)
            Thread.Sleep(100);
        Row("no server", QorlSendResult.NoServer, 0, 1000, () => Paper("P"));

        // Stand-ins of this user's: the session pipe is written while it is
        // there, the machine-wide one hears nothing until it is gone.
        using (NamedPipeServerStream machine = Stand("QorlPipe")) {
            Task heard = machine.WaitForConnectionAsync();
            using (NamedPipeServerStream own = Stand(session)) {
                Task ownHeard = own.WaitForConnectionAsync();
                Row("session pipe first", QorlSendResult.Ok, 0, 1000, () => Paper("S"));
                Heard("the session pipe", own, ownHeard, "paper_S");
            }
            failures += heard.IsCompleted ? 1 : 0;
            Console.WriteLine("{0}: the machine-wide pipe heard nothing", heard.IsCompleted ? "FAIL" : "ok");
            Row("no session pipe", QorlSendResult.Ok, 0, 1000, () => Paper("M"));
            Heard("the machine-wide pipe", machine, heard, "paper_M");
        }
        return failures;
    }
}
