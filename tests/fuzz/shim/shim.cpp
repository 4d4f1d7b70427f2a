// The few platform calls of message parsing, for the host fuzzing build.
// Each call touches the last unit it was offered, as the real ones may, so
// that an offer larger than the buffer shows up under AddressSanitizer.
#include <windows.h>

#include <stdarg.h>

UINT ShimCodePage = 1252;

namespace {

const int WsprintfLimit = 1024;

void TouchLast(LPWSTR units, int unitCount)
{
    if (unitCount > 0) {
        volatile WCHAR* last = units + unitCount - 1;
        *last = *last;
    }
}

bool LeadByte(unsigned char byte)
{
    return ShimCodePage == 936 && byte >= 0x81 && byte <= 0xFE;
}

bool TrailByte(unsigned char byte)
{
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

}  // namespace

UINT GetACP()
{
    return ShimCodePage;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int byteCount, LPWSTR units,
                        int unitCount)
{
    if (codePage != CP_THREAD_ACP || flags != 0 || bytes == 0 || unitCount < 0)
        return 0;
    if (byteCount < 0)
        byteCount = static_cast<int>(strlen(bytes)) + 1;
    TouchLast(units, unitCount);

    const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes);
    int produced = 0;
    for (int i = 0; i < byteCount; ++i) {
        WCHAR unit = in[i];
        if (LeadByte(in[i])) {
            if (i + 1 < byteCount && TrailByte(in[i + 1])) {
                unit = static_cast<WCHAR>(0x4E00 + ((in[i] - 0x81) << 8) + in[i + 1]);
                ++i;
            } else {
                unit = L'?';   // a broken pair becomes the default character
            }
        }
        if (unitCount != 0) {
            if (produced == unitCount)
                return 0;   // ERROR_INSUFFICIENT_BUFFER
            units[produced] = unit;
        }
        ++produced;
    }
    return produced;
}

int wsprintfW(LPWSTR output, LPCWSTR format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = 0;
    for (const WCHAR* f = format; *f != 0 && length < WsprintfLimit - 1; ++f) {
        if (f[0] == L'%' && f[1] == L's') {
            for (const WCHAR* s = va_arg(arguments, const WCHAR*); *s != 0 &&
                                                                   length < WsprintfLimit - 1;
                 ++s)
                output[length++] = *s;
            ++f;
        } else if (f[0] == L'%' && f[1] == L'%') {
            output[length++] = L'%';
            ++f;
        } else {
            output[length++] = *f;
        }
    }
    output[length] = 0;
    va_end(arguments);
    return length;
}

LPWSTR lstrcpynW(LPWSTR destination, LPCWSTR source, int unitCount)
{
    if (unitCount <= 0)
        return destination;
    TouchLast(destination, unitCount);
    int i = 0;
    for (; i < unitCount - 1 && source[i] != 0; ++i)
        destination[i] = source[i];
    destination[i] = 0;
    return destination;
}
