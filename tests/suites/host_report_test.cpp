// tarnvale-host --report: on the demo state, the list of what CleanSIMInfo
// removed is exactly what the end-to-end test expects a SIM cleanup to remove.
// tarnvale-host --plan: the plan printed lists exactly that, and nothing
// changes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "action_log_reader.h"
#include "demo_state.h"
#include "machine_snapshot.h"
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
        // Reads what is there until the program has ended: a process that
        // the program started in turn (the platform's desktop process, say)
        // may hold the pipe's write end for much longer.
        const DWORD deadline = GetTickCount() + 60000;
        for (bool ended = false; !ended;) {
            ended = WaitForSingleObject(info.hProcess, 10) == WAIT_OBJECT_0 ||
                    static_cast<LONG>(GetTickCount() - deadline) >= 0;
            DWORD available = 0;
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
                char buffer[4096];
                DWORD read = 0;
                if (!ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) || read == 0) break;
                output.append(buffer, read);
            }
        }
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

TEST_F(HostReportTest, PlanListsWhatTheCleanupWouldRemoveAndChangesNothing) {
    const MachineSnapshot before = MachineSnapshot::Take();
    DWORD exitCode = 99;
    const std::string output = RunAndCapture(std::string("\"") + kHostPath + "\" --plan CleanSIMInfoSilent", exitCode);
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {}), "");
    EXPECT_NE(output.find("plan of CleanSIMInfoSilent (nothing was changed, started or shown):"), std::string::npos)
        << output;
    EXPECT_NE(output.find("result: 1"), std::string::npos) << output;

    const std::vector<LogLine> lines = LogLinesIn(output);
    ASSERT_FALSE(lines.empty()) << output;
    EXPECT_EQ(lines.back().action, "planned: returned 1");
    std::set<std::string> expected;
    for (const std::string& entry : SimLeftoverEntries(demo::kProductFolder, demo::DemoSims())) {
        expected.insert(Lower(entry));
    }
    // The plan lists each key and file; the topmost of them are the leftovers.
    const std::set<std::string> planned = LoggedDeletions(lines, "planned: ");
    std::set<std::string> topmost;
    for (const std::string& entry : planned) {
        const bool below = std::any_of(planned.begin(), planned.end(), [&](const std::string& other) {
            return other != entry && other.back() == '\\' && entry.rfind(other, 0) == 0;
        });
        if (!below) topmost.insert(entry);
    }
    EXPECT_EQ(topmost, expected) << output;
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
