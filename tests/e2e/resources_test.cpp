// What the executable carries: strings, icons, menu, accelerators, manifest,
// in the languages the shell and the loader look for.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

const WORD Chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
const WORD English = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

class Resources : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring path = ServerUnderTest();
        module = LoadLibraryExW(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module);
    }
    void TearDown() override
    {
        if (module != NULL)
            FreeLibrary(module);
    }

    std::string Data(LPCWSTR type, LPCWSTR name, WORD language)
    {
        HRSRC found = FindResourceExW(module, type, name, language);
        if (found == NULL)
            return std::string();
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(bytes, SizeofResource(module, found));
    }

    HMODULE module = NULL;
};

TEST_F(Resources, StringsAreChinese)
{
    // Strings 96 to 111 live in block 7.
    EXPECT_FALSE(Data(RT_STRING, MAKEINTRESOURCEW(103 / 16 + 1), Chinese).empty());
    wchar_t text[100];
    ASSERT_GT(LoadStringW(module, 103, text, 100), 0);
    EXPECT_EQ(std::wstring(L"ViroRer"), text);
    ASSERT_GT(LoadStringW(module, 109, text, 100), 0);
    EXPECT_EQ(std::wstring(L"VIRORER"), text);
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(Resources, BothIconGroupsHoldTwo32PixelImagesIn16And256Colours)
{
    for (int id : {107, 108}) {
        SCOPED_TRACE(id);
        std::string group = Data(RT_GROUP_ICON, MAKEINTRESOURCEW(id), Chinese);
        ASSERT_EQ(6u + 2 * sizeof(IconGroupEntry), group.size());
        const IconGroupEntry* entries = reinterpret_cast<const IconGroupEntry*>(group.data() + 6);
        int bits[2] = {entries[0].bits, entries[1].bits};
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(32, entries[i].width);
            EXPECT_EQ(32, entries[i].height);
        }
        EXPECT_TRUE((bits[0] == 4 && bits[1] == 8) || (bits[0] == 8 && bits[1] == 4));
    }
    EXPECT_NE(nullptr, LoadImageW(module, MAKEINTRESOURCEW(107), IMAGE_ICON, 32, 32, 0));
}

std::wstring MenuText(HMENU menu, UINT position)
{
    wchar_t text[64] = {};
    GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

TEST_F(Resources, MenuAndAccelerators)
{
    EXPECT_FALSE(Data(RT_MENU, MAKEINTRESOURCEW(109), Chinese).empty());
    HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(109));
    ASSERT_NE(nullptr, menu);
    ASSERT_EQ(2, GetMenuItemCount(menu));
    EXPECT_EQ(L"\x6587\x4EF6(&F)", MenuText(menu, 0));        // 文件
    EXPECT_EQ(L"\x5E2E\x52A9(&H)", MenuText(menu, 1));        // 帮助
    HMENU file = GetSubMenu(menu, 0);
    HMENU help = GetSubMenu(menu, 1);
    EXPECT_EQ(L"\x9000\x51FA(&X)", MenuText(file, 0));        // 退出
    EXPECT_EQ(105u, GetMenuItemID(file, 0));
    EXPECT_EQ(L"\x5173\x4E8E(&A) ...", MenuText(help, 0));    // 关于
    EXPECT_EQ(104u, GetMenuItemID(help, 0));
    DestroyMenu(menu);

    EXPECT_FALSE(Data(RT_ACCELERATOR, MAKEINTRESOURCEW(109), Chinese).empty());
    HACCEL table = LoadAcceleratorsW(module, MAKEINTRESOURCEW(109));
    ASSERT_NE(nullptr, table);
    ACCEL keys[4];
    ASSERT_EQ(2, CopyAcceleratorTableW(table, keys, 4));
    for (const ACCEL& key : {keys[0], keys[1]}) {
        EXPECT_EQ(104, key.cmd);
        EXPECT_EQ(FALT, key.fVirt & (FALT | FVIRTKEY));
    }
    EXPECT_EQ('?', keys[0].key);
    EXPECT_EQ('/', keys[1].key);
    DestroyAcceleratorTable(table);
}

TEST_F(Resources, ManifestIsEnglishAndAsksForTheInvokersRights)
{
    std::string manifest = Data(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), English);
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\""));
}

TEST_F(Resources, VersionIsTheProjectsInChinese)
{
    std::string data = Data(RT_VERSION, MAKEINTRESOURCEW(1), Chinese);
    ASSERT_FALSE(data.empty());
    std::vector<char> info(data.begin(), data.end());   // VerQueryValueW wants it writable
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(3, sscanf(QORL_EXPECTED_VERSION, "%u.%u.%u", &major, &minor, &patch));
    EXPECT_EQ(MAKELONG(minor, major), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, patch), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

    DWORD* translation = NULL;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &size));
    EXPECT_EQ(MAKELONG(Chinese, 1200), static_cast<LONG>(*translation));

    std::string expected(QORL_EXPECTED_VERSION);
    const std::pair<const wchar_t*, std::wstring> strings[] = {
        {L"FileVersion", std::wstring(expected.begin(), expected.end())},
        {L"ProductVersion", std::wstring(expected.begin(), expected.end())},
        {L"OriginalFilename", L"QorlServer.exe"},
        {L"ProductName", L"QorlServer"},
        {L"FileDescription", L"Qorl \x6807\x7B7E\x6253\x5370\x673A\x72B6\x6001\x670D\x52A1"},
    };
    for (const auto& string : strings) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + string.first;
        wchar_t* value = NULL;
        EXPECT_TRUE(VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value),
                                   &size)) << Utf8(string.first);
        EXPECT_EQ(string.second, value != NULL ? value : L"") << Utf8(string.first);
    }
}

}  // namespace
