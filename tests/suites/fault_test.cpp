// Faults from outside the library: a child killed during LaunchAppAndWait or
// ending with the code that also means "still running", a TarnvaleRes.dll
// that is no library at all, a file held open without sharing in the middle
// of a SIM cleanup, and SIM keys deleted by another thread while the sweep
// runs. Each gives the documented result in bounded time, and the whole
// machine changes exactly as the documented result says.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <thread>

#include "child_log.h"
#include "machine_snapshot.h"
#include "resources/resource.h"
#include "sim_leftovers.h"
#include "sim_world.h"
#include "tarnvale_library.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The children's log lies beside the test program, off drive C:, so that
// the children's writes are no change of the machine under test.
std::string ChildLogPath() {
    return HostFolder() + "\\fault-children-" + std::to_string(GetCurrentProcessId()) + ".log";
}

// ---- a child that ends unusually ----

struct ChildEnding {
    const char* name;
    bool killed;         // killed from outside while it waits, else ends by itself
    unsigned exitCode;   // its own exit code, or the one it is killed with
};

class ChildEndingUnusually : public ::testing::TestWithParam<ChildEnding> {
protected:
    SimWorld world_;
    ChildLog children_{ChildLogPath()};
    TarnvaleLibrary library_;
};

// The call returns 1 as soon as the child is gone, however it went (259
// included, the code that also means "still running"), shows no message and
// changes nothing on the machine.
TEST_P(ChildEndingUnusually, CallReturnsOnceTheChildIsGone) {
    const ChildEnding& ending = GetParam();
    const std::string eventName = "TarnvaleFaultChild-" + std::to_string(GetCurrentProcessId());
    const HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(release, nullptr);
    const std::string command = ending.killed
        ? ChildCommand("--wait-event=" + eventName)
        : ChildCommand("--exit=" + std::to_string(ending.exitCode));

    // The killer waits for the child's start entry, then ends it from outside.
    std::atomic<bool> killed{false};
    std::thread killer;
    if (ending.killed) {
        killer = std::thread([&] {
            const Clock::time_point start = Clock::now();
            while (SecondsSince(start) < 10) {
                const auto entries = children_.Read();
                if (!entries.empty() && entries[0].start) {
                    const HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, entries[0].processId);
                    if (child != nullptr) {
                        killed = TerminateProcess(child, ending.exitCode) != FALSE;
                        CloseHandle(child);
                    }
                    return;
                }
                Sleep(10);
            }
        });
    }
    const MachineSnapshot before = MachineSnapshot::Take();

    UiSession robot;  // no message may appear
    const Clock::time_point start = Clock::now();
    const int result = library_.LaunchAppAndWait(command.c_str());
    const double seconds = SecondsSince(start);
    robot.Finish();
    if (killer.joinable()) killer.join();
    SetEvent(release);  // lets a child that was not killed end
    CloseHandle(release);

    EXPECT_EQ(result, 1);
    EXPECT_LT(seconds, 10.0) << "the wait outlived the child";
    const auto entries = children_.Read();
    ASSERT_FALSE(entries.empty());
    EXPECT_TRUE(entries[0].start);
    if (ending.killed) {
        EXPECT_TRUE(killed) << "the child could not be killed from outside";
        EXPECT_EQ(entries.size(), 1u) << "the child ended by itself instead of being killed";
    } else {
        EXPECT_EQ(entries.size(), 2u);
    }
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {}), "");
}

INSTANTIATE_TEST_SUITE_P(Endings, ChildEndingUnusually,
                         ::testing::Values(ChildEnding{"ExitsWith259", false, 259},
                                           ChildEnding{"KilledFromOutside", true, 1},
                                           ChildEnding{"KilledFromOutsideWith259", true, 259}),
                         [](const ::testing::TestParamInfo<ChildEnding>& tested) {
                             return std::string(tested.param.name);
                         });

// ---- a resource library that is a text file ----

constexpr char kUninstallKey[] = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall)";

// The error that process creation reports for a command line that cannot start.
DWORD CreateProcessError(std::string commandLine) {
    commandLine.resize(commandLine.size() + 512, '\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        TerminateProcess(info.hProcess, 0);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        return 0;
    }
    return GetLastError();
}

// Answers `count` message boxes in turn, noting their texts.
UiSession::Script AnswerMessageBoxes(int count, std::vector<std::string>& texts) {
    return [count, &texts](UiSession& session) {
        for (int i = 0; i < count; ++i) {
            HWND box = session.WaitForMessageBox();
            if (box == nullptr) return;
            texts.push_back(ui::MessageBoxText(box));
            ui::Click(box, IDOK);
            session.WaitGone(box);
        }
    };
}

struct TextResourceCase {
    const char* name;
    // Seeds what makes the export show its texts; returns the message boxes
    // it must show, in the library's own words.
    std::function<std::vector<std::string>(SimWorld&)> seed;
    std::function<int(const TarnvaleLibrary&)> call;
    std::vector<std::string> statusTexts;  // the status line's texts, in order
};

class TextFileAsResourceLibrary : public ::testing::TestWithParam<TextResourceCase> {
protected:
    void SetUp() override {
        fs::WriteFile(resourceLibraryPath_, "This file is not a library.\r\nIt only bears the name of one.\r\n");
    }
    void TearDown() override { DeleteFileA(resourceLibraryPath_.c_str()); }

    const std::string resourceLibraryPath_ = HostFolder() + "\\TarnvaleRes.dll";
    SimWorld world_;
    ScopedRegistryTree quillet_{kMachine, std::string(kUninstallKey) + "\\Nortavo Quillet"};
    ChildLog children_{ChildLogPath()};
    TarnvaleLibrary library_;
};

// The resource library cannot be loaded: no message about it, every text
// and window comes from the library's own resources, the result is as
// documented and the text file is not held loaded afterwards.
TEST_P(TextFileAsResourceLibrary, LibraryUsesItsOwnTexts) {
    const TextResourceCase& tested = GetParam();
    const std::vector<std::string> expectedBoxes = tested.seed(world_);
    const MachineSnapshot before = MachineSnapshot::Take();

    std::vector<std::string> boxes;
    UiSession robot(AnswerMessageBoxes(static_cast<int>(expectedBoxes.size()), boxes),
                    ui::DialogWithItem(IDC_STATUS_TEXT));
    WindowEventLog log;
    const int result = tested.call(library_);
    const std::vector<std::string> statusTexts = log.TextsOf(IDC_STATUS_TEXT);
    robot.Finish();

    EXPECT_EQ(result, 1);
    EXPECT_EQ(boxes, expectedBoxes);
    EXPECT_EQ(statusTexts, tested.statusTexts);
    EXPECT_FALSE(IsModuleLoaded("TarnvaleRes.dll"));
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {}), "");
}

INSTANTIATE_TEST_SUITE_P(
    Exports, TextFileAsResourceLibrary,
    ::testing::Values(
        TextResourceCase{"RemoveAddOns",
                         [](SimWorld& world) {
                             const std::string program = world.root() + "\\missing\\uninstall.exe";
                             reg::SetString(kMachine, std::string(kUninstallKey) + "\\Nortavo Quillet",
                                            "UninstallString", program);
                             const std::string command = program + " -a";
                             return std::vector<std::string>{
                                 "Unable to execute " + command + ". Error Code : " +
                                     std::to_string(CreateProcessError(command)) + "\n",
                                 "Quillet Add-on detected. Setup failed to uninstall the add-on. Please uninstall "
                                 "it manually."};
                         },
                         [](const TarnvaleLibrary& library) { return library.RemoveAddOns(); },
                         {"Checking for Lumbrook add-ons...", "Uninstalling Quillet..."}},
        TextResourceCase{"UninstallTivraDriver",
                         [](SimWorld& world) {
                             world.RegisterProduct();
                             fs::CreateFolders(world.productFolder() + "\\Setuptivra5.exe");
                             const std::string command = world.productFolder() + "\\Setuptivra5.exe /SILENT /REMOVE";
                             return std::vector<std::string>{"Unable to execute " + command + ". Error Code : " +
                                                             std::to_string(CreateProcessError(command)) + "\n"};
                         },
                         [](const TarnvaleLibrary& library) { return library.UninstallTivraDriver(); },
                         {}}),
    [](const ::testing::TestParamInfo<TextResourceCase>& tested) { return std::string(tested.param.name); });

// ---- a file held open without sharing during a SIM cleanup ----

using Path = std::string;

struct HeldFileCase {
    const char* name;
    // The held file, from the product folder and the log root.
    std::function<Path(const Path& product, const Path& logs)> held;
    // The entry of the full removal that no longer goes whole, and what of
    // it still goes (its other files and folders).
    std::function<Path(const Path& product, const Path& logs)> notWhole;
    std::function<std::vector<Path>(const Path& product, const Path& logs)> stillRemoved;
};

std::vector<Path> NothingElse(const Path&, const Path&) { return {}; }

class HeldFileDuringCleanup : public SimCleanupTest, public ::testing::WithParamInterface<HeldFileCase> {};

// The held file stays, with the folders that hold it; every other file,
// folder and key of the leftovers goes as usual, and the run returns 1.
TEST_P(HeldFileDuringCleanup, OnlyTheHeldFileAndItsFoldersStay) {
    const HeldFileCase& tested = GetParam();
    const std::string product = world_.productFolder();
    const std::string logs = world_.root() + "\\Logs";
    world_.RegisterProduct();
    const std::vector<SimLeftover> sims = ThreeSims(logs);
    for (const SimLeftover& sim : sims) world_.TrackUninstallEntry(sim.entryName);
    SeedSimLeftovers(product, sims);
    ScopedHeldFile held(tested.held(product, logs));

    std::vector<std::string> expected;
    const std::string notWhole = tested.notWhole(product, logs);
    for (const std::string& entry : SimLeftoverEntries(product, sims)) {
        if (entry != notWhole) expected.push_back(entry);
    }
    for (const std::string& entry : tested.stillRemoved(product, logs)) expected.push_back(entry);
    const MachineSnapshot before = MachineSnapshot::Take();

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), expected), "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeldFileDuringCleanup,
    ::testing::Values(
        HeldFileCase{"InASimFolder", [](const Path& p, const Path&) { return p + "\\Sims\\Alarm\\Alarm.cfg"; },
                     [](const Path& p, const Path&) { return p + "\\Sims\\"; },
                     [](const Path& p, const Path&) {
                         return std::vector<std::string>{p + "\\Sims\\Alarm\\Alarm.dll", p + "\\Sims\\Alarm\\Alarm.hlp",
                                                         p + "\\Sims\\Trend\\", p + "\\Sims\\Recipe\\"};
                     }},
        HeldFileCase{"InALogFolder", [](const Path&, const Path& l) { return l + "\\Trend\\Uninst.isu"; },
                     [](const Path&, const Path& l) { return l + "\\Trend\\"; }, NothingElse},
        HeldFileCase{"SimUninstallFile", [](const Path& p, const Path&) { return p + "\\TrendUninst.isu"; },
                     [](const Path& p, const Path&) { return p + "\\TrendUninst.isu"; }, NothingElse},
        HeldFileCase{"SharedUninstaller", [](const Path& p, const Path&) { return p + "\\SIMUninstall.dll"; },
                     [](const Path& p, const Path&) { return p + "\\SIMUninstall.dll"; }, NothingElse}),
    [](const ::testing::TestParamInfo<HeldFileCase>& tested) { return std::string(tested.param.name); });

// ---- SIM keys deleted by another thread during the sweep ----

// Another thread deletes and re-creates registrations, Uninstall entries and
// maker keys while CleanSIMInfoSilent runs, racing the enumeration, the
// opening and the deletion of those keys. Every run returns 1 in bounded
// time and touches nothing but those keys and the leftovers' files; after
// the last round and the removal of what is left of the leftovers, the
// machine is as it was.
class SweepRace : public SimCleanupTest {};

TEST_F(SweepRace, KeysDeletedByAnotherThreadDuringTheSweep) {
    constexpr int kRounds = 40;
    constexpr double kRoundLimitSeconds = 15.0;
    const std::string product = world_.productFolder();
    const std::string logs = world_.root() + "\\Logs";
    world_.RegisterProduct();
    std::vector<SimLeftover> sims = ManySims(24, logs, 2);
    for (size_t i = 0; i < sims.size(); i += 4) sims[i].parentKey = simkeys::kDsims;
    for (const SimLeftover& sim : sims) world_.TrackUninstallEntry(sim.entryName);
    reg::CreateKey(kMachine, simkeys::kSims);
    reg::CreateKey(kMachine, simkeys::kDsims);
    fs::CreateFolders(logs);
    const MachineSnapshot before = MachineSnapshot::Take();

    std::mt19937 random(20240611u);
    double slowest = 0;
    long racedOperations = 0;
    for (int round = 0; round < kRounds; ++round) {
        SeedSimLeftovers(product, sims);
        std::atomic<bool> running{true};
        std::atomic<int> racerOperations{0};  // during this run
        const unsigned seed = static_cast<unsigned>(random());
        std::thread racer([&] {
            std::mt19937 pick(seed);
            while (running) {
                const SimLeftover& sim = sims[pick() % sims.size()];
                const std::string registration = std::string(sim.parentKey) + "\\" + sim.name;
                // The registry's own calls, whose failures (a key deleted
                // meanwhile by the run) are part of the race.
                switch (pick() % 4) {
                    case 0: SHDeleteKeyA(kMachine, registration.c_str()); break;
                    case 1: SHDeleteKeyA(kMachine, (world_.UninstallEntryPath(sim.entryName)).c_str()); break;
                    case 2: SHDeleteKeyA(kMachine, sim.makerKey.c_str()); break;
                    default: {  // back again, with a subkey that a deletion must take too
                        HKEY key = nullptr;
                        if (RegCreateKeyExA(kMachine, (registration + "\\Settings").c_str(), 0, nullptr, 0,
                                            KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
                            RegCloseKey(key);
                        }
                        break;
                    }
                }
                ++racerOperations;
            }
        });
        const Clock::time_point start = Clock::now();
        const int result = CleanSilently();
        const double seconds = SecondsSince(start);
        running = false;
        racer.join();
        slowest = std::max(slowest, seconds);
        racedOperations += racerOperations.load();

        EXPECT_EQ(result, 1) << "round " << round;
        EXPECT_LT(seconds, kRoundLimitSeconds) << "round " << round;
        EXPECT_GT(racerOperations.load(), 0) << "round " << round << ": the other thread did not run during the call";
        EXPECT_TRUE(reg::KeyExists(kMachine, simkeys::kSims));
        EXPECT_TRUE(reg::KeyExists(kMachine, simkeys::kDsims));
        EXPECT_TRUE(reg::KeyExists(kMachine, simkeys::kUninstall));
        EXPECT_EQ(world_.DamagedCanaries(), "") << "round " << round;
        ClearSimLeftovers(product, sims);
        if (HasFailure()) break;
    }
    std::printf("%d rounds, %ld key operations by the other thread, slowest run %.2f s\n", kRounds, racedOperations,
                slowest);
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {}), "");
}

}  // namespace
}  // namespace tarnvale::test
