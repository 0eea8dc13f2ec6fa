// tarnvale-host --report: on the demo state, the list of what CleanSIMInfo
// removed is exactly what the end-to-end test expects a SIM cleanup to remove.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "demo_state.h"
#include "sim_leftovers.h"
#include "test_paths.h"

namespace tarnvale::test {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Runs a program and returns what it wrote to its standard output.
std::string RunAndCapture(std::string commandLine, DWORD& exitCode) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &info);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0) output.append(buffer, read);
        WaitForSingleObject(info.hProcess, 60000);
        GetExitCodeProcess(info.hProcess, &exitCode);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    CloseHandle(readEnd);
    return output;
}

// The report's lines as machine-snapshot entries: keys and folders end with
// a backslash.
std::set<std::string> ReportedEntries(const std::string& report) {
    std::set<std::string> entries;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("  key     ", 0) == 0) entries.insert(Lower(line.substr(10)) + "\\");
        if (line.rfind("  file    ", 0) == 0) entries.insert(Lower(line.substr(10)));
        if (line.rfind("  folder  ", 0) == 0) {
            std::string folder = line.substr(10);
            const size_t note = folder.find(" (with ");
            if (note != std::string::npos) folder.erase(note);
            entries.insert(Lower(folder) + "\\");
        }
    }
    return entries;
}

class HostReportTest : public ::testing::Test {
protected:
    void SetUp() override { demo::SeedDemoState(); }
    void TearDown() override { demo::ClearDemoState(); }
};

TEST_F(HostReportTest, ListsExactlyWhatTheSimCleanupRemoves) {
    DWORD exitCode = 99;
    const std::string output =
        RunAndCapture(std::string("\"") + kHostPath + "\" --report CleanSIMInfoSilent", exitCode);
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_NE(output.find("What CleanSIMInfoSilent removed:"), std::string::npos) << output;
    EXPECT_NE(output.find("result: 1"), std::string::npos) << output;

    std::set<std::string> expected;
    for (const std::string& entry : SimLeftoverEntries(demo::kProductFolder, demo::DemoSims())) {
        expected.insert(Lower(entry));
    }
    EXPECT_EQ(ReportedEntries(output), expected) << output;
}

TEST_F(HostReportTest, ReportsNothingWhenNothingWasRemoved) {
    DWORD exitCode = 99;
    const std::string output = RunAndCapture(std::string("\"") + kHostPath + "\" --report RemoveAddOns", exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_NE(output.find("What RemoveAddOns removed:\r\n  nothing"), std::string::npos) << output;
    EXPECT_NE(output.find("result: 1"), std::string::npos) << output;
}

}  // namespace
}  // namespace tarnvale::test
