// The package through Windows Installer (Wine's msiexec), as a vendor's
// silent install runs it, one table row a step: the files, the Run value,
// the registered products, the server processes and the file they run, with
// the stand-in box put into the folder as a vendor's box would be.
//   QORL_MSI       the package under test
//   QORL_MSI_NEXT  the same package of a higher version (installer_test.sh)
#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>

#include <msi.h>
#include <psapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "../e2e/harness.h"

namespace {

const wchar_t UpgradeCode[] = L"{7D3F2A91-5C4E-4B6A-9E07-1A2B3C4D5E6F}";
const wchar_t ServerName[] = L"QorlServer.exe";
const DWORD InstallFailure = 1603;
const char* const Current = QORL_VERSION;
const char* const Next = QORL_NEXT_VERSION;   // of the package installer_test.sh builds

enum Folder { Kept, OnlyTheBox, Gone };

struct Step {
    const char* name;
    const wchar_t* verb;       // /i or /x
    const wchar_t* package;    // the variable naming it
    const wchar_t* property;   // "" or NAME=VALUE; <DIR> is the install folder
    DWORD exitCode;
    const char* running;       // the version of the one server running; nullptr: none
    int products;
    Folder folder;             // after the step
    bool showBox;              // then: a box for a message, as a vendor's would show
};

const Step Lifecycle[] = {
    {"install", L"/i", L"QORL_MSI", L"", 0, Current, 1, Kept, true},
    {"upgrade while a box shows", L"/i", L"QORL_MSI_NEXT", L"", 0, Next, 1, Kept, false},
    {"older version refused", L"/i", L"QORL_MSI", L"", InstallFailure, Next, 1, Kept, false},
    {"removal while running", L"/x", L"QORL_MSI_NEXT", L"", 0, nullptr, 0, OnlyTheBox, false},
    {"install, not started", L"/i", L"QORL_MSI", L"QORL_START=0", 0, nullptr, 1, Kept, false},
    {"same version again", L"/i", L"QORL_MSI", L"", 0, Current, 1, Kept, false},
    {"removal", L"/x", L"QORL_MSI", L"", 0, nullptr, 0, Gone, false},
};

const Step ChineseFolder[] = {
    {"install into a folder of its own", L"/i", L"QORL_MSI", L"INSTALLDIR=<DIR>", 0, Current, 1,
     Kept, true},
    {"removal", L"/x", L"QORL_MSI", L"", 0, nullptr, 0, OnlyTheBox, false},
};

std::wstring DefaultFolder()
{
    wchar_t local[MAX_PATH];
    SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, 0, local);
    return std::wstring(local) + L"\\Programs\\Qorl\\";
}

struct Server {
    int count = 0;
    DWORD pid = 0;
    std::wstring path;
};

Server RunningServers()
{
    Server found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, ServerName) != 0)
            continue;
        ++found.count;
        found.pid = entry.th32ProcessID;
        HANDLE process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, found.pid);
        wchar_t image[MAX_PATH];
        DWORD length = process == NULL ? 0 : GetModuleFileNameExW(process, NULL, image, MAX_PATH);
        found.path.assign(image, length);
        if (process != NULL)
            CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

std::string FileVersion(const std::wstring& path)
{
    DWORD ignored;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(path.c_str(), &ignored) + 1);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &size))
        return "(none)";
    char text[32];
    wsprintfA(text, "%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS));
    return text;
}

std::wstring RunValue()
{
    wchar_t value[MAX_PATH] = L"";
    DWORD size = sizeof(value);
    HKEY run;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_QUERY_VALUE, &run) != ERROR_SUCCESS)
        return Absent;
    LONG result = RegQueryValueExW(run, L"QorlServer", NULL, NULL,
                                   reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(run);
    return result == ERROR_SUCCESS ? value : Absent;
}

int RegisteredProducts()
{
    wchar_t product[39];
    int count = 0;
    while (MsiEnumRelatedProductsW(UpgradeCode, 0, count, product) == ERROR_SUCCESS)
        ++count;
    return count;
}

std::vector<std::wstring> FolderContents(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (found.cFileName[0] != L'.')
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// msiexec's standard handles are NUL: the server it starts inherits them,
// and must hold nothing of the test's open.
DWORD RunMsiexec(const std::vector<std::wstring>& arguments)
{
    std::wstring command = L"msiexec.exe";
    for (const std::wstring& argument : arguments)
        command += L" \"" + argument + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE none = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, NULL);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = none;
    PROCESS_INFORMATION info = {};
    DWORD code = STILL_ACTIVE;
    if (CreateProcessW(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup, &info)) {
        if (WaitForSingleObject(info.hProcess, 120000) == WAIT_OBJECT_0)
            GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    CloseHandle(none);
    return code;
}

DWORD Msiexec(const Step& step, const std::wstring& folder, const std::wstring& log)
{
    std::vector<std::wstring> arguments = {step.verb, FileFromEnvironment(step.package, L""),
                                           L"/qn", L"/l*v", log};
    std::wstring property = step.property;
    size_t at = property.find(L"<DIR>");
    if (at != std::wstring::npos)
        property.replace(at, 5, folder.substr(0, folder.size() - 1));   // no \ before a quote
    if (!property.empty())
        arguments.push_back(property);
    return RunMsiexec(arguments);
}

// The server started by the package creates its pipe a moment later.
SendResult SendWhenListening(const std::string& message)
{
    SendResult result = NoServer;
    for (int i = 0; i < 100 && (result = Send(message)) == NoServer; ++i)
        Sleep(50);
    return result;
}

// Before InstallValidate looks at the files in use, the old server is gone:
// the stop is synchronous, and the log names the actions in the order they
// ran (its other words follow the locale).
void ExpectStoppedBeforeValidation(const std::wstring& log)
{
    std::string text = ReadFileBytes(log);
    size_t stopped = text.find("StopServer");
    ASSERT_NE(std::string::npos, stopped) << "no StopServer in the log";
    EXPECT_LT(stopped, text.find("InstallValidate")) << "StopServer after InstallValidate";
}

void RunSteps(const Step* steps, size_t count, const std::wstring& folder)
{
    std::wstring log = MakeScratchDirectory(L"msiexec-log") + L"msiexec.log";
    DWORD boxPid = 0;
    for (size_t i = 0; i < count; ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(step.name);
        Server before = RunningServers();
        HANDLE old = before.count == 1 ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION,
                                                     FALSE, before.pid)
                                       : NULL;
        ASSERT_EQ(step.exitCode, Msiexec(step, folder, log)) << "log: " << Utf8(log);

        Server after = RunningServers();
        if (step.running != nullptr) {
            ASSERT_EQ(1, after.count);
            EXPECT_EQ(Utf8(folder + ServerName), Utf8(after.path));
            EXPECT_EQ(step.running, FileVersion(after.path));
        } else {
            EXPECT_EQ(0, after.count);
        }
        if (old != NULL) {
            DWORD code = STILL_ACTIVE;
            GetExitCodeProcess(old, &code);
            if (step.exitCode == 0) {
                EXPECT_EQ(0u, code) << "the old server was not ended by its exit command";
                ExpectStoppedBeforeValidation(log);
            } else {
                EXPECT_EQ(before.pid, after.pid) << "a refused package touched the server";
            }
            CloseHandle(old);
        }
        if (boxPid != 0 && step.exitCode == 0) {
            EXPECT_TRUE(BoxQuit(folder, boxPid)) << "the old box still shows";
            boxPid = 0;
        }
        EXPECT_EQ(step.products, RegisteredProducts());

        bool installed = step.products > 0;
        EXPECT_EQ(installed, FileExists(folder + ServerName));
        EXPECT_EQ(installed, FileExists(folder + L"QorlSend.exe"));
        EXPECT_EQ(installed ? L"\"" + folder + ServerName + L"\"" : std::wstring(Absent),
                  RunValue());
        if (step.folder == OnlyTheBox) {
            EXPECT_EQ((std::vector<std::wstring>{L"QorlBox.exe", L"qorlbox.log"}),
                      FolderContents(folder));
            DeleteFileW((folder + L"QorlBox.exe").c_str());   // the vendor's box goes too
            DeleteFileW((folder + L"qorlbox.log").c_str());
        } else if (step.folder == Gone) {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
        }

        if (step.showBox) {
            ASSERT_TRUE(CopyFileW((BuildDirectory() + L"QorlBox.exe").c_str(),
                                  (folder + L"QorlBox.exe").c_str(), FALSE));
            ASSERT_EQ(Sent, SendWhenListening("paper_Label Printer 1"));
            ASSERT_TRUE(WaitForBoxEvents(folder, "start", 1));
            boxPid = ReadBoxLog(folder).back().pid;
            EXPECT_EQ(L"paper", ReadReport(folder, L"TYPE"));
            EXPECT_EQ(L"Label Printer 1", ReadReport(folder, L"PRINTER"));
            ProgramRun check = RunProgram(folder + L"QorlSend.exe", {L"--check"}, folder);
            EXPECT_EQ(0u, check.exitCode) << check.output;
        }
    }
}

class InstallerTest : public ::testing::Test {
protected:
    // Nothing of an earlier run, and nothing left for the next suite: a Run
    // value would start a server with the prefix.
    static void RemoveAll()
    {
        for (const wchar_t* package : {L"QORL_MSI_NEXT", L"QORL_MSI"})
            RunMsiexec({L"/x", FileFromEnvironment(package, L""), L"/qn"});
    }
    void SetUp() override
    {
        RemoveAll();
        std::wstring folder = DefaultFolder();   // and a box an earlier run left
        DeleteFileW((folder + L"QorlBox.exe").c_str());
        DeleteFileW((folder + L"qorlbox.log").c_str());
        RemoveDirectoryW(folder.c_str());
    }
    void TearDown() override { RemoveAll(); }
};

TEST_F(InstallerTest, InstallUpgradeRefuseAndRemove)
{
    RunSteps(Lifecycle, ARRAYSIZE(Lifecycle), DefaultFolder());
}

TEST_F(InstallerTest, CodePage936FolderWithSpacesAndChineseCharacters)
{
    ASSERT_EQ(936u, GetACP());
    RunSteps(ChineseFolder, ARRAYSIZE(ChineseFolder),
             MakeScratchDirectory(L"Qorl \x6807\x7B7E \x6253\x5370"));
}

}  // namespace
