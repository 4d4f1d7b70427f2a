// Splits a message at its first underscore and builds the printer name and
// status title. The wire format has no escaping and no trimming.
#include "status_message.h"

namespace {

const char Separator = '_';

bool HoldsLineBreak(const char* text)
{
    for (; *text != 0; ++text) {
        if (*text == '\r' || *text == '\n')
            return true;
    }
    return false;
}

// Copies text[0..length) into a zeroed field; false if it does not fit with
// its terminating zero. A cut name could name another printer, so an
// over-long value is refused rather than shortened.
bool CopyField(char* field, const char* text, DWORD length)
{
    if (length >= FieldSize)
        return false;
    for (DWORD i = 0; i < length; ++i)
        field[i] = text[i];
    return true;
}

}  // namespace

void ParseStatusMessage(const char* bytes, DWORD count, StatusMessage* message)
{
    if (count > MessageBufferSize)
        count = MessageBufferSize;

    DWORD length = 0;
    while (length < count && bytes[length] != 0)
        ++length;

    ZeroMemory(message, sizeof(*message));
    message->usable = true;

    DWORD split = 0;
    while (split < length && bytes[split] != Separator)
        ++split;

    if (!CopyField(message->command, bytes, split)) {
        ZeroMemory(message->command, sizeof(message->command));
        message->usable = false;
    }
    if (split < length) {
        const char* argument = bytes + split + 1;
        if (!CopyField(message->argument, argument, length - split - 1) ||
            HoldsLineBreak(message->argument)) {
            ZeroMemory(message->argument, sizeof(message->argument));
            message->usable = false;
        }
    }

    int units = 1;
    while (message->argument[units - 1] != 0)
        ++units;
    // A byte never yields more than one unit, so the field always suffices;
    // the last unit stays zero whatever a broken multibyte tail yields.
    MultiByteToWideChar(CP_THREAD_ACP, 0, message->argument, units,
                        message->printerName, units);
    message->printerName[FieldSize - 1] = 0;

    wsprintfW(message->statusTitle, L"%s%s  %s", L"", message->printerName, L"V1.4");
}

void MakeDiscoveryTitle(WCHAR* title)
{
    const UINT SimplifiedChinese = 936;
    // System code page on purpose: the box follows the system's language,
    // not the pipe thread's.
    const WCHAR* text = GetACP() == SimplifiedChinese
                            ? L"\x53D1\x73B0\x65B0\x6253\x5370\x673A"  // 发现新打印机
                            : L"Discover new printer";
    lstrcpynW(title, text, TitleSize);
}
