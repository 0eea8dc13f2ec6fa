// LaunchAppAndWait: runs a command line, waits for the child while the
// caller's messages are dispatched, and tells the user when it cannot start.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "child_log.h"
#include "file_fixture.h"
#include "library_form.h"
#include "tarnvale_library.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

class LaunchAppAndWaitTest : public ::testing::Test {
protected:
    explicit LaunchAppAndWaitTest(const LibraryForm& form = kFullForm) : library_(form.path) {}

    ScopedFolder work_{std::string(fs::kTestRoot) + "\\launch"};
    ChildLog children_{work_ / "children.log"};
    TarnvaleLibrary library_;
};

// Starting and waiting are the same in both forms of the library.
class LaunchInBothForms : public LaunchAppAndWaitTest, public ::testing::WithParamInterface<LibraryForm> {
protected:
    LaunchInBothForms() : LaunchAppAndWaitTest(GetParam()) {}
};

class ChildExitCode : public LaunchAppAndWaitTest,
                      public ::testing::WithParamInterface<std::tuple<unsigned, LibraryForm>> {
protected:
    ChildExitCode() : LaunchAppAndWaitTest(std::get<1>(GetParam())) {}
};

// Whatever the child's exit code, a child that ran counts as run: result 1
// and no message. 259 is the code that also means "still running", so only
// the end of the process itself can end this wait.
TEST_P(ChildExitCode, EndedChildGivesOneAndNoMessage) {
    const std::string command = ChildCommand("--exit=" + std::to_string(std::get<0>(GetParam())));
    UiSession ui;  // no window expected
    EXPECT_EQ(library_.LaunchAppAndWait(command.c_str()), 1);
    ui.Finish();

    const auto entries = children_.Read();
    ASSERT_EQ(entries.size(), 2u) << "the child must have started and ended before the call returned";
    EXPECT_TRUE(entries[0].start);
    EXPECT_FALSE(entries[1].start);
}

INSTANTIATE_TEST_SUITE_P(ExitCodes, ChildExitCode,
                         ::testing::Combine(::testing::Values(0u, 1u, 259u, 0xC0000005u), BothForms()),
                         [](const ::testing::TestParamInfo<std::tuple<unsigned, LibraryForm>>& tested) {
                             return std::to_string(std::get<0>(tested.param)) + "_" + std::get<1>(tested.param).name;
                         });

struct StartFailure {
    const char* name;
    const char* commandLine;  // null: the caller passes a null pointer
};

class CommandThatCannotStart : public LaunchAppAndWaitTest, public ::testing::WithParamInterface<StartFailure> {};

// A command that cannot be started gives 0 and message 12 with the command
// line and the error that process creation reported.
TEST_P(CommandThatCannotStart, ShowsMessage12AndGivesZero) {
    const StartFailure failure = GetParam();
    const std::string commandLine = failure.commandLine != nullptr ? failure.commandLine : "";
    const DWORD expectedError = CreateProcessError(commandLine);
    ASSERT_NE(expectedError, 0u) << "the command unexpectedly started";

    std::vector<std::string> seen;
    UiSession ui([&](UiSession& session) { seen = session.AnswerMessageBoxes(1); });
    EXPECT_EQ(library_.LaunchAppAndWait(failure.commandLine), 0);
    ui.Finish();

    EXPECT_EQ(seen, std::vector<std::string>{"Unable to execute " + commandLine +
                                             ". Error Code : " + std::to_string(expectedError) + "\n"});
    EXPECT_TRUE(children_.Read().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandThatCannotStart,
    ::testing::Values(StartFailure{"MissingProgram", R"(C:\TarnvaleTest\launch\no such folder\nothing.exe /x)"},
                      StartFailure{"EmptyCommandLine", ""}, StartFailure{"NullPointer", nullptr}),
    [](const ::testing::TestParamInfo<StartFailure>& tested) { return std::string(tested.param.name); });

// The command line reaches process creation unchanged, whatever its length.
TEST_P(LaunchInBothForms, LongCommandLineReachesTheChildWhole) {
    for (size_t length : {600u, 5000u}) {
        std::string command = ChildCommand("--exit=0 \"quoted  arg\" --pad=");
        command += std::string(length - command.size(), 'x');
        ASSERT_EQ(command.size(), length);
        UiSession ui;
        EXPECT_EQ(library_.LaunchAppAndWait(command.c_str()), 1);
        ui.Finish();
        const auto started = children_.StartedCommandLines();
        ASSERT_FALSE(started.empty());
        EXPECT_EQ(started.back(), command);
    }
}

// A window procedure on the calling thread, to see which messages the wait
// dispatches while the child runs.
struct DispatchProbe {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_APP) {
            dispatched = true;
            dispatchedWhileChildRan = WaitForSingleObject(childEnded, 0) == WAIT_TIMEOUT;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static inline std::atomic<bool> dispatched{false};
    static inline std::atomic<bool> dispatchedWhileChildRan{false};
    static inline HANDLE childEnded = nullptr;
};

// Messages posted to the caller's windows during the wait are dispatched
// while the child still runs; a quit message does not end the wait.
TEST_P(LaunchInBothForms, MessagesAreDispatchedDuringTheWait) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DispatchProbe::Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TarnvaleDispatchProbe";
    RegisterClassA(&windowClass);
    HWND probe = CreateWindowA("TarnvaleDispatchProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(probe, nullptr);

    const std::string eventName = "TarnvaleTestRelease" + std::to_string(GetCurrentProcessId());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    DispatchProbe::childEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DispatchProbe::dispatched = false;
    const DWORD callingThread = GetCurrentThreadId();

    std::thread poster([&] {
        // Wait until the child runs, then post a quit message and then a
        // message to the probe window; release the child once it was seen.
        for (int i = 0; i < 500 && children_.Read().empty(); ++i) Sleep(10);
        PostThreadMessageA(callingThread, WM_QUIT, 0, 0);
        PostMessageA(probe, WM_APP, 0, 0);
        for (int i = 0; i < 500 && !DispatchProbe::dispatched; ++i) Sleep(10);
        SetEvent(release);
    });

    UiSession ui;
    const int result = library_.LaunchAppAndWait(ChildCommand("--wait-event=" + eventName).c_str());
    SetEvent(DispatchProbe::childEnded);
    poster.join();
    ui.Finish();

    EXPECT_EQ(result, 1);
    EXPECT_TRUE(DispatchProbe::dispatched);
    EXPECT_TRUE(DispatchProbe::dispatchedWhileChildRan);
    ASSERT_EQ(children_.Read().size(), 2u);
    EXPECT_FALSE(children_.Read().back().start) << "the call returned before the child ended";

    // The quit message was taken off the queue by the wait.
    MSG leftover;
    EXPECT_FALSE(PeekMessageA(&leftover, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));

    DestroyWindow(probe);
    UnregisterClassA("TarnvaleDispatchProbe", GetModuleHandleA(nullptr));
    CloseHandle(release);
    CloseHandle(DispatchProbe::childEnded);
}

INSTANTIATE_TEST_SUITE_P(Forms, LaunchInBothForms, BothForms(), FormName);

// LaunchAppAndWait never loads the resource library: with one beside the
// host, message 12 still comes from the library's own string table.
TEST_F(LaunchAppAndWaitTest, MessagesComeFromTheLibraryEvenWithAResourceLibraryPresent) {
    ScopedFileCopy resourceLibrary(kFixtureFullPath, HostFolder() + "\\TarnvaleRes.dll");
    const std::string command = R"(C:\TarnvaleTest\launch\missing.exe)";

    std::vector<std::string> seen;
    bool loadedDuringCall = true;
    UiSession ui([&](UiSession& session) {
        seen = session.AnswerMessageBoxes(1, [&](HWND) { loadedDuringCall = IsModuleLoaded("TarnvaleRes.dll"); });
    });
    EXPECT_EQ(library_.LaunchAppAndWait(command.c_str()), 0);
    ui.Finish();

    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind("Unable to execute " + command + ". Error Code : ", 0), 0u) << seen[0];
    EXPECT_FALSE(loadedDuringCall);
    EXPECT_FALSE(IsModuleLoaded("TarnvaleRes.dll"));
}

}  // namespace
}  // namespace tarnvale::test
