// Shared by the robustness tests: the soak's seed and a few measurements of
// the running server.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>

#include "../e2e/harness.h"

// From --seed=N on the command line or QORL_SEED in the environment, else
// chosen at start. Printed by main either way.
extern uint64_t SoakSeed;

// A small generator defined here in full: the same seed gives the same messages
// with any compiler and library.
class Random {
public:
    explicit Random(uint64_t seed) : state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. bound-1
    unsigned Below(unsigned bound) { return static_cast<unsigned>(Next() % bound); }
    bool Percent(unsigned percent) { return Below(100) < percent; }

private:
    uint64_t state;
};

// Kernel plus user time the running server has used, in milliseconds; -1 if
// it cannot be read.
double CpuMilliseconds(const ServerProcess& server,
                       const std::wstring& serverName = L"QorlServer.exe");

// A client end of the server's pipe, waiting for a busy instance as the
// printer software does; INVALID_HANDLE_VALUE if none came free.
HANDLE OpenServerPipe();

// Problems with the raw bytes of box.ini: it must hold exactly one section,
// REPORT, with TYPE and PRINTER once each and nothing else. Empty if well formed.
std::string ReportFileProblems(const std::string& bytes);
