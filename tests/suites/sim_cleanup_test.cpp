// The SIM cleanup run behind CleanSIMInfo and CleanSIMInfoSilent: its fixed
// order, when it stops early, and what it returns. The end-to-end test runs
// both exports on a realistic leftover state and compares the whole machine
// before and after: exactly what the SIMs left is gone, nothing else changed.
#include <windows.h>

#include <gtest/gtest.h>

#include "machine_snapshot.h"
#include "sim_leftovers.h"
#include "sim_world.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;

struct ExportCase {
    const char* name;
    bool silent;
};

class SimCleanupRun : public SimCleanupTest, public ::testing::WithParamInterface<ExportCase> {
protected:
    std::string LogRoot() const { return world_.root() + "\\Logs"; }

    // Seeds the realistic state; the world removes its Uninstall entries again.
    std::vector<SimLeftover> SeedThreeSims() {
        const std::vector<SimLeftover> sims = ThreeSims(LogRoot());
        for (const SimLeftover& sim : sims) world_.TrackUninstallEntry(sim.entryName);
        SeedSimLeftovers(world_.productFolder(), sims);
        return sims;
    }

    // Runs the export of this case with the robot watching; a window that
    // stays open fails the test.
    int Run() {
        UiSession robot;
        const int result = GetParam().silent ? CleanSilently() : library_.CleanSIMInfo();
        robot.Finish();
        return result;
    }
};

// The realistic state, with more around it that must stay: another SIM's
// entry and maker key, the product's own files and keys.
TEST_P(SimCleanupRun, RemovesExactlyWhatTheSimsLeft) {
    world_.RegisterProduct();
    const std::vector<SimLeftover> sims = SeedThreeSims();
    world_.AddUninstallEntry("Borelle SIM {C0FFEE00-0000-4000-8000-000000000001}",
                             (LogRoot() + "\\Report\\Uninst.isu").c_str(), "Borelle SIM Report");
    fs::CreateFolders(LogRoot() + "\\Report");
    fs::WriteFile(LogRoot() + "\\Report\\Uninst.isu");
    reg::SetString(kMachine, "SOFTWARE\\Nortavo Inc.\\Borelle SIM Report", "InstallDir", "kept");
    reg::SetString(kMachine, std::string(simkeys::kSims) + "Settings", "Keep", "1");
    world_.AddProductFiles({"Quenta.exe", "Bin\\Runtime.dll", "ReportUninst.isu"});
    const MachineSnapshot before = MachineSnapshot::Take();

    EXPECT_EQ(Run(), 1);

    const MachineSnapshot after = MachineSnapshot::Take();
    EXPECT_EQ(DescribeUnexpectedChanges(before, after, SimLeftoverEntries(world_.productFolder(), sims)), "");
    EXPECT_TRUE(reg::KeyExists(kMachine, simkeys::kSims));
    EXPECT_TRUE(reg::KeyExists(kMachine, simkeys::kDsims));
}

// Without the product folder the run stops after the registry sweep: 0, the
// registrations gone, everything else untouched, and no window.
TEST_P(SimCleanupRun, ProductFolderNotFoundStopsAfterTheSweep) {
    const std::vector<SimLeftover> sims = SeedThreeSims();
    const MachineSnapshot before = MachineSnapshot::Take();

    WindowEventLog log;
    EXPECT_EQ(Run(), 0);

    EXPECT_TRUE(log.events().empty()) << "a window was created";
    std::vector<std::string> registrations;
    for (const SimLeftover& sim : sims) registrations.push_back(MachineKey(std::string(sim.parentKey) + "\\" + sim.name));
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), registrations), "");
}

// No SIMS key: only the SIM folders are cleared.
TEST_P(SimCleanupRun, NoSimsKeyRunsOnlyTheFolderStep) {
    world_.RegisterProduct();
    world_.AddUninstallEntry("Alpha", (LogRoot() + "\\Alpha\\Uninst.isu").c_str(), "Borelle SIM Alpha");
    fs::CreateFolders(LogRoot() + "\\Alpha");
    fs::WriteFile(LogRoot() + "\\Alpha\\Uninst.isu");
    world_.AddRegistration(simkeys::kDsims, "Alpha");
    world_.AddProductFiles({"Sims\\Alpha\\a.txt", "AlphaUninst.isu", "SIMUninstall.dll"});

    EXPECT_EQ(Run(), 1);

    EXPECT_EQ(world_.ProductTree(), (std::vector<std::string>{"AlphaUninst.isu", "SIMUninstall.dll"}));
    EXPECT_TRUE(reg::KeyExists(kMachine, world_.UninstallEntryPath("Alpha")));
    EXPECT_TRUE(fs::FileExists(LogRoot() + "\\Alpha\\Uninst.isu"));
    EXPECT_TRUE(reg::KeyExists(kMachine, std::string(simkeys::kDsims) + "\\Alpha"));
}

// Registrations that cannot be read give a SIM list without GUIDs: no entry
// is looked up, but the uninstall files and the shared library still go.
TEST_P(SimCleanupRun, SimListWithoutGuidsStillDeletesTheUninstallFiles) {
    world_.RegisterProduct();
    for (const char* name : {"Alpha", "Beta"}) {
        world_.AddRegistration(simkeys::kSims, name, "{A}");
        ASSERT_TRUE(reg::DenyRead(kMachine, std::string(simkeys::kSims) + "\\" + name));
        world_.AddUninstallEntry(name, nullptr, nullptr);
        world_.AddUninstallEntry(std::string("Borelle SIM ") + name, nullptr, nullptr);
    }
    world_.AddUninstallEntry("{A}", nullptr, nullptr);
    world_.AddProductFiles({"AlphaUninst.isu", "BetaUninst.isu", "SIMUninstall.dll", "Quenta.exe"});

    EXPECT_EQ(Run(), 1);

    EXPECT_EQ(world_.ProductTree(), std::vector<std::string>{"Quenta.exe"});
    for (const char* entry : {"Alpha", "Beta", "Borelle SIM Alpha", "Borelle SIM Beta", "{A}"}) {
        EXPECT_TRUE(reg::KeyExists(kMachine, world_.UninstallEntryPath(entry))) << entry;
    }
}

// A second run right after a full one finds no registration: it clears the
// SIM folders again and skips the rest.
TEST_P(SimCleanupRun, SecondRunSkipsTheSimSteps) {
    world_.RegisterProduct();
    const std::vector<SimLeftover> sims = SeedThreeSims();
    ASSERT_EQ(Run(), 1);
    // What a later SIM setup might have left since: none of it registered.
    world_.AddUninstallEntry(sims[0].entryName, (LogRoot() + "\\Alarm\\Uninst.isu").c_str(), "Quenta SIM Alarm");
    fs::CreateFolders(LogRoot() + "\\Alarm");
    fs::WriteFile(LogRoot() + "\\Alarm\\Uninst.isu");
    world_.AddProductFiles({"AlarmUninst.isu", "SIMUninstall.dll", "Sims\\Alarm\\Alarm.dll"});

    EXPECT_EQ(Run(), 1);

    EXPECT_EQ(world_.ProductTree(), (std::vector<std::string>{"AlarmUninst.isu", "SIMUninstall.dll"}));
    EXPECT_TRUE(reg::KeyExists(kMachine, world_.UninstallEntryPath(sims[0].entryName)));
    EXPECT_TRUE(fs::FileExists(LogRoot() + "\\Alarm\\Uninst.isu"));
}

INSTANTIATE_TEST_SUITE_P(Exports, SimCleanupRun,
                         ::testing::Values(ExportCase{"CleanSIMInfo", false}, ExportCase{"CleanSIMInfoSilent", true}),
                         [](const ::testing::TestParamInfo<ExportCase>& tested) {
                             return std::string(tested.param.name);
                         });

}  // namespace
}  // namespace tarnvale::test
