// Splitting, field limits and titles of a received message.
#include <gtest/gtest.h>

#include <string>

#include "../../status/status_message.h"

namespace {

StatusMessage Parse(const std::string& bytes)
{
    char buffer[MessageBufferSize] = {};
    std::copy(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), MessageBufferSize),
              buffer);
    StatusMessage message;
    ParseStatusMessage(buffer, static_cast<DWORD>(std::min<size_t>(bytes.size(), MessageBufferSize)),
                       &message);
    return message;
}

struct SplitCase {
    std::string bytes;
    std::string command;
    std::string argument;
    std::wstring title;
};

TEST(ParseStatusMessage, SplitsAtTheFirstUnderscoreOnly)
{
    const SplitCase cases[] = {
        {"paper_LabelPrinter1", "paper", "LabelPrinter1", L"LabelPrinter1  V1.4"},
        {"", "", "", L"  V1.4"},
        {std::string("\0paper_P", 8), "", "", L"  V1.4"},
        {"exit", "exit", "", L"  V1.4"},
        {"_P", "", "P", L"P  V1.4"},
        {"paper_", "paper", "", L"  V1.4"},
        {"labelerr_Office_2nd_floor", "labelerr", "Office_2nd_floor", L"Office_2nd_floor  V1.4"},
        {std::string("busy_P1\0_junk", 13), "busy", "P1", L"P1  V1.4"},
        {"  paper _ P ", "  paper ", " P ", L" P   V1.4"},
        {"exit\n", "exit\n", "", L"  V1.4"},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.bytes);
        StatusMessage message = Parse(c.bytes);
        EXPECT_STREQ(c.command.c_str(), message.command);
        EXPECT_STREQ(c.argument.c_str(), message.argument);
        EXPECT_EQ(c.title, std::wstring(message.statusTitle));
        EXPECT_TRUE(message.usable);
    }
}

TEST(ParseStatusMessage, ReadsOnlyTheBytesDelivered)
{
    char buffer[MessageBufferSize] = "paper_ABCDEF";
    StatusMessage message;
    ParseStatusMessage(buffer, 8, &message);
    EXPECT_STREQ("AB", message.argument);
    EXPECT_EQ(std::wstring(L"AB"), message.printerName);
}

TEST(ParseStatusMessage, FieldsTakeNinetyNineBytesAndRefuseMore)
{
    StatusMessage fits = Parse("paper_" + std::string(99, 'p'));
    EXPECT_TRUE(fits.usable);
    EXPECT_EQ(std::string(99, 'p'), fits.argument);
    EXPECT_EQ(99u, std::wstring(fits.printerName).size());

    // A name cut to 99 bytes could be another printer's: refused whole.
    StatusMessage longArgument = Parse("devCancel_" + std::string(100, 'p'));
    EXPECT_FALSE(longArgument.usable);
    EXPECT_STREQ("devCancel", longArgument.command);
    EXPECT_STREQ("", longArgument.argument);
    EXPECT_EQ(std::wstring(L"  V1.4"), longArgument.statusTitle);

    StatusMessage commandFits = Parse(std::string(99, 'c') + "_P");
    EXPECT_TRUE(commandFits.usable);
    EXPECT_EQ(std::string(99, 'c'), commandFits.command);

    StatusMessage longCommand = Parse(std::string(100, 'c') + "_P");
    EXPECT_FALSE(longCommand.usable);
    EXPECT_STREQ("", longCommand.command);

    // The longest possible text, no underscore at all.
    StatusMessage whole = Parse(std::string(MessageBufferSize, 'x'));
    EXPECT_FALSE(whole.usable);
    EXPECT_STREQ("", whole.command);
}

TEST(ParseStatusMessage, RefusesLineBreaksInTheArgument)
{
    // Written to box.ini, they would start sections and keys of the sender's choosing.
    const char* const hostile[] = {"paper_P\r\n[EVIL]\r\nx=1", "paper_P\n", "paper_\rP"};
    for (const char* bytes : hostile) {
        SCOPED_TRACE(bytes);
        StatusMessage message = Parse(bytes);
        EXPECT_FALSE(message.usable);
        EXPECT_STREQ("paper", message.command);
        EXPECT_EQ(std::wstring(), message.printerName);
    }
}

TEST(ParseStatusMessage, ReplacesEveryFieldOfThePreviousMessage)
{
    char buffer[MessageBufferSize] = "paper_LongPrinterName";
    StatusMessage message;
    ParseStatusMessage(buffer, 21, &message);
    char second[MessageBufferSize] = "usb_B";
    ParseStatusMessage(second, 5, &message);
    EXPECT_STREQ("usb", message.command);
    EXPECT_STREQ("B", message.argument);
    EXPECT_EQ(std::wstring(L"B  V1.4"), message.statusTitle);
}

// Chinese (PRC) as the thread's locale changes CP_THREAD_ACP to 936 alone.
TEST(ParseStatusMessage, ConvertsWithTheThreadCodePage)
{
    LCID previous = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(MAKELCID(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED),
                                         SORT_DEFAULT)));
    // "打印机1" in GBK: three double-byte characters and a digit.
    StatusMessage message = Parse("paper_\xB4\xF2\xD3\xA1\xBB\xFA" "1");
    SetThreadLocale(previous);
    EXPECT_EQ(std::wstring(L"\x6253\x5370\x673A" L"1"), message.printerName);
    EXPECT_EQ(std::wstring(L"\x6253\x5370\x673A" L"1  V1.4"), message.statusTitle);
}

TEST(MakeDiscoveryTitle, IsEnglishOutsideCodePage936)
{
    if (GetACP() == 936)
        GTEST_SKIP() << "the Chinese entry of this suite covers code page 936";
    WCHAR title[TitleSize];
    MakeDiscoveryTitle(title);
    EXPECT_EQ(std::wstring(L"Discover new printer"), title);
}

// Run by its own CTest entry under a Chinese Unix locale; excluded otherwise.
TEST(CodePage936, DiscoveryTitleAndPrinterNames)
{
    ASSERT_EQ(936u, GetACP()) << "this entry must run with LANG=zh_CN.UTF-8";
    WCHAR title[TitleSize];
    MakeDiscoveryTitle(title);
    EXPECT_EQ(std::wstring(L"\x53D1\x73B0\x65B0\x6253\x5370\x673A"), title);

    std::string gbk = "\xB1\xEA\xC7\xA9\xBB\xFA_A";   // "标签机_A", 8 bytes
    StatusMessage message = Parse("connect_" + gbk);
    EXPECT_EQ(std::wstring(L"\x6807\x7B7E\x673A_A"), message.printerName);
    EXPECT_LT(std::wstring(message.printerName).size(), gbk.size());
    EXPECT_EQ(std::wstring(L"\x6807\x7B7E\x673A_A  V1.4"), message.statusTitle);

    // A lead byte with no trail byte still leaves a terminated name.
    StatusMessage broken = Parse("connect_AB\xB1");
    EXPECT_LE(std::wstring(broken.printerName).size(), 3u);
    EXPECT_EQ(0, broken.printerName[FieldSize - 1]);
}

}  // namespace
