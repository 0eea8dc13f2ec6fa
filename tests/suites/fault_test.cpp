// Faults from outside the library: a child killed during LaunchAppAndWait or
// ending with the code that also means "still running", a TarnvaleRes.dll
// that is no library at all, a "license.rtf" of binary garbage, a file held
// open without sharing in the middle of a SIM cleanup, and SIM keys deleted
// by another thread while the sweep runs. Each gives the documented result
// in bounded time, and the whole machine changes exactly as that result says.
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
#include <tuple>

#include "child_log.h"
#include "library_form.h"
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

void PrintTo(const ChildEnding& ending, std::ostream* out) { *out << ending.name; }

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

// What the user sees of one call: the message boxes, the status line's
// texts and the licence page's caption (empty: no page), and the result.
struct Seen {
    int result = 1;
    std::vector<std::string> boxes;
    std::vector<std::string> statusTexts;
    std::string pageCaption;
};

struct TextResourceCase {
    const char* name;
    // Seeds what makes the export show its texts; returns what the form
    // must show with its own resources alone.
    std::function<Seen(SimWorld&, const LibraryForm&)> seed;
    std::function<int(const TarnvaleLibrary&)> call;
};

void PrintTo(const TextResourceCase& tested, std::ostream* out) { *out << tested.name; }

class TextFileAsResourceLibrary
    : public ::testing::TestWithParam<std::tuple<LibraryForm, TextResourceCase>> {
protected:
    void SetUp() override {
        fs::WriteFile(resourceLibraryPath_, "This file is not a library.\r\nIt only bears the name of one.\r\n");
    }
    void TearDown() override { DeleteFileA(resourceLibraryPath_.c_str()); }

    const std::string resourceLibraryPath_ = HostFolder() + "\\TarnvaleRes.dll";
    SimWorld world_;
    ScopedRegistryTree quillet_{kMachine, std::string(kUninstallKey) + "\\Nortavo Quillet"};
    ChildLog children_{ChildLogPath()};
};

// The resource library cannot be loaded: no message about it, and the result
// is as documented. The full form shows its own texts and windows; the
// compact form, which has none of its own, shows nothing and finds nothing.
// The text file is not held loaded afterwards, and the machine is unchanged.
TEST_P(TextFileAsResourceLibrary, LibraryFallsBackToItsOwnResources) {
    const LibraryForm& form = std::get<0>(GetParam());
    const TextResourceCase& tested = std::get<1>(GetParam());
    const Seen expected = tested.seed(world_, form);
    TarnvaleLibrary library(form.path);
    const MachineSnapshot before = MachineSnapshot::Take();

    Seen seen;
    UiSession robot(
        [&](UiSession& session) {
            if (!expected.pageCaption.empty()) {
                HWND page = session.WaitFor(ui::DialogWithItem(IDC_AGREEMENT_TEXT), "licence page");
                if (page == nullptr) return;
                seen.pageCaption = ui::Text(page);
                ui::ClickNow(page, IDC_ACCEPT);
                ui::Click(page, IDOK);
                session.WaitGone(page);
            }
            seen.boxes = session.AnswerMessageBoxes(expected.boxes.size());
        },
        ui::DialogWithItem(IDC_STATUS_TEXT));
    WindowEventLog log;
    seen.result = tested.call(library);
    seen.statusTexts = log.TextsOf(IDC_STATUS_TEXT);
    robot.Finish();

    EXPECT_EQ(seen.result, expected.result);
    EXPECT_EQ(seen.boxes, expected.boxes);
    EXPECT_EQ(seen.statusTexts, expected.statusTexts);
    EXPECT_EQ(seen.pageCaption, expected.pageCaption);
    EXPECT_FALSE(IsModuleLoaded("TarnvaleRes.dll"));
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {}), "");
}

std::string UnableToExecute(const std::string& command) {
    return "Unable to execute " + command + ". Error Code : " + std::to_string(CreateProcessError(command)) + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Exports, TextFileAsResourceLibrary,
    ::testing::Combine(
        BothForms(),
        ::testing::Values(
            // Quillet's uninstaller cannot start: messages 12 and 14. The
            // compact form looks for an entry below a lone backslash.
            TextResourceCase{"RemoveAddOns",
                             [](SimWorld& world, const LibraryForm& form) {
                                 const std::string program = world.root() + "\\missing\\uninstall.exe";
                                 reg::SetString(kMachine, std::string(kUninstallKey) + "\\Nortavo Quillet",
                                                "UninstallString", program);
                                 if (form.compact) return Seen{1, {}, {}, ""};
                                 return Seen{1,
                                             {UnableToExecute(program + " -a"),
                                              "Quillet Add-on detected. Setup failed to uninstall the add-on. "
                                              "Please uninstall it manually."},
                                             {"Checking for Lumbrook add-ons...", "Uninstalling Quillet..."},
                                             ""};
                             },
                             [](const TarnvaleLibrary& library) { return library.RemoveAddOns(); }},
            // The driver setup is a folder: message 12. The compact form
            // has no product key path to look at.
            TextResourceCase{"UninstallTivraDriver",
                             [](SimWorld& world, const LibraryForm& form) {
                                 world.RegisterProduct();
                                 fs::CreateFolders(world.productFolder() + "\\Setuptivra5.exe");
                                 if (form.compact) return Seen{1, {}, {}, ""};
                                 return Seen{
                                     1, {UnableToExecute(world.productFolder() + "\\Setuptivra5.exe /SILENT /REMOVE")},
                                     {}, ""};
                             },
                             [](const TarnvaleLibrary& library) { return library.UninstallTivraDriver(); }},
            // The page from the library's own template, accepted and left
            // with Next. The compact form has no template: 0, no page.
            TextResourceCase{"ShowBetaLicense",
                             [](SimWorld&, const LibraryForm& form) {
                                 if (form.compact) return Seen{0, {}, {}, ""};
                                 return Seen{1, {}, {}, "Product License Agreement"};
                             },
                             [](const TarnvaleLibrary& library) { return library.ShowBetaLicense(); }})),
    [](const ::testing::TestParamInfo<TextFileAsResourceLibrary::ParamType>& tested) {
        return std::string(std::get<0>(tested.param).name) + "_" + std::get<1>(tested.param).name;
    });

// ---- a "license.rtf" that is binary garbage ----

// Bytes from a fixed pseudo-random sequence.
std::string GarbageBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

struct GarbageAgreement {
    const char* name;
    std::function<std::string()> content;
};

void PrintTo(const GarbageAgreement& agreement, std::ostream* out) { *out << agreement.name; }

class GarbageAgreementFile
    : public ::testing::TestWithParam<std::tuple<LibraryForm, GarbageAgreement>> {
protected:
    GarbageAgreementFile() : resources_(std::get<0>(GetParam())), library_(std::get<0>(GetParam()).path) {}

    SimWorld world_;  // the current directory is its folder "cwd"
    FormResources resources_;
    TarnvaleLibrary library_;
};

// Whatever the bytes, the page opens within seconds, shows no message, can
// be accepted and left with Next (result 1), and the file is read, never
// written: it and the whole machine are as before.
TEST_P(GarbageAgreementFile, PageStillOpensAndWorks) {
    const std::string agreement = std::get<1>(GetParam()).content();
    const std::string path = world_.currentFolder() + "\\license.rtf";
    fs::WriteFile(path, agreement);
    const MachineSnapshot before = MachineSnapshot::Take();

    double secondsToPage = -1;
    const Clock::time_point start = Clock::now();
    UiSession robot([&](UiSession& session) {
        HWND page = session.WaitFor(ui::DialogWithItem(IDC_AGREEMENT_TEXT), "licence page", 30000);
        if (page == nullptr) return;
        secondsToPage = SecondsSince(start);
        ui::ClickNow(page, IDC_ACCEPT);
        ui::Click(page, IDOK);
    });
    const int result = library_.ShowBetaLicense();
    robot.Finish();

    EXPECT_EQ(result, 1);
    EXPECT_GE(secondsToPage, 0.0);
    EXPECT_LT(secondsToPage, 30.0);
    EXPECT_EQ(fs::ReadFile(path), agreement) << "license.rtf was changed";
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {}), "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, GarbageAgreementFile,
    ::testing::Combine(
        BothForms(),
        ::testing::Values(
            GarbageAgreement{"RandomBytes", [] { return GarbageBytes(1 << 20, 1); }},
            GarbageAgreement{"RtfHeaderThenRandomBytes",
                             [] { return "{\\rtf1\\ansi\\deff0 " + GarbageBytes(1 << 20, 2); }},
            GarbageAgreement{"NulBytes", [] { return std::string(64 * 1024, '\0'); }},
            // A binary run that claims four gigabytes and ends after a few bytes.
            GarbageAgreement{"BinaryRunLongerThanTheFile",
                             [] { return "{\\rtf1\\ansi \\bin4294967295 " + GarbageBytes(4096, 3); }},
            // Control words with huge parameters and a font table that never ends.
            GarbageAgreement{"HugeParametersAndAnOpenFontTable",
                             [] {
                                 std::string rtf = "{\\rtf1\\ansi\\fs999999999\\li-2147483648\\uc2147483647 ";
                                 rtf += "{\\fonttbl";
                                 for (int i = 0; i < 20000; ++i) rtf += "{\\f" + std::to_string(i) + " F;}";
                                 return rtf;
                             }})),
    [](const ::testing::TestParamInfo<GarbageAgreementFile::ParamType>& tested) {
        return std::string(std::get<0>(tested.param).name) + "_" + std::get<1>(tested.param).name;
    });

// ---- a file held open without sharing during a SIM cleanup ----

using Path = std::string;

struct HeldFileCase {
    const char* name;
    // The held file, from the product folder and the log root.
    std::function<Path(const Path& product, const Path& logs)> held;
    // Read-only: the run makes it writable to delete it and, when that
    // fails, must make it read-only again.
    bool readOnly;
    // The entry of the full removal that no longer goes whole, and what of
    // it still goes (its other files and folders).
    std::function<Path(const Path& product, const Path& logs)> notWhole;
    std::function<std::vector<Path>(const Path& product, const Path& logs)> stillRemoved;
};

std::vector<Path> NothingElse(const Path&, const Path&) { return {}; }

void PrintTo(const HeldFileCase& tested, std::ostream* out) { *out << tested.name; }

class HeldFileDuringCleanup : public SimCleanupTest, public ::testing::WithParamInterface<HeldFileCase> {};

// The held file stays, with the folders that hold it and its attributes as
// they were (a read-only file stays read-only); every other file, folder and
// key of the leftovers goes as usual, and the run returns 1.
TEST_P(HeldFileDuringCleanup, OnlyTheHeldFileAndItsFoldersStay) {
    const HeldFileCase& tested = GetParam();
    const std::string product = world_.productFolder();
    const std::string logs = world_.root() + "\\Logs";
    world_.RegisterProduct();
    const std::vector<SimLeftover> sims = ThreeSims(logs);
    for (const SimLeftover& sim : sims) world_.TrackUninstallEntry(sim.entryName);
    SeedSimLeftovers(product, sims);
    const Path heldPath = tested.held(product, logs);
    if (tested.readOnly) fs::SetAttributes(heldPath, FILE_ATTRIBUTE_READONLY);
    ScopedHeldFile held(heldPath);

    std::vector<std::string> expected;
    const std::string notWhole = tested.notWhole(product, logs);
    for (const std::string& entry : SimLeftoverEntries(product, sims)) {
        if (entry != notWhole) expected.push_back(entry);
    }
    for (const std::string& entry : tested.stillRemoved(product, logs)) expected.push_back(entry);
    const MachineSnapshot before = MachineSnapshot::Take();

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), expected), "");
    const DWORD attributes = GetFileAttributesA(heldPath.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << heldPath << " is gone";
    EXPECT_EQ((attributes & FILE_ATTRIBUTE_READONLY) != 0, tested.readOnly) << heldPath;
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeldFileDuringCleanup,
    ::testing::Values(
        // The SIM's files but the first are read-only as seeded.
        HeldFileCase{"ReadOnlyInASimFolder",
                     [](const Path& p, const Path&) { return p + "\\Sims\\Alarm\\Alarm.cfg"; }, true,
                     [](const Path& p, const Path&) { return p + "\\Sims\\"; },
                     [](const Path& p, const Path&) {
                         return std::vector<std::string>{p + "\\Sims\\Alarm\\Alarm.dll", p + "\\Sims\\Alarm\\Alarm.hlp",
                                                         p + "\\Sims\\Trend\\", p + "\\Sims\\Recipe\\"};
                     }},
        HeldFileCase{"InALogFolder", [](const Path&, const Path& l) { return l + "\\Trend\\Uninst.isu"; }, false,
                     [](const Path&, const Path& l) { return l + "\\Trend\\"; }, NothingElse},
        HeldFileCase{"ReadOnlyInALogFolder", [](const Path&, const Path& l) { return l + "\\Trend\\Uninst.isu"; },
                     true, [](const Path&, const Path& l) { return l + "\\Trend\\"; }, NothingElse},
        HeldFileCase{"SimUninstallFile", [](const Path& p, const Path&) { return p + "\\TrendUninst.isu"; }, false,
                     [](const Path& p, const Path&) { return p + "\\TrendUninst.isu"; }, NothingElse},
        HeldFileCase{"SharedUninstaller", [](const Path& p, const Path&) { return p + "\\SIMUninstall.dll"; }, false,
                     [](const Path& p, const Path&) { return p + "\\SIMUninstall.dll"; }, NothingElse}),
    [](const ::testing::TestParamInfo<HeldFileCase>& tested) { return std::string(tested.param.name); });

// The SIM folders are cleared by the same step in both forms (the compact
// form has no log-folder step): of two read-only files in a SIM folder the
// one held open stays, still read-only, and the other goes; nothing else
// on the machine changes.
class HeldReadOnlySimFile : public SimCleanupTest, public ::testing::WithParamInterface<LibraryForm> {
protected:
    HeldReadOnlySimFile() : SimCleanupTest(GetParam()) {}
};

TEST_P(HeldReadOnlySimFile, StaysReadOnlyWhileItsNeighbourGoes) {
    world_.RegisterProduct();
    world_.AddProductFiles({"Sims\\Alarm\\held.cfg", "Sims\\Alarm\\other.cfg"});
    const std::string held = world_.simsFolder() + "\\Alarm\\held.cfg";
    const std::string other = world_.simsFolder() + "\\Alarm\\other.cfg";
    fs::SetAttributes(held, FILE_ATTRIBUTE_READONLY);
    fs::SetAttributes(other, FILE_ATTRIBUTE_READONLY);
    ScopedHeldFile holder(held);
    const MachineSnapshot before = MachineSnapshot::Take();

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {other}), "");
    const DWORD attributes = GetFileAttributesA(held.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << held << " is gone";
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY) << held << " is no longer read-only";
}

INSTANTIATE_TEST_SUITE_P(Forms, HeldReadOnlySimFile, BothForms(), FormName);

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
