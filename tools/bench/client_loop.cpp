#include "client_loop.h"

#include <algorithm>
#include <cmath>

namespace {

const double BusyLimitSeconds = 10;

// The client of pipe_client.h closes before it returns; here the time stamp
// must fall between the write and the close.
bool SendTimed(const WCHAR* name, const std::string& message, double* latencyUs)
{
    const double opened = NowSeconds();
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (;;) {
        pipe = CreateFileW(name, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (pipe != INVALID_HANDLE_VALUE)
            break;
        // Busy: the server is still on the previous message. Anything else,
        // or a server that stays busy this long, ends the run.
        if (GetLastError() != ERROR_PIPE_BUSY || NowSeconds() - opened > BusyLimitSeconds)
            return false;
        if (!WaitNamedPipeW(name, NMPWAIT_USE_DEFAULT_WAIT) && GetLastError() != ERROR_SEM_TIMEOUT)
            return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), &written, NULL);
    *latencyUs = (NowSeconds() - opened) * 1e6;
    CloseHandle(pipe);
    return ok && written == message.size();
}

}  // namespace

double NowSeconds()
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t rank = static_cast<size_t>(std::ceil(fraction * values.size()));
    return values[rank == 0 ? 0 : rank - 1];
}

bool RunClientLoop(const WCHAR* pipe, const std::string& message, DWORD durationMs,
                   Sample* sample)
{
    const double start = NowSeconds();
    const double end = start + durationMs / 1000.0;
    double last = start;
    bool ok = true;
    do {
        double latency = 0;
        ok = SendTimed(pipe, message, &latency);
        last = NowSeconds();
        if (ok) {
            ++sample->messages;
            sample->latenciesUs.push_back(latency);
        }
    } while (ok && last < end);
    sample->seconds += last - start;
    return ok;
}
