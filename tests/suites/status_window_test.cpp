// The status window of CleanSIMInfo: created from template 133, centred,
// shown with "Cleaning up Sims..." in control 1005 and destroyed again before
// the call returns. CleanSIMInfoSilent shows no window at all, and a run
// whose status window cannot be created completes all the same.
#include <windows.h>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "sim_world.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

using Kind = WindowEventLog::Kind;

constexpr char kDialogClass[] = "#32770";

class StatusWindow : public SimCleanupTest {
protected:
    void SetUp() override {
        world_.RegisterProduct();
        world_.AddRegistration(simkeys::kSims, "Alpha", "{A}");
        world_.AddProductFiles({"Sims\\Alpha\\a.txt", "AlphaUninst.isu"});
    }
    void ExpectCleanedUp() const {
        EXPECT_TRUE(world_.ProductTree().empty());
        EXPECT_FALSE(reg::KeyExists(HKEY_LOCAL_MACHINE, std::string(simkeys::kSims) + "\\Alpha"));
    }
    static const WindowEventLog::Event* Find(const WindowEventLog& log, Kind kind, const std::string& className) {
        for (const auto& event : log.events()) {
            if (event.kind == kind && event.className == className) return &event;
        }
        return nullptr;
    }
};

RECT WorkArea() {
    RECT area = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

void ExpectCentredOn(const RECT& window, const RECT& area) {
    EXPECT_NEAR((window.left + window.right) / 2, (area.left + area.right) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, (area.top + area.bottom) / 2, 1);
}

TEST_F(StatusWindow, ShowsCleaningTextAndIsGoneWhenTheCallReturns) {
    UiSession robot;  // fails the test if any window stays open
    WindowEventLog log;
    EXPECT_EQ(library_.CleanSIMInfo(), 1);
    robot.Finish();

    EXPECT_EQ(log.Count(Kind::Created, kDialogClass), 1);
    EXPECT_EQ(log.Count(Kind::Destroyed, kDialogClass), 1);
    EXPECT_EQ(log.TextsOf(IDC_STATUS_TEXT), std::vector<std::string>{"Cleaning up Sims..."});
    const WindowEventLog::Event* shown = Find(log, Kind::Shown, kDialogClass);
    ASSERT_NE(shown, nullptr) << "the status window was never shown";
    EXPECT_EQ(shown->owner, nullptr);
    ExpectCentredOn(shown->rect, WorkArea());
    ExpectCleanedUp();
}

// With an active window on the calling thread (the setup's own), the status
// window is owned by it and centred on it.
TEST_F(StatusWindow, IsOwnedByTheActiveWindowAndCentredOnIt) {
    HWND setupWindow = CreateWindowExA(0, "STATIC", "Setup", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80, 700, 500,
                                       nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(setupWindow, nullptr);
    SetActiveWindow(setupWindow);
    RECT setupRect = {};
    GetWindowRect(setupWindow, &setupRect);

    UiSession robot(nullptr, [setupWindow](HWND window) { return window == setupWindow; });
    WindowEventLog log;
    EXPECT_EQ(library_.CleanSIMInfo(), 1);
    robot.Finish();

    const WindowEventLog::Event* shown = Find(log, Kind::Shown, kDialogClass);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->owner, setupWindow);
    ExpectCentredOn(shown->rect, setupRect);
    EXPECT_TRUE(IsWindow(setupWindow));
    DestroyWindow(setupWindow);
}

TEST_F(StatusWindow, SilentRunShowsNoWindow) {
    UiSession robot;
    WindowEventLog log;
    EXPECT_EQ(CleanSilently(), 1);
    robot.Finish();

    EXPECT_TRUE(log.events().empty()) << "a window was created";
    ExpectCleanedUp();
}

// A copy of the library in which template 133 is found nowhere (renumbered
// to 134): the window cannot be created, the text goes nowhere, and the run
// completes with 1.
TEST_F(StatusWindow, RunCompletesWhenTheTemplateIsMissing) {
    const std::string copy = world_.root() + "\\NoStatus\\TarnvaleNoStatus.dll";
    fs::CreateFolders(world_.root() + "\\NoStatus");
    ASSERT_TRUE(CopyFileA(kFullLibraryPath, copy.c_str(), FALSE));
    ASSERT_TRUE(RenumberResource(copy, 5 /* RT_DIALOG */, IDD_STATUS, IDD_STATUS + 1));
    {
        const ScopedDataFile data(copy);
        ASSERT_EQ(FindResourceA(data.get(), MAKEINTRESOURCEA(IDD_STATUS), RT_DIALOG), nullptr);
        ASSERT_NE(FindResourceA(data.get(), MAKEINTRESOURCEA(IDD_LICENSE), RT_DIALOG), nullptr);
    }

    int result = -1;
    {
        TarnvaleLibrary withoutTemplate(copy.c_str());
        UiSession robot;
        WindowEventLog log;
        result = withoutTemplate.CleanSIMInfo();
        robot.Finish();
        EXPECT_EQ(log.Count(Kind::Created, kDialogClass), 0);
    }
    EXPECT_EQ(result, 1);
    ExpectCleanedUp();
}

}  // namespace
}  // namespace tarnvale::test
