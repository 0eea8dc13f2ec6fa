// LaunchAppAndWait: runs a command line, waits for the child while the
// caller's messages are dispatched, and tells the user when it cannot start.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <tuple>

#include "child_log.h"
#include "file_fixture.h"
#include "library_form.h"
#include "registry_fixture.h"
#include "resources/resource.h"
#include "sim_world.h"
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

// A window of the calling thread that keeps the queue from running dry: the
// reposting one posts itself a message for each one it handles; the other
// never validates its paint, so the platform makes a new WM_PAINT whenever
// the queue is otherwise empty. Each stays so for a few seconds only, so that
// a wait that drains the queue before it looks at the child returns late
// instead of never.
enum class BusyKind { Reposting, UnvalidatedPaint };

const char* BusyKindName(BusyKind kind) { return kind == BusyKind::Reposting ? "Reposting" : "UnvalidatedPaint"; }
void PrintTo(BusyKind kind, std::ostream* out) { *out << BusyKindName(kind); }

class BusyWindow {
public:
    static constexpr char kClass[] = "TarnvaleBusyWindow";

    BusyWindow(BusyKind kind, DWORD busyForMs) : busyUntil_(GetTickCount() + busyForMs) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kClass;
        RegisterClassA(&windowClass);
        // Only a visible window is painted.
        window_ = kind == BusyKind::Reposting
                      ? CreateWindowA(kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr)
                      : CreateWindowA(kClass, "busy", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        if (kind == BusyKind::Reposting) {
            PostMessageA(window_, kRepost, 0, 0);
        } else {
            InvalidateRect(window_, nullptr, FALSE);
        }
    }
    ~BusyWindow() {
        DestroyWindow(window_);
        UnregisterClassA(kClass, GetModuleHandleA(nullptr));
    }
    BusyWindow(const BusyWindow&) = delete;
    BusyWindow& operator=(const BusyWindow&) = delete;

    bool created() const { return window_ != nullptr; }
    int handled() const { return handled_; }
    static bool IsOne(HWND window) { return ui::ClassName(window) == kClass; }

private:
    static constexpr UINT kRepost = WM_APP + 7;

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<BusyWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && (message == kRepost || message == WM_PAINT)) {
            ++self->handled_;
            const bool busy = static_cast<LONG>(self->busyUntil_ - GetTickCount()) > 0;
            if (message == kRepost && busy) PostMessageA(window, kRepost, 0, 0);
            if (message == WM_PAINT && !busy) ValidateRect(window, nullptr);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    DWORD busyUntil_;
    HWND window_ = nullptr;
    int handled_ = 0;
};

// The three exports that start a program and wait for it, each set up to run
// the test child (which sleeps and stamps its exit as the environment says).
struct WaitingExport {
    const char* name;
    std::function<void(SimWorld&)> prepare;
    std::function<int(const TarnvaleLibrary&)> call;
};

constexpr char kQuilletEntry[] = "Nortavo Quillet";

const WaitingExport kWaitingExports[] = {
    {"LaunchAppAndWait", nullptr,
     [](const TarnvaleLibrary& library) { return library.LaunchAppAndWait(ChildCommand().c_str()); }},
    {"RemoveAddOns",
     [](SimWorld& world) {
         world.TrackUninstallEntry(kQuilletEntry);
         reg::SetString(HKEY_LOCAL_MACHINE, world.UninstallEntryPath(kQuilletEntry), "UninstallString",
                        ChildCommand());
     },
     [](const TarnvaleLibrary& library) { return library.RemoveAddOns(); }},
    {"UninstallTivraDriver",
     [](SimWorld& world) {
         world.RegisterProduct();
         ASSERT_TRUE(CopyFileA(kTestChildPath, (world.productFolder() + "\\Setuptivra5.exe").c_str(), FALSE));
     },
     [](const TarnvaleLibrary& library) { return library.UninstallTivraDriver(); }},
};

void PrintTo(const WaitingExport& tested, std::ostream* out) { *out << tested.name; }

long long NowFileTime() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

class WaitBesideABusyWindow : public SimCleanupTest,
                              public ::testing::WithParamInterface<std::tuple<BusyKind, WaitingExport>> {};

// Whatever the caller's windows do, the wait returns soon after the child
// ends, and serves those windows while the child runs.
TEST_P(WaitBesideABusyWindow, ReturnsSoonAfterTheChildEnds) {
    constexpr DWORD kChildRunsMs = 500;
    constexpr DWORD kBusyForMs = 4000;  // a wait that drains first returns this late
    constexpr long long kAllowedAfterEndMs = 1000;
    const WaitingExport& tested = std::get<1>(GetParam());
    ChildLog children(world_.root() + "\\children.log");
    const std::string stamp = world_.root() + "\\exit-stamp.txt";
    ScopedEnvironment childSleeps("TARNVALE_CHILD_SLEEP", std::to_string(kChildRunsMs));
    ScopedEnvironment childStamps("TARNVALE_CHILD_EXIT_STAMP", stamp);
    if (tested.prepare) tested.prepare(world_);
    ASSERT_FALSE(HasFatalFailure());

    const ui::WindowMatch statusWindow = ui::DialogWithItem(IDC_STATUS_TEXT);
    UiSession ui(nullptr, [&](HWND window) { return BusyWindow::IsOne(window) || statusWindow(window); });
    int result = 0;
    int handled = 0;
    long long returnedAt = 0;
    {
        BusyWindow busy(std::get<0>(GetParam()), kBusyForMs);
        ASSERT_TRUE(busy.created());
        result = tested.call(library_);
        returnedAt = NowFileTime();
        handled = busy.handled();
    }
    ui.Finish();

    EXPECT_EQ(result, 1);
    ASSERT_EQ(children.Read().size(), 2u) << "the child must have run to its end";
    const long long endedAt = std::stoll(fs::ReadFile(stamp));
    const long long afterEndMs = (returnedAt - endedAt) / 10000;
    EXPECT_GE(afterEndMs, 0);
    EXPECT_LT(afterEndMs, kAllowedAfterEndMs) << "the call returned " << afterEndMs << " ms after the child ended";
    // The window was served all along: thousands of times in the half second.
    EXPECT_GE(handled, 100);
    std::printf("returned %lld ms after the child's end; the window handled %d messages\n", afterEndMs, handled);
}

INSTANTIATE_TEST_SUITE_P(
    Exports, WaitBesideABusyWindow,
    ::testing::Combine(::testing::Values(BusyKind::Reposting, BusyKind::UnvalidatedPaint),
                       ::testing::ValuesIn(kWaitingExports)),
    [](const ::testing::TestParamInfo<std::tuple<BusyKind, WaitingExport>>& tested) {
        return std::string(BusyKindName(std::get<0>(tested.param))) + "_" + std::get<1>(tested.param).name;
    });

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
