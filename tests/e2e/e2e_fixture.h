// A fixture that gives each end-to-end test its own program directory and a
// running server, and leaves nothing running behind it.
#pragma once

#include <gtest/gtest.h>

#include "harness.h"

// A program's exit code, and texts that must each appear in its output.
inline void ExpectRun(const ProgramRun& run, DWORD exitCode,
                      const std::vector<std::string>& texts)
{
    EXPECT_EQ(exitCode, run.exitCode) << run.output;
    for (const std::string& text : texts) {
        EXPECT_NE(std::string::npos, run.output.find(text))
            << "missing: " << text << "\nin:\n" << run.output;
    }
}

class ServerTest : public ::testing::Test {
protected:
    void Start(BoxKind box = WithBox)
    {
        directory = MakeProgramDirectory(TestName(), box);
        server = StartServer(directory);
        DWORD error = GetLastError();
        ASSERT_NE(nullptr, server.process) << "QorlServer.exe did not start (error " << error << ")";
    }

    void TearDown() override { StopServer(&server); }

    static std::wstring TestName()
    {
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        return std::wstring(name, name + strlen(name));
    }

    std::wstring Report() const { return directory + L"box.ini"; }

    std::wstring directory;
    ServerProcess server = {};
};
