// The package through Wine's msiexec, as a vendor's silent install runs it,
// one table row a step; the stand-in box goes into the folder as a vendor's
// box would. QORL_MSI is the package under test, QORL_MSI_NEXT the same
// package of the next version (installer_test.sh builds it).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include <windows.h>

#include <msi.h>
#include <psapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "../e2e/harness.h"

namespace {

const char* const Current = QORL_VERSION;
const char* const Next = QORL_NEXT_VERSION;
const wchar_t ServerName[] = L"QorlServer.exe";

enum Folder { Kept, OnlyTheBox, Gone };

struct Step {
    const char* name;
    const wchar_t* verb;       // msiexec's: /i or /x
    const wchar_t* package;    // the variable naming it
    const wchar_t* property;   // NAME=VALUE or ""; <DIR> is the folder
    DWORD exitCode;
    const char* running;       // the version the one server runs; nullptr: none
    int products;              // registered under the UpgradeCode
    Folder folder;
    const wchar_t* lost;       // a file deleted before the step, or ""
};

const Step Lifecycle[] = {
    {"per-machine refused", L"/i", L"QORL_MSI", L"ALLUSERS=1", 1603, nullptr, 0, Gone, L""},
    {"install", L"/i", L"QORL_MSI", L"", 0, Current, 1, Kept, L""},
    {"upgrade while a box shows", L"/i", L"QORL_MSI_NEXT", L"", 0, Next, 1, Kept, L""},
    {"older version refused", L"/i", L"QORL_MSI", L"", 1603, Next, 1, Kept, L""},
    {"removal while running", L"/x", L"QORL_MSI_NEXT", L"", 0, nullptr, 0, OnlyTheBox, L""},
    {"install, not started", L"/i", L"QORL_MSI", L"QORL_START=0", 0, nullptr, 1, Kept, L""},
    {"repair", L"/i", L"QORL_MSI", L"REINSTALL=ALL", 0, Current, 1, Kept, L"QorlSend.exe"},
    {"same version again", L"/i", L"QORL_MSI", L"", 0, Current, 1, Kept, L""},
    {"removal", L"/x", L"QORL_MSI", L"", 0, nullptr, 0, Gone, L""},
};

// Upgrades made to fail after the old version's removal (installer_test.sh);
// "/qr ": the UI sequence too. Under Wine the removal is never rolled back,
// the exit action runs before the rollback, which keeps only the file in use:
// no server after an early failure, the new version's after a late one.
const Step FailedUpgrades[] = {
    {"install", L"/i", L"QORL_MSI", L"", 0, Current, 1, Kept, L""},
    {"upgrade failing before its files", L"/i", L"QORL_MSI_NEXT", L"QORL_TEST_FAIL=1", 1627, nullptr, 0, OnlyTheBox, L""},
    {"install again", L"/i", L"QORL_MSI", L"", 0, Current, 1, Kept, L""},
    {"upgrade failing after its files", L"/i", L"QORL_MSI_NEXT", L"QORL_TEST_FAIL=2", 1627, Next, 0, Kept, L""},
    {"upgrade over what Wine left", L"/i", L"QORL_MSI_NEXT", L"", 0, Next, 1, Kept, L""},
    {"removal", L"/x", L"QORL_MSI_NEXT", L"", 0, nullptr, 0, OnlyTheBox, L""},
    {"install once more", L"/i", L"QORL_MSI", L"", 0, Current, 1, Kept, L""},
    {"the same at reduced UI", L"/i", L"QORL_MSI_NEXT", L"/qr QORL_TEST_FAIL=2", 1627, Next, 0, Kept, L""},
    {"upgrade over that", L"/i", L"QORL_MSI_NEXT", L"", 0, Next, 1, Kept, L""},
};

const Step ChineseFolder[] = {
    {"install elsewhere", L"/i", L"QORL_MSI", L"INSTALLDIR=<DIR>", 0, Current, 1, Kept, L""},
    {"upgrade stays there", L"/i", L"QORL_MSI_NEXT", L"", 0, Next, 1, Kept, L""},
    {"removal", L"/x", L"QORL_MSI_NEXT", L"", 0, nullptr, 0, OnlyTheBox, L""},
};

std::wstring DefaultFolder()
{
    wchar_t local[MAX_PATH];
    SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, 0, local);
    return std::wstring(local) + L"\\Programs\\Qorl\\";
}

// The QorlServer.exe processes: how many, and the file of the last.
int RunningServers(DWORD* pid, std::wstring* path)
{
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, ServerName) != 0)
            continue;
        ++count;
        *pid = entry.th32ProcessID;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, *pid);
        wchar_t image[MAX_PATH] = L"";
        if (process != NULL) {
            GetModuleFileNameExW(process, NULL, image, MAX_PATH);
            CloseHandle(process);
        }
        *path = image;
    }
    CloseHandle(snapshot);
    return count;
}

std::string FileVersion(const std::wstring& path)
{
    static BYTE data[16384];
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, sizeof(data), data) ||
        !VerQueryValueW(data, L"\\", reinterpret_cast<void**>(&fixed), &size))
        return "(none)";
    char text[32];
    wsprintfA(text, "%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS));
    return text;
}

std::wstring RunValue()
{
    wchar_t value[MAX_PATH];
    DWORD size = sizeof(value);
    return RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                        L"QorlServer", RRF_RT_REG_SZ, NULL, value, &size) == ERROR_SUCCESS
               ? value
               : Absent;
}

int RegisteredProducts()
{
    wchar_t product[39];
    int count = 0;
    while (MsiEnumRelatedProductsW(L"{7D3F2A91-5C4E-4B6A-9E07-1A2B3C4D5E6F}", 0, count,
                                   product) == ERROR_SUCCESS)
        ++count;
    return count;
}

std::vector<std::wstring> FolderContents(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if (found.cFileName[0] != L'.')
            names.push_back(found.cFileName);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

DWORD Msiexec(const wchar_t* verb, const wchar_t* package, std::wstring property = L"",
              const std::wstring& log = L"")
{
    const wchar_t* ui = L"/qn";
    if (property.compare(0, 4, L"/qr ") == 0) {
        ui = L"/qr";
        property.erase(0, 4);
    }
    std::vector<std::wstring> arguments = {verb, FileFromEnvironment(package, L""), ui};
    if (!log.empty())
        arguments.insert(arguments.end(), {L"/l*v", log});
    if (!property.empty())
        arguments.push_back(property);
    return RunProgram(L"msiexec.exe", arguments, BuildDirectory(), 120000).exitCode;
}

void RunSteps(const Step* steps, size_t count, const std::wstring& folder)
{
    std::wstring log = MakeScratchDirectory(L"msiexec-log") + L"msiexec.log";
    DWORD boxPid = 0;
    bool boxShown = false;
    for (const Step* step = steps; step != steps + count; ++step) {
        SCOPED_TRACE(step->name);
        DWORD pid = 0;
        std::wstring path;
        HANDLE old = NULL;
        if (RunningServers(&pid, &path) == 1)
            old = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (step->lost[0] != 0)
            DeleteFileW((folder + step->lost).c_str());
        std::wstring property = step->property;
        if (property.find(L"<DIR>") != std::wstring::npos)   // no \ before a closing quote
            property.replace(property.find(L"<DIR>"), 5, folder.substr(0, folder.size() - 1));
        ASSERT_EQ(step->exitCode, Msiexec(step->verb, step->package, property, log));
        bool failed = wcsstr(step->property, L"QORL_TEST_FAIL") != nullptr;
        bool refused = step->exitCode != 0 && !failed;

        DWORD oldPid = pid;
        for (int i = 0; i < 40 && RunningServers(&pid, &path) > 1; ++i)
            Sleep(50);   // a refused package's exit action starts a second one, which ends at once
        int servers = RunningServers(&pid, &path);
        EXPECT_EQ(step->running ? 1 : 0, servers);
        if (step->running && servers == 1) {
            EXPECT_EQ(Utf8(folder + ServerName), Utf8(path));
            EXPECT_EQ(step->running, FileVersion(path));
        }
        // The stop's one line in the log: what it found, and whom it stopped.
        std::string stopLine = old == NULL ? "QorlStop: no server of this session was running"
                                           : "QorlStop: stopped QorlServer.exe, process " +
                                                 std::to_string(oldPid) + " (";
        EXPECT_TRUE(refused || ReadFileBytes(log).find(stopLine) != std::string::npos)
            << "no \"" << stopLine << "\" in the log";
        if (old != NULL && refused) {
            EXPECT_EQ(oldPid, pid) << "a refused package touched the server";
        } else if (old != NULL) {
            // Stopped by its exit command, before InstallValidate looked at
            // the files in use: the log names the actions in the order run.
            DWORD code = STILL_ACTIVE;
            GetExitCodeProcess(old, &code);
            EXPECT_EQ(0u, code) << "the old server did not end by its exit command";
            std::string text = ReadFileBytes(log);
            EXPECT_LT(text.find("StopServer"), text.find("InstallValidate"));
            EXPECT_TRUE(boxPid == 0 || BoxQuit(folder, boxPid)) << "the old box still shows";
            boxPid = 0;
        }
        if (old != NULL)
            CloseHandle(old);
        EXPECT_EQ(step->products, RegisteredProducts());
        if (failed) {   // Wine's rollback leaves what no Windows would: the server tells
            std::string text = ReadFileBytes(log);
            EXPECT_NE(std::string::npos, text.find("RestartOnFailure"));
            // A planted failure that does nothing must not pass for one.
            std::string property = Utf8(step->property);
            std::string planted = "Fail" + property.substr(property.find("QORL_TEST_FAIL=") + 15, 1);
            // "Return value 1" is success; Windows writes 3 for a failure, Wine 0.
            size_t ended = text.find(": " + planted + ". Return value ");
            EXPECT_TRUE(ended != std::string::npos &&
                        text[ended + planted.size() + 17] != '1')
                << "the planted action " << planted << " did not run and fail";
            std::string after = servers ? "QorlServer.exe " + FileVersion(path) + " runs, " + Utf8(path)
                                        : "no server runs";
            printf("rollback: %s: exit code %lu; %s\n", step->name, step->exitCode, after.c_str());
            continue;
        }

        bool installed = step->products > 0;
        EXPECT_EQ(installed, FileExists(folder + ServerName));
        EXPECT_EQ(installed, FileExists(folder + L"QorlSend.exe"));
        EXPECT_EQ(installed ? L"\"" + folder + ServerName + L"\"" : std::wstring(Absent),
                  RunValue());
        if (step->folder == OnlyTheBox) {   // box.ini gone, the vendor's box kept
            EXPECT_EQ((std::vector<std::wstring>{L"QorlBox.exe", L"qorlbox.log"}),
                      FolderContents(folder));
            DeleteFileW((folder + L"QorlBox.exe").c_str());
            DeleteFileW((folder + L"qorlbox.log").c_str());
        }
        if (step->folder == Gone) {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
        }

        if (step->running && !boxShown) {   // a message, and a box as the vendor's would show
            boxShown = true;
            ASSERT_TRUE(CopyFileW((BuildDirectory() + L"QorlBox.exe").c_str(),
                                  (folder + L"QorlBox.exe").c_str(), FALSE));
            for (int i = 0; i < 100 && Send("paper_Label Printer 1") == NoServer; ++i)
                Sleep(50);   // the server creates its pipe a moment after it starts
            ASSERT_TRUE(WaitForBoxEvents(folder, "start", 1));
            boxPid = ReadBoxLog(folder).back().pid;
            EXPECT_EQ(L"Label Printer 1", ReadReport(folder, L"PRINTER"));
            ProgramRun check = RunProgram(folder + L"QorlSend.exe", {L"--check"}, folder);
            EXPECT_EQ(0u, check.exitCode) << check.output;
        }
    }
}

class InstallerTest : public ::testing::Test {
protected:
    // Nothing of an earlier run, and nothing for the next suite: a Run value
    // would start a server with the prefix.
    static void RemoveAll()
    {
        Msiexec(L"/x", L"QORL_MSI_NEXT");
        Msiexec(L"/x", L"QORL_MSI");
        // The box, and what Wine leaves of a replacement put off to a restart.
        for (const std::wstring& name : FolderContents(DefaultFolder()))
            DeleteFileW((DefaultFolder() + name).c_str());
        RemoveDirectoryW(DefaultFolder().c_str());
    }
    void SetUp() override { RemoveAll(); }
    void TearDown() override { RemoveAll(); }
};

TEST_F(InstallerTest, InstallUpgradeRefuseRepairAndRemove)
{
    RunSteps(Lifecycle, ARRAYSIZE(Lifecycle), DefaultFolder());
}

TEST_F(InstallerTest, FailedUpgradeStartsTheServerInTheKeptFolder)
{
    RunSteps(FailedUpgrades, ARRAYSIZE(FailedUpgrades), DefaultFolder());
}

// Instances of the pipe made before the server's and served as a server
// serves them: the stop's connections (and under Wine the old version's
// removal's) reach them first, and must get past them to the server.
TEST_F(InstallerTest, UpgradeStopReachesTheServerPastAnotherProcessPipe)
{
    ServedPipe served = ServePipeInstances(6);
    ASSERT_EQ(0u, Msiexec(L"/i", L"QORL_MSI"));
    DWORD pid = 0;
    std::wstring path;
    ASSERT_EQ(1, RunningServers(&pid, &path));
    std::wstring log = MakeScratchDirectory(L"msiexec-log") + L"msiexec.log";
    DWORD code = Msiexec(L"/i", L"QORL_MSI_NEXT", L"", log);
    EXPECT_NE(std::string::npos, ReadFileBytes(log).find(
                                     "QorlStop: stopped QorlServer.exe, process " + std::to_string(pid)));
    EXPECT_EQ("", StopServingPipe(&served)) << "the stop wrote to a pipe instance of another process";
    DWORD oldPid = pid;
    EXPECT_EQ(0u, code);
    EXPECT_EQ(1, RunningServers(&pid, &path));
    EXPECT_NE(oldPid, pid);
    EXPECT_EQ(Next, FileVersion(path));
    printf("pipe held: the upgrade exited %lu; QorlServer.exe %s runs, process %lu\n", code,
           FileVersion(path).c_str(), pid);
}

// Another install's server, in its own folder: the package's install and
// removal free their own folder and leave that one running.
TEST_F(InstallerTest, AnotherFolderServerSurvivesInstallAndRemoval)
{
    std::wstring other = MakeProgramDirectory(L"other-suite", WithBox);
    ServerProcess server = StartServer(other);
    ASSERT_NE(nullptr, server.process);
    const std::string left = "QorlStop: QorlServer.exe, process " + std::to_string(server.id) +
                             " (" + Utf8(other) + "QorlServer.exe), runs from another folder than "
                             "this package's; it is left running";
    std::wstring log = MakeScratchDirectory(L"msiexec-log") + L"msiexec.log";
    for (const wchar_t* verb : {L"/i", L"/x"}) {
        SCOPED_TRACE(Utf8(verb));
        EXPECT_EQ(0u, Msiexec(verb, L"QORL_MSI", L"", log));
        EXPECT_NE(std::string::npos, ReadFileBytes(log).find(left)) << ReadFileBytes(log);
        EXPECT_EQ(STILL_ACTIVE, WaitForExit(server, 0));
    }
    StopServer(&server);
}

TEST_F(InstallerTest, CodePage936FolderWithSpacesAndChineseCharacters)
{
    ASSERT_EQ(936u, GetACP());
    RunSteps(ChineseFolder, ARRAYSIZE(ChineseFolder),
             MakeScratchDirectory(L"Qorl \x6807\x7B7E \x6253\x5370"));
}

}  // namespace
