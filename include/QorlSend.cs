// QorlSend.cs - send one status message to QorlServer from .NET.
//
// Drop this file into a C# project. It is written in C# 3 against the base
// class library only, so the one file builds for .NET Framework 2.0 to 4.8
// and for .NET Core and .NET 5 or later, 32 or 64 bits, and runs on Windows
// XP and later. It mirrors qorl_send.h and calls the same Windows functions:
//
//     QorlSendResult result = QorlSender.Send("paper", printerName, 10000);
//     if (result != QorlSendResult.Ok)
//         Log(QorlSender.Describe(result));
//
// The text is encoded in the system ANSI code page (GBK on Chinese Windows)
// with WideCharToMultiByte, and a name with a character the code page lacks
// is refused: .NET's own encoders put a look-alike or '?' in its place, and
// Encoding.Default is UTF-8 on .NET Core. The pipe is waited for with
// WaitNamedPipeW, which blocks, where NamedPipeClientStream.Connect on .NET
// Framework spins a processor for its whole time-out when no server runs,
// and cannot tell "no server" from "busy". The pipe is opened for
// identification only: whatever holds its other end may learn who sends,
// but cannot act as the sender (protocol.md, section 13).
//
// The server of this Windows session is tried first, on its own pipe
// \\.\pipe\QorlPipe.<session id>, and used only when the process serving it
// runs as the sending user; else, and on Windows XP and 2003, which cannot
// tell who serves a pipe, the machine-wide \\.\pipe\QorlPipe (protocol.md,
// "The session pipe").
//
// One message per connection; the server never replies, so Ok says the bytes
// reached the pipe, not that a status box appeared. After a failure,
// Marshal.GetLastWin32Error() gives the Windows error behind it, where there
// is one.

using System;
using System.Runtime.InteropServices;

// The same values as QorlSendResult in qorl_send.h.
public enum QorlSendResult
{
    Ok = 0,           // the whole message was written
    NoServer = 1,     // no pipe: no server is running
    Busy = 2,         // another client held the pipe until the deadline
    AccessDenied = 3, // the pipe belongs to another user's server
    OpenFailed = 4,   // the pipe did not open, for another reason
    WriteFailed = 5,  // opened, but the message was not written whole
    TooLong = 6,      // over 256 bytes: not sent
    NameTooLong = 7,  // the command word or the printer name over 99 bytes: not sent
    Unmappable = 8    // a character the ANSI code page lacks: not sent
}

public static class QorlSender
{
    public const string PipeName = @"\\.\pipe\QorlPipe";
    // The session pipe's name is this and the session id in decimal.
    public const string SessionPipePrefix = @"\\.\pipe\QorlPipe.";
    // The server reads at most this much; a longer message is dropped whole.
    public const int MessageMaxBytes = 256;
    // The server's command and printer fields: a longer command matches
    // nothing, and a longer name is refused, never cut.
    public const int FieldMaxBytes = 99;

    const uint GENERIC_WRITE = 0x40000000;
    const uint OPEN_EXISTING = 3;
    const uint SECURITY_SQOS_PRESENT = 0x00100000;
    const uint SECURITY_IDENTIFICATION = 0x00010000;
    const uint CP_ACP = 0;
    const uint CP_UTF8 = 65001;
    const uint WC_NO_BEST_FIT_CHARS = 0x00000400;
    const uint WC_ERR_INVALID_CHARS = 0x00000080;
    const uint PROCESS_QUERY_INFORMATION = 0x0400;
    const uint PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
    const uint TOKEN_QUERY = 0x0008;
    const int TokenUser = 1;
    // TOKEN_USER and the largest SID, 68 bytes.
    const int TokenUserSize = 128;
    const int ERROR_INVALID_FLAGS = 1004;
    const int ERROR_FILE_NOT_FOUND = 2;
    const int ERROR_ACCESS_DENIED = 5;
    const int ERROR_INVALID_PARAMETER = 87;
    const int ERROR_NO_UNICODE_TRANSLATION = 1113;
    const int ERROR_PIPE_BUSY = 231;
    const int ERROR_WRITE_FAULT = 29;
    static readonly IntPtr InvalidHandle = new IntPtr(-1);

    [DllImport("kernel32.dll", EntryPoint = "CreateFileW", CharSet = CharSet.Unicode,
               ExactSpelling = true, SetLastError = true)]
    static extern IntPtr CreateFile(string name, uint access, uint share, IntPtr security,
                                    uint disposition, uint flags, IntPtr template);

    [DllImport("kernel32.dll", EntryPoint = "WaitNamedPipeW", CharSet = CharSet.Unicode,
               ExactSpelling = true, SetLastError = true)]
    static extern bool WaitNamedPipe(string name, uint timeoutMs);

    [DllImport("kernel32.dll", ExactSpelling = true, SetLastError = true)]
    static extern bool WriteFile(IntPtr file, byte[] bytes, uint count, out uint written,
                                 IntPtr overlapped);

    // No SetLastError: closing must not hide the error of the write before it.
    [DllImport("kernel32.dll", ExactSpelling = true)]
    static extern bool CloseHandle(IntPtr handle);

    [DllImport("kernel32.dll", ExactSpelling = true)]
    static extern uint GetACP();

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, ExactSpelling = true,
               SetLastError = true)]
    static extern int WideCharToMultiByte(uint codePage, uint flags, string text, int length,
                                          [Out] byte[] bytes, int size, IntPtr defaultChar,
                                          out int usedDefaultChar);

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, ExactSpelling = true,
               SetLastError = true)]
    static extern int WideCharToMultiByte(uint codePage, uint flags, string text, int length,
                                          [Out] byte[] bytes, int size, IntPtr defaultChar,
                                          IntPtr usedDefaultChar);

    [DllImport("kernel32.dll", EntryPoint = "GetModuleHandleW", CharSet = CharSet.Unicode,
               ExactSpelling = true)]
    static extern IntPtr GetModuleHandle(string name);

    [DllImport("kernel32.dll", CharSet = CharSet.Ansi, ExactSpelling = true)]
    static extern IntPtr GetProcAddress(IntPtr module, string name);

    [DllImport("kernel32.dll", ExactSpelling = true)]
    static extern bool ProcessIdToSessionId(uint pid, out uint session);

    [DllImport("kernel32.dll", ExactSpelling = true)]
    static extern uint GetCurrentProcessId();

    [DllImport("kernel32.dll", ExactSpelling = true)]
    static extern IntPtr GetCurrentProcess();

    // Vista's: called only where GetProcAddress finds it.
    [DllImport("kernel32.dll", ExactSpelling = true)]
    static extern bool GetNamedPipeServerProcessId(IntPtr pipe, out uint pid);

    [DllImport("kernel32.dll", ExactSpelling = true)]
    static extern IntPtr OpenProcess(uint access, bool inherit, uint pid);

    [DllImport("advapi32.dll", ExactSpelling = true)]
    static extern bool OpenProcessToken(IntPtr process, uint access, out IntPtr token);

    [DllImport("advapi32.dll", ExactSpelling = true)]
    static extern bool GetTokenInformation(IntPtr token, int kind, IntPtr buffer, int size,
                                           out int needed);

    [DllImport("advapi32.dll", ExactSpelling = true)]
    static extern bool EqualSid(IntPtr sid1, IntPtr sid2);

    // Leaves the error where Marshal.GetLastWin32Error() finds it.
    [DllImport("kernel32.dll", ExactSpelling = true, SetLastError = true)]
    static extern void SetLastError(int error);

    // Sends "command_printer", or the command alone when printer is null, in
    // the ANSI code page, waiting while the pipe is busy for at most
    // deadlineMs in all. command may be a whole message: the limits hold as
    // the server splits the bytes, at the first '_', so Send("paper_P", null,
    // ...) sends what Send("paper", "P", ...) does. Nothing is sent when a
    // character has no form in the code page or a limit is broken.
    public static QorlSendResult Send(string command, string printer, int deadlineMs)
    {
        if (command == null)
            throw new ArgumentNullException("command");
        byte[] commandBytes = Ansi(command);
        byte[] printerBytes = printer == null ? new byte[0] : Ansi(printer);
        if (commandBytes == null || printerBytes == null)
            return QorlSendResult.Unmappable;
        int count = commandBytes.Length + (printer == null ? 0 : 1 + printerBytes.Length);
        if (count > MessageMaxBytes) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return QorlSendResult.TooLong;
        }
        byte[] message = new byte[count];
        Buffer.BlockCopy(commandBytes, 0, message, 0, commandBytes.Length);
        if (printer != null) {
            message[commandBytes.Length] = (byte)'_';
            Buffer.BlockCopy(printerBytes, 0, message, commandBytes.Length + 1, printerBytes.Length);
        }
        int split = Array.IndexOf(message, (byte)'_');
        if (split < 0)
            split = count;
        if (split > FieldMaxBytes || count - split - 1 > FieldMaxBytes) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return QorlSendResult.NameTooLong;
        }
        return Write(message, count, deadlineMs);
    }

    // Sends message, bytes already in the ANSI code page, as one message.
    public static QorlSendResult SendBytes(byte[] message, int deadlineMs)
    {
        if (message == null)
            throw new ArgumentNullException("message");
        return Write(message, message.Length, deadlineMs);
    }

    public static string Describe(QorlSendResult result)
    {
        switch (result) {
        case QorlSendResult.Ok:
            return "sent";
        case QorlSendResult.NoServer:
            return @"no server is running (the pipe \\.\pipe\QorlPipe does not exist)";
        case QorlSendResult.Busy:
            return "the pipe stayed busy with other clients until the deadline";
        case QorlSendResult.AccessDenied:
            return "access denied: the pipe belongs to a server of another user";
        case QorlSendResult.OpenFailed:
            return "the pipe could not be opened";
        case QorlSendResult.WriteFailed:
            return "the message could not be written whole";
        case QorlSendResult.TooLong:
            return "the message is over 256 bytes; the server would drop it whole";
        case QorlSendResult.NameTooLong:
            return "the command word or the printer name is over 99 bytes; nothing was sent";
        case QorlSendResult.Unmappable:
            return "a character has no form in the ANSI code page; nothing was sent";
        }
        return "unknown result";
    }

    // text in the ANSI code page, or null when a character has no form there
    // (rather than a look-alike or '?' in its place, naming another printer).
    static byte[] Ansi(string text)
    {
        if (text.Length == 0)
            return new byte[0];
        int size = WideToAnsi(text, null);
        if (size <= 0)
            return null;
        byte[] bytes = new byte[size];
        return WideToAnsi(text, bytes) == size ? bytes : null;
    }

    // The bytes written, or needed when bytes is null; 0 or -1 on a failure.
    static int WideToAnsi(string text, byte[] bytes)
    {
        int capacity = bytes == null ? 0 : bytes.Length;
        // With UTF-8 as the ANSI code page (Windows 10 and 11 offer it) every
        // character has a form but a lone surrogate, which would go as
        // U+FFFD: the call fails given the best-fit flag or the question, and
        // takes WC_ERR_INVALID_CHARS instead, from Vista on. XP fails the
        // call given it, so the text is checked here then.
        if (GetACP() == CP_UTF8) {
            int utf8 = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, text.Length, bytes,
                                           capacity, IntPtr.Zero, IntPtr.Zero);
            if (utf8 != 0 || Marshal.GetLastWin32Error() != ERROR_INVALID_FLAGS)
                return utf8;
            if (HasLoneSurrogate(text)) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return -1;
            }
            return WideCharToMultiByte(CP_UTF8, 0, text, text.Length, bytes, capacity, IntPtr.Zero,
                                       IntPtr.Zero);
        }
        int usedDefault;
        int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, text.Length, bytes,
                                         capacity, IntPtr.Zero, out usedDefault);
        if (length != 0 && usedDefault != 0) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return -1;
        }
        return length;
    }

    static bool HasLoneSurrogate(string text)
    {
        for (int i = 0; i < text.Length; i++) {
            if (char.IsHighSurrogate(text[i]) && i + 1 < text.Length && char.IsLowSurrogate(text[i + 1]))
                i++;
            else if (char.IsSurrogate(text[i]))
                return true;
        }
        return false;
    }

    static QorlSendResult Write(byte[] message, int count, int deadlineMs)
    {
        if (count > MessageMaxBytes) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return QorlSendResult.TooLong;
        }
        IntPtr pipe;
        QorlSendResult result = Open(deadlineMs, out pipe);
        if (result != QorlSendResult.Ok)
            return result;
        uint written;
        bool ok;
        try {
            // One write: the server takes the first one only.
            ok = WriteFile(pipe, message, (uint)count, out written, IntPtr.Zero);
        } finally {
            CloseHandle(pipe);
        }
        if (!ok)
            return QorlSendResult.WriteFailed;
        if (written != (uint)count) {
            SetLastError(ERROR_WRITE_FAULT);
            return QorlSendResult.WriteFailed;
        }
        return QorlSendResult.Ok;
    }

    // This session's pipe name, or null when the session cannot be told.
    public static string SessionPipeName()
    {
        uint session;
        if (!ProcessIdToSessionId(GetCurrentProcessId(), out session))
            return null;
        return SessionPipePrefix + session.ToString(System.Globalization.CultureInfo.InvariantCulture);
    }

    // True when the process serving the open pipe runs as this process's user.
    static bool ServedByCaller(IntPtr pipe)
    {
        uint pid;
        if (!GetNamedPipeServerProcessId(pipe, out pid))
            return false;
        // The limited right is Vista's, and enough there for a token's user.
        IntPtr process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, false, pid);
        if (process == IntPtr.Zero)
            process = OpenProcess(PROCESS_QUERY_INFORMATION, false, pid);
        if (process == IntPtr.Zero)
            return false;
        IntPtr server = IntPtr.Zero;
        IntPtr caller = IntPtr.Zero;
        try {
            server = ProcessUser(process);
            caller = ProcessUser(GetCurrentProcess());
            // TOKEN_USER begins with the SID's address.
            return server != IntPtr.Zero && caller != IntPtr.Zero
                && EqualSid(Marshal.ReadIntPtr(server), Marshal.ReadIntPtr(caller));
        } finally {
            CloseHandle(process);
            if (server != IntPtr.Zero)
                Marshal.FreeHGlobal(server);
            if (caller != IntPtr.Zero)
                Marshal.FreeHGlobal(caller);
        }
    }

    // The process token's TOKEN_USER in memory to be freed, or IntPtr.Zero.
    static IntPtr ProcessUser(IntPtr process)
    {
        IntPtr token;
        if (!OpenProcessToken(process, TOKEN_QUERY, out token))
            return IntPtr.Zero;
        IntPtr user = Marshal.AllocHGlobal(TokenUserSize);
        int needed;
        bool ok = GetTokenInformation(token, TokenUser, user, TokenUserSize, out needed);
        CloseHandle(token);
        if (ok)
            return user;
        Marshal.FreeHGlobal(user);
        return IntPtr.Zero;
    }

    // This session's pipe when its server runs as this user, else the
    // machine-wide one, waiting while another client holds it. A session
    // pipe served by another user is closed with nothing written.
    static QorlSendResult Open(int deadlineMs, out IntPtr pipe)
    {
        int start = Environment.TickCount;
        if (deadlineMs < 0)
            deadlineMs = 0;
        // Where no one can say who serves it, the session pipe could be
        // anyone's: XP and 2003 have one session a user, and the machine-wide pipe.
        IntPtr kernel = GetModuleHandle("kernel32.dll");
        string session = kernel != IntPtr.Zero
            && GetProcAddress(kernel, "GetNamedPipeServerProcessId") != IntPtr.Zero
            ? SessionPipeName() : null;
        if (session != null) {
            QorlSendResult result = OpenNamed(session, deadlineMs, out pipe);
            if (result == QorlSendResult.Busy)
                return result;
            if (result == QorlSendResult.Ok) {
                if (ServedByCaller(pipe))
                    return result;
                CloseHandle(pipe);
                pipe = InvalidHandle;
            }
            // None, or not this user's: a server older than the session pipe,
            // or one that found its name taken, serves the machine-wide pipe.
            int elapsed = unchecked(Environment.TickCount - start);
            deadlineMs = elapsed >= deadlineMs ? 0 : deadlineMs - elapsed;
        }
        return OpenNamed(PipeName, deadlineMs, out pipe);
    }

    // Opens the named pipe for writing, waiting while another client holds it.
    static QorlSendResult OpenNamed(string name, int deadlineMs, out IntPtr pipe)
    {
        int start = Environment.TickCount;
        for (;;) {
            // Identification only: the server never acts as its sender, and a
            // program that took the pipe's name first must not either.
            pipe = CreateFile(name, GENERIC_WRITE, 0, IntPtr.Zero, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, IntPtr.Zero);
            if (pipe != InvalidHandle)
                return QorlSendResult.Ok;
            int error = Marshal.GetLastWin32Error();
            if (error == ERROR_FILE_NOT_FOUND)
                return QorlSendResult.NoServer;
            if (error == ERROR_ACCESS_DENIED)
                return QorlSendResult.AccessDenied;
            if (error != ERROR_PIPE_BUSY)
                return QorlSendResult.OpenFailed;

            int elapsed = unchecked(Environment.TickCount - start);
            if (elapsed >= deadlineMs) {
                SetLastError(ERROR_PIPE_BUSY);
                return QorlSendResult.Busy;
            }
            // Blocks until the instance is free or the time is up. TRUE only
            // says it was free a moment ago: another client may take it
            // first, so the open above is tried again either way.
            if (!WaitNamedPipe(name, (uint)(deadlineMs - elapsed))
                && Marshal.GetLastWin32Error() == ERROR_FILE_NOT_FOUND)
                return QorlSendResult.NoServer;
        }
    }
}
