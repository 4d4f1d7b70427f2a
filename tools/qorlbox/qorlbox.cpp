// Stand-in status box for tests and the run command; not part of the server.
// Honours the server's contract: reads REPORT/TYPE and PRINTER from box.ini
// beside itself, shows them in a top-level "ravonPT" window titled for the
// printer (or the new-printer title for "newconnect"), and ends on WM_QUIT.
// It appends "start PID TYPE|PRINTER|TITLE" and "quit PID" lines to
// qorlbox.log beside itself. A file qorlbox.ignorequit beside it makes it
// ignore WM_QUIT, as a broken box would.
// The report type shows as a short phrase, in Chinese when the system code
// page is 936 (like the new-printer title), in English otherwise.
#include <windows.h>

#include "../../status/status_message.h"

#ifdef _MSC_VER
#pragma comment(lib, "gdi32.lib")   // the fonts; MinGW links it by default
#endif

namespace {

WCHAR Directory[MAX_PATH];

struct ReportPhrase {
    const WCHAR* type;      // the TYPE word, spelt as the server writes it
    const WCHAR* english;
    const WCHAR* chinese;
};

const ReportPhrase Phrases[] = {
    {L"newconnect", L"New printer found", L"\x53D1\x73B0\x65B0\x6253\x5370\x673A"},
    {L"connect", L"Printer connected", L"\x6253\x5370\x673A\x5DF2\x8FDE\x63A5"},
    {L"usb", L"Connected over USB", L"\x5DF2\x901A\x8FC7" L"USB" L"\x8FDE\x63A5"},
    {L"addNewDev", L"New printer added", L"\x5DF2\x6DFB\x52A0\x65B0\x6253\x5370\x673A"},
    {L"disconnect", L"Printer disconnected", L"\x6253\x5370\x673A\x5DF2\x65AD\x5F00"},
    {L"stopByHuman", L"Printing stopped by user",
     L"\x6253\x5370\x5DF2\x88AB\x7528\x6237\x505C\x6B62"},
    {L"temper", L"Print head too hot", L"\x6253\x5370\x5934\x8FC7\x70ED"},
    {L"cutter", L"Cutter error", L"\x5207\x5200\x9519\x8BEF"},
    {L"carbon", L"Ribbon out or faulty", L"\x78B3\x5E26\x7528\x5B8C\x6216\x6545\x969C"},
    {L"busy", L"Printer busy", L"\x6253\x5370\x673A\x5FD9"},
    {L"adapter", L"Power adapter error", L"\x7535\x6E90\x9002\x914D\x5668\x9519\x8BEF"},
    {L"unlock", L"Cover not locked", L"\x4E0A\x76D6\x672A\x9501\x7D27"},
    {L"lockopened", L"Cover open", L"\x4E0A\x76D6\x5DF2\x6253\x5F00"},
    {L"labelmore", L"Extra label detected", L"\x68C0\x6D4B\x5230\x591A\x4F59\x6807\x7B7E"},
    {L"labelbox", L"Label compartment error", L"\x6807\x7B7E\x4ED3\x9519\x8BEF"},
    {L"labelunkown", L"Unknown label type", L"\x672A\x77E5\x7684\x6807\x7B7E\x7C7B\x578B"},
    {L"paper", L"Out of labels", L"\x6807\x7B7E\x7EB8\x7528\x5B8C"},
    {L"labelerr", L"Label error", L"\x6807\x7B7E\x9519\x8BEF"},
    {L"rfiderr", L"RFID error", L"RFID" L"\x9519\x8BEF"},
    {L"rfidInvalid", L"Invalid RFID tag", L"RFID" L"\x6807\x7B7E\x65E0\x6548"},
    {L"rfidUnSupport", L"RFID not supported", L"\x4E0D\x652F\x6301" L"RFID"},
    {L"dpi", L"Resolution mismatch", L"\x5206\x8FA8\x7387\x4E0D\x5339\x914D"},
    {L"antifake", L"Anti-counterfeit check failed", L"\x9632\x4F2A\x9A8C\x8BC1\x5931\x8D25"},
    {L"netbusy", L"Network busy", L"\x7F51\x7EDC\x7E41\x5FD9"},
    {L"socketSnErr", L"Network serial-number error",
     L"\x7F51\x7EDC\x5E8F\x5217\x53F7\x9519\x8BEF"},
    {L"poweroff", L"Printer switched off", L"\x6253\x5370\x673A\x5DF2\x5173\x673A"},
    {L"height", L"Label height error", L"\x6807\x7B7E\x9AD8\x5EA6\x9519\x8BEF"},
};

const WCHAR PrinterLabelEnglish[] = L"Printer: ";
const WCHAR PrinterLabelChinese[] = L"\x6253\x5370\x673A\xFF1A";

// The system code page on purpose, as for the new-printer title.
bool SystemIsChinese()
{
    const UINT SimplifiedChinese = 936;
    return GetACP() == SimplifiedChinese;
}

// A word the table does not know shows as it came.
const WCHAR* PhraseFor(const WCHAR* type)
{
    for (size_t i = 0; i < sizeof(Phrases) / sizeof(Phrases[0]); ++i) {
        if (lstrcmpW(Phrases[i].type, type) == 0)
            return SystemIsChinese() ? Phrases[i].chinese : Phrases[i].english;
    }
    return type;
}

// The system's message font, which on a Chinese system has the glyphs;
// pixelHeight and weight make the phrase stand out from the printer line.
HFONT MakeFont(int pixelHeight, LONG weight)
{
    LOGFONTW font;
    NONCLIENTMETRICSW metrics;
    ZeroMemory(&metrics, sizeof(metrics));
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        font = metrics.lfMessageFont;
    else if (GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font) == 0)
        return NULL;
    font.lfHeight = -pixelHeight;
    font.lfWidth = 0;
    font.lfWeight = weight;
    return CreateFontIndirectW(&font);
}

void MakePath(WCHAR* path, const WCHAR* name)
{
    lstrcpynW(path, Directory, MAX_PATH);
    lstrcatW(path, name);
}

void Log(const WCHAR* line)
{
    WCHAR path[MAX_PATH];
    MakePath(path, L"qorlbox.log");
    char text[2048];
    int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof(text) - 2, NULL, NULL);
    if (length <= 0)
        return;
    text[length - 1] = '\n';
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, text, static_cast<DWORD>(length), &written, NULL);
    CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    DWORD length = GetModuleFileNameW(NULL, Directory, MAX_PATH);
    while (length > 0 && Directory[length - 1] != L'\\')
        --length;
    Directory[length] = 0;

    WCHAR ini[MAX_PATH];
    MakePath(ini, L"box.ini");
    WCHAR type[128];
    WCHAR printer[128];
    GetPrivateProfileStringW(L"REPORT", L"TYPE", L"", type, 128, ini);
    GetPrivateProfileStringW(L"REPORT", L"PRINTER", L"", printer, 128, ini);

    WCHAR title[TitleSize];
    if (lstrcmpW(type, L"newconnect") == 0)
        MakeDiscoveryTitle(title);
    else
        wsprintfW(title, L"%s  V1.4", printer);

    // Logged before the window shows: whoever sees the window finds the line.
    WCHAR line[600];
    wsprintfW(line, L"start %lu %s|%s|%s", GetCurrentProcessId(), type, printer, title);
    Log(line);

    WNDCLASSW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    // The dialog colour: static controls paint their background in it.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"ravonPT";
    RegisterClassW(&windowClass);

    // The phrase, then the printer line under it. The heights leave room for
    // the fonts made below, CJK glyphs included.
    const int Margin = 16;
    const int Gap = 10;
    const int TextWidth = 340;
    const int PhraseHeight = 26;
    const int LineHeight = 18;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, Margin + TextWidth + Margin,
                  Margin + PhraseHeight + Gap + LineHeight + Margin};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowW(L"ravonPT", title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, NULL, NULL,
                                instance, NULL);

    // SS_NOPREFIX: an ampersand in a printer name is no mnemonic.
    const DWORD textStyle = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS;
    HWND phrase = CreateWindowW(L"STATIC", PhraseFor(type), textStyle, Margin, Margin,
                                TextWidth, PhraseHeight, window, NULL, instance, NULL);
    WCHAR text[200];
    wsprintfW(text, L"%s%s", SystemIsChinese() ? PrinterLabelChinese : PrinterLabelEnglish,
              printer);
    HWND name = CreateWindowW(L"STATIC", text, textStyle, Margin, Margin + PhraseHeight + Gap,
                              TextWidth, LineHeight, window, NULL, instance, NULL);
    HFONT phraseFont = MakeFont(20, FW_BOLD);
    HFONT nameFont = MakeFont(14, FW_NORMAL);
    if (phraseFont != NULL)
        SendMessageW(phrase, WM_SETFONT, reinterpret_cast<WPARAM>(phraseFont), FALSE);
    if (nameFont != NULL)
        SendMessageW(name, WM_SETFONT, reinterpret_cast<WPARAM>(nameFont), FALSE);
    ShowWindow(window, show);

    WCHAR marker[MAX_PATH];
    MakePath(marker, L"qorlbox.ignorequit");
    bool ignoreQuit = GetFileAttributesW(marker) != INVALID_FILE_ATTRIBUTES;

    MSG message;
    for (;;) {
        BOOL got = GetMessageW(&message, NULL, 0, 0);
        if (got == -1)
            break;
        if (got == 0) {
            if (ignoreQuit)
                continue;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyWindow(window);   // before its fonts go
    if (phraseFont != NULL)
        DeleteObject(phraseFont);
    if (nameFont != NULL)
        DeleteObject(nameFont);
    wsprintfW(line, L"quit %lu", GetCurrentProcessId());
    Log(line);
    return 0;
}
