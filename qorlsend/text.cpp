// The language is picked here, not by the resource loader: LoadStringW
// takes the thread's UI language on Vista and later but the language of
// the thread's locale on XP, so the same Windows could get either.
#include "strings.h"

#include "console.h"

namespace {

const int TextSize = 1025;   // wvsprintfW takes at most 1024 units
const int TextSlots = 8;     // texts one line may use at once

WCHAR Slots[TextSlots][TextSize];
int NextSlot = 0;
LANGID Language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// A string-table block holds 16 counted strings, not terminated.
bool FindText(UINT id, LANGID language, WCHAR* out)
{
    HRSRC block = FindResourceExW(NULL, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = block == NULL ? NULL : LoadResource(NULL, block);
    const WCHAR* entry = loaded == NULL ? NULL : static_cast<const WCHAR*>(LockResource(loaded));
    if (entry == NULL)
        return false;
    for (UINT i = 0; i < id % 16; ++i)
        entry += 1 + *entry;
    if (*entry == 0)
        return false;
    int length = *entry < TextSize ? *entry : TextSize - 1;
    lstrcpynW(out, entry + 1, length + 1);
    return true;
}

}  // namespace

void ChooseLanguage()
{
    WCHAR wanted[8];
    DWORD length = GetEnvironmentVariableW(L"QORLSEND_LANG", wanted, ARRAYSIZE(wanted));
    if (length > 0 && length < ARRAYSIZE(wanted) && lstrcmpiW(wanted, L"en") == 0)
        return;
    // The language pack does not change the code page: Chinese written in
    // 1252 is question marks, and a console font for 437 has no glyphs for it.
    LANGID display = GetUserDefaultUILanguage();
    UINT output = OutputCodePage();
    if (PRIMARYLANGID(display) == LANG_CHINESE &&
        (SUBLANGID(display) == SUBLANG_CHINESE_SIMPLIFIED ||
         SUBLANGID(display) == SUBLANG_CHINESE_SINGAPORE) &&
        (output == 936 || output == CP_UTF8))
        Language = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
}

const WCHAR* Text(UINT id)
{
    WCHAR* out = Slots[NextSlot];
    NextSlot = (NextSlot + 1) % TextSlots;
    if (!FindText(id, Language, out) &&
        !FindText(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), out))
        out[0] = 0;
    return out;
}
