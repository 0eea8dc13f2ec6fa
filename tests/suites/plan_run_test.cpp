// The plan run (TARNVALE_PLAN=1) of the exports that start something or
// show a window: each call is made as a plan and then for real. The plan
// starts no program, shows no window and changes nothing on the machine; it
// logs the real run's lines one for one, each marked "planned: ", and
// returns the real run's result. The licence page is never a plan. The SIM
// cleanup's plans are shown on every hostile and random state of their own
// suites.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "action_log_reader.h"
#include "child_log.h"
#include "file_fixture.h"
#include "library_form.h"
#include "machine_snapshot.h"
#include "plan_check.h"
#include "registry_fixture.h"
#include "resources/resource.h"
#include "sim_world.h"
#include "tarnvale_library.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

constexpr char kUninstallKey[] = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall)";

// Makes `call` as a plan, during which no window may appear and no child may
// start, then for real with `realScript` answering its windows (the status
// window is tolerated). Fails the test where the plan was not exact.
PlanAndRealRun PlanThenRunWithRobot(const std::function<int()>& call, const ChildLog& children,
                                    UiSession::Script realScript = nullptr) {
    const MachineSnapshot before = MachineSnapshot::Take();
    size_t startedByPlan = 0;
    const PlanAndRealRun run = PlanThenRun(
        before,
        [&] {
            UiSession noWindow;
            const int result = call();
            noWindow.Finish();
            startedByPlan = children.StartedCommandLines().size();
            return result;
        },
        [&] {
            UiSession robot(std::move(realScript), ui::DialogWithItem(IDC_STATUS_TEXT));
            const int result = call();
            robot.Finish();
            return result;
        });
    EXPECT_EQ(startedByPlan, 0u) << "the plan started a program";
    EXPECT_EQ(PlanDifferences(before, run), "");
    return run;
}

// ---- commands ----

struct CommandCase {
    const char* name;
    std::function<std::string(const std::string& folder)> commandLine;  // `folder`: a folder of the test's own
    bool starts;
};

const CommandCase kCommands[] = {
    {"QuotedFullPath", [](const std::string&) { return ChildCommand("--exit=3"); }, true},
    {"FoundOnThePath", [](const std::string&) { return std::string("cmd.exe /c exit 0"); }, true},
    {"NameWithoutExtension", [](const std::string&) { return std::string("cmd /c exit 0"); }, true},
    // Unquoted with blanks: the shorter names are tried first, then the whole.
    {"UnquotedFolderWithABlank",
     [](const std::string& folder) { return folder + "\\with blank\\child.exe --exit=4"; }, true},
    {"Missing", [](const std::string&) { return std::string("tarnvale-no-such-program.exe /x"); }, false},
    {"MissingQuoted",
     [](const std::string& folder) { return "\"" + folder + "\\no folder\\child.exe\" --exit=1"; }, false},
    {"MissingUnquotedWithBlanks",
     [](const std::string& folder) { return folder + "\\with blank\\absent.exe --exit=1"; }, false},
    {"Empty", [](const std::string&) { return std::string(); }, false},
};

void PrintTo(const CommandCase& tested, std::ostream* out) { *out << tested.name; }

class PlannedCommand : public ::testing::TestWithParam<std::tuple<LibraryForm, CommandCase>> {
protected:
    ScopedFolder work_{std::string(fs::kTestRoot) + "\\plan"};
    ChildLog children_{HostFolder() + "\\plan-children.log"};  // off drive C:, which the snapshots cover
    FormResources resources_{std::get<0>(GetParam())};
    TarnvaleLibrary library_{std::get<0>(GetParam()).path};
};

// The plan of LaunchAppAndWait finds the program where CreateProcess would,
// or says that it would not start (with message 12, not shown).
TEST_P(PlannedCommand, IsWhatTheRealRunDoes) {
    const CommandCase& tested = std::get<1>(GetParam());
    fs::CreateFolders(work_ / "with blank");
    ScopedFileCopy child(kTestChildPath, work_ / "with blank\\child.exe");
    const std::string commandLine = tested.commandLine(work_.path());

    const PlanAndRealRun run = PlanThenRunWithRobot(
        [&] { return library_.LaunchAppAndWait(commandLine.c_str()); }, children_,
        tested.starts ? UiSession::Script() : [](UiSession& robot) { robot.AnswerMessageBoxes(1); });

    EXPECT_EQ(run.realResult, tested.starts ? 1 : 0);
    EXPECT_EQ(children_.StartedCommandLines().size(), tested.starts && commandLine.find("cmd") != 0 ? 1u : 0u);
    EXPECT_TRUE(HasAction(run.planLines, [&](const std::string& action) {
        return action == (tested.starts ? "planned: started command \"" + commandLine + "\""
                                        : "planned: command not started: \"" + commandLine + "\": error 2");
    })) << Actions(run.planLines);
}

INSTANTIATE_TEST_SUITE_P(Commands, PlannedCommand, ::testing::Combine(BothForms(), ::testing::ValuesIn(kCommands)),
                         [](const ::testing::TestParamInfo<std::tuple<LibraryForm, CommandCase>>& tested) {
                             return std::string(std::get<0>(tested.param).name) + "_" + std::get<1>(tested.param).name;
                         });

// ---- the add-ons, the driver, the SIM cleanup's status window ----

class PlannedExport : public SimCleanupTest, public ::testing::WithParamInterface<LibraryForm> {
protected:
    PlannedExport() : SimCleanupTest(GetParam()) {}

    ScopedRegistryTree quillet_{HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + "\\Nortavo Quillet"};
    ScopedRegistryTree marlowe_{HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + "\\Nortavo Marlowe"};
    ChildLog children_{HostFolder() + "\\plan-children.log"};  // off drive C:, which the snapshots cover
};

// Quillet's uninstaller runs; Marlowe's cannot start, which shows message 12
// and Marlowe's own message in the real run, and only logs them in the plan.
TEST_P(PlannedExport, RemoveAddOnsStartsAndShowsNothing) {
    reg::SetString(HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + "\\Nortavo Quillet", "UninstallString",
                   ChildCommand());
    reg::SetString(HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + "\\Nortavo Marlowe", "UninstallString",
                   world_.root() + "\\absent.exe");
    const PlanAndRealRun run = PlanThenRunWithRobot([&] { return library_.RemoveAddOns(); }, children_,
                                                    [](UiSession& robot) { robot.AnswerMessageBoxes(2); });
    EXPECT_EQ(run.realResult, 1);
    EXPECT_EQ(children_.StartedCommandLines(), std::vector<std::string>({ChildCommand() + " -a"}));
    EXPECT_TRUE(HasAction(run.planLines, [](const std::string& action) {
        return action.rfind("planned: shown status window: ", 0) == 0 && action.find("Marlowe") != std::string::npos;
    })) << Actions(run.planLines);
}

TEST_P(PlannedExport, UninstallTivraDriverStartsNothing) {
    world_.RegisterProduct();
    world_.AddProductFiles({"Quenta.exe"});
    ScopedFileCopy setup(kTestChildPath, world_.productFolder() + "\\Setuptivra5.exe");
    const PlanAndRealRun run = PlanThenRunWithRobot([&] { return library_.UninstallTivraDriver(); }, children_);
    EXPECT_EQ(run.realResult, 1);
    EXPECT_EQ(children_.StartedCommandLines(),
              std::vector<std::string>({world_.productFolder() + "\\Setuptivra5.exe /SILENT /REMOVE"}));
}

// The status window "Cleaning up Sims..." is shown by the real run only.
TEST_P(PlannedExport, CleanSimInfoShowsNoStatusWindow) {
    world_.RegisterProduct();
    world_.AddRegistration(simkeys::kSims, "Alarm", "{A}");
    world_.AddProductFiles({"Sims\\Alarm\\Alarm.dll", "AlarmUninst.isu", "Quenta.exe"});
    WindowEventLog windows;
    size_t windowsOfThePlan = 0;
    const MachineSnapshot before = MachineSnapshot::Take();
    const PlanAndRealRun run = PlanThenRun(
        before,
        [&] {
            const int result = library_.CleanSIMInfo();
            windowsOfThePlan = windows.events().size();
            return result;
        },
        [&] { return library_.CleanSIMInfo(); });
    EXPECT_EQ(PlanDifferences(before, run), "");
    EXPECT_EQ(run.realResult, 1);
    EXPECT_EQ(windowsOfThePlan, 0u) << "the plan showed a window";
    EXPECT_GT(windows.Count(WindowEventLog::Kind::Shown, "#32770"), 0) << "the real run showed no status window";
}

INSTANTIATE_TEST_SUITE_P(Forms, PlannedExport, BothForms(), FormName);

// ---- the licence page is never a plan ----

TEST(PlannedLicencePage, IsShownAndAnsweredAsEver) {
    TarnvaleLibrary library(kFullLibraryPath);
    ScopedFolder work(std::string(fs::kTestRoot) + "\\plan");
    ScopedEnvironment plan("TARNVALE_PLAN", "1");
    ScopedEnvironment log("TARNVALE_LOG", work / "action.log");
    UiSession session([](UiSession& robot) {
        HWND page = robot.WaitFor(ui::DialogWithItem(IDC_AGREEMENT_TEXT), "licence page");
        if (page == nullptr) return;
        ui::Click(page, IDC_ACCEPT);
        ui::Click(page, IDOK);
    });
    EXPECT_EQ(library.ShowBetaLicense(), 1);
    session.Finish();
    const std::vector<LogLine> lines = ReadLog(work / "action.log");
    EXPECT_TRUE(HasAction(lines, [](const std::string& action) { return action == "shown licence page"; }))
        << Actions(lines);
    EXPECT_FALSE(HasAction(lines, [](const std::string& action) { return action.rfind("planned: ", 0) == 0; }))
        << Actions(lines);
}

}  // namespace
}  // namespace tarnvale::test
