// Each suite that starts servers says once which Windows version they are
// told, as a program of the server's name sees it, and fails when that is
// not the version the run asked Wine to report.
#include <gtest/gtest.h>

#include <stdio.h>

#include "harness.h"

namespace {

struct Expected {
    const char* name;      // as QORL_WINDOWS_VERSION gives it
    const char* version;   // as the client prints it
};
const Expected Versions[] = {{"winxp", "5.1 "}, {"win7", "6.1 "}, {"win10", "10.0 "}};

class VersionReport : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string seen = WindowsVersionSeenBy(L"QorlServer.exe");
        char asked[32] = "";
        GetEnvironmentVariableA("QORL_WINDOWS_VERSION", asked, sizeof(asked));
        printf("windows version: the servers of this run are told Windows %s (asked: %s)\n",
               seen.empty() ? "(unreadable)" : seen.c_str(), asked[0] ? asked : "Wine's default");
        fflush(stdout);
        for (const Expected& expected : Versions) {
            if (strcmp(asked, expected.name) == 0) {
                EXPECT_EQ(0u, seen.find(expected.version))
                    << "asked " << asked << ", seen " << seen;
            }
        }
    }
};

::testing::Environment* const Report = ::testing::AddGlobalTestEnvironment(new VersionReport);

}  // namespace
