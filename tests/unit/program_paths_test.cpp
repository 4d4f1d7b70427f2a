// Where the report and the status box are looked for, and paths that do not fit.
#include <gtest/gtest.h>

#include <string>

#include "../../pipe/pipe_server.h"

namespace {

struct Paths {
    std::wstring directory;
    std::wstring report;
};

Paths Make(const std::wstring& module, DWORD length)
{
    WCHAR directory[PathSize];
    WCHAR report[PathSize];
    // Poisoned, to see that a refusal really empties both.
    for (DWORD i = 0; i < PathSize; ++i)
        directory[i] = report[i] = L'#';
    MakeProgramPaths(module.c_str(), length, directory, report);
    return Paths{directory, report};
}

Paths Make(const std::wstring& module)
{
    return Make(module, static_cast<DWORD>(module.size()));
}

TEST(MakeProgramPaths, KeepsTheDirectoryWithItsBackslash)
{
    Paths paths = Make(L"C:\\Program Files\\Qorl\\QorlServer.exe");
    EXPECT_EQ(L"C:\\Program Files\\Qorl\\", paths.directory);
    EXPECT_EQ(L"C:\\Program Files\\Qorl\\box.ini", paths.report);
}

TEST(MakeProgramPaths, RefusesPathsThatDoNotFit)
{
    // Room for "QorlBox.exe" and its terminating zero: 259 units in all.
    std::wstring fits = L"C:\\" + std::wstring(259 - 11 - 4, L'd') + L"\\";
    ASSERT_EQ(259u - 11u, fits.size());
    EXPECT_EQ(fits, Make(fits + L"s.exe").directory);
    EXPECT_EQ(fits + L"box.ini", Make(fits + L"s.exe").report);

    std::wstring tooLong = L"C:\\" + std::wstring(259 - 11 - 3, L'd') + L"\\";
    EXPECT_EQ(L"", Make(tooLong + L"s.exe").directory);
    EXPECT_EQ(L"", Make(tooLong + L"s.exe").report);

    // GetModuleFileNameW filled the whole buffer: the path was cut.
    std::wstring cut = L"C:\\a\\" + std::wstring(PathSize - 5, L'x');
    EXPECT_EQ(L"", Make(cut, PathSize).directory);
    EXPECT_EQ(L"", Make(L"", 0).report);
    EXPECT_EQ(L"", Make(L"QorlServer.exe").directory);
}

}  // namespace
