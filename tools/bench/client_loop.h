// Back-to-back clients: open, write, close, and at once the next. With one
// pipe instance the next open succeeds only once the server listens again,
// so the loop runs at the pace of the server's whole handling of a message.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Sample {
    size_t messages;                  // written in full
    double seconds;                   // first open to last close, summed over loops
    std::vector<double> latenciesUs;  // open to written, as the client sees it
};

// Sends message to pipe back to back for at least durationMs (and at least
// one message), adding to sample. False if a send failed; the loop ends there.
bool RunClientLoop(const WCHAR* pipe, const std::string& message, DWORD durationMs,
                   Sample* sample);

// The performance counter, in seconds.
double NowSeconds();

// Nearest-rank percentile; 0 if there are no values.
double Percentile(std::vector<double> values, double fraction);
