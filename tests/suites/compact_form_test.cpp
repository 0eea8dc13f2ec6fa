// The compact form of the library: no texts or dialogs of its own, so every
// text and both templates come from the resource library alone; the older
// SIM cleanup (product folder first, the SIMS key alone, plain deletion of
// keys without subkeys, Uninstall entries matched by SIM name); the resource
// library freed with force at the end of the cleanup; LaunchAppAndWait
// without a frame. Run without any resource library and with the complete
// fixture beside the host.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "child_log.h"
#include "library_form.h"
#include "machine_snapshot.h"
#include "resources/resource.h"
#include "sim_world.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;
constexpr char kResourceLibraryFile[] = "TarnvaleRes.dll";
constexpr char kDialogClass[] = "#32770";

// The compact form with nothing beside the host.
constexpr LibraryForm kCompactAlone{"CompactAlone", kCompactLibraryPath, true, nullptr};

struct ExportCase {
    const char* name;
    int (*call)(const TarnvaleLibrary&);
    int expected;
};

void PrintTo(const ExportCase& tested, std::ostream* out) { *out << tested.name; }

std::string CaseName(const ::testing::TestParamInfo<ExportCase>& tested) { return tested.param.name; }

// ---- without a resource library ----

// Where key paths made of missing texts would lead: the registry roots. The
// default value of HKEY_CLASSES_ROOT names the product folder (as the BASPATH
// key does), HKEY_LOCAL_MACHINE holds an "UninstallString" value that runs
// the test child, and a key without subkeys lies directly below it. A
// library that opened, read or deleted at a root for an empty text would
// find the product, run the child or delete the key.
class RootBait {
public:
    RootBait(const std::string& productFolder, const std::string& command) {
        Set(HKEY_CLASSES_ROOT, "", productFolder);
        Set(kMachine, "UninstallString", command);
        reg::CreateKey(kMachine, kLeafKey);
    }
    ~RootBait() {
        RegDeleteValueA(HKEY_CLASSES_ROOT, "");
        RegDeleteValueA(kMachine, "UninstallString");
        RegDeleteKeyA(kMachine, kLeafKey);
    }
    RootBait(const RootBait&) = delete;
    RootBait& operator=(const RootBait&) = delete;

private:
    static constexpr char kLeafKey[] = "TarnvaleRootLeaf";

    static void Set(HKEY root, const char* name, const std::string& text) {
        ASSERT_FALSE(reg::ValueExists(root, "", name)) << "the root already holds the value \"" << name << "\"";
        ASSERT_EQ(RegSetValueExA(root, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
};

class CompactWithoutResourceLibrary : public SimCleanupTest, public ::testing::WithParamInterface<ExportCase> {
protected:
    CompactWithoutResourceLibrary() : SimCleanupTest(kCompactAlone) {}

    // Everything the exports would act on with their texts: the product with
    // its driver setup, SIM registrations, an Uninstall entry, SIM files, the
    // two add-ons.
    void SeedEverything() {
        world_.RegisterProduct();
        world_.AddRegistration(simkeys::kSims, "Alarm", "{A}");
        world_.AddRegistration(simkeys::kDsims, "Recipe");
        world_.AddUninstallEntry("Borelle SIM Alarm", nullptr, "Borelle SIM Alarm");
        world_.AddProductFiles({"Sims\\Alarm\\a.txt", "Bin\\Runtime.dll", "AlarmUninst.isu", "SIMUninstall.dll"});
        for (const char* addOn : {"Nortavo Quillet", "Nortavo Marlowe"}) {
            world_.TrackUninstallEntry(addOn);
            reg::SetString(kMachine, world_.UninstallEntryPath(addOn), "UninstallString", ChildCommand());
        }
    }

    ChildLog children_{world_.root() + "\\children.log"};
};

// Every text is empty and neither template exists: the SIM cleanup finds no
// product (0), RemoveAddOns finds no add-on and UninstallTivraDriver no
// product (both 1), the licence page cannot be created (0); no window is
// shown, no program started, and nothing anywhere in the registry or on
// drive C: changes, the roots included.
TEST_P(CompactWithoutResourceLibrary, ChangesNothingAndShowsNothing) {
    SeedEverything();
    ScopedFileCopy driverSetup(kTestChildPath, world_.productFolder() + "\\Setuptivra5.exe");
    RootBait bait(world_.productFolder(), ChildCommand());
    const MachineSnapshot before = MachineSnapshot::Take();

    UiSession robot;
    WindowEventLog log;
    EXPECT_EQ(GetParam().call(library_), GetParam().expected);
    robot.Finish();

    EXPECT_TRUE(log.events().empty()) << "a window was created";
    EXPECT_TRUE(children_.Read().empty()) << "a program was started";
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {}), "");
    EXPECT_FALSE(IsModuleLoaded(kResourceLibraryFile));
}

INSTANTIATE_TEST_SUITE_P(
    Exports, CompactWithoutResourceLibrary,
    ::testing::Values(ExportCase{"CleanSIMInfo", [](const TarnvaleLibrary& l) { return l.CleanSIMInfo(); }, 0},
                      ExportCase{"CleanSIMInfoSilent", [](const TarnvaleLibrary& l) { return l.CleanSIMInfoSilent(); }, 0},
                      ExportCase{"RemoveAddOns", [](const TarnvaleLibrary& l) { return l.RemoveAddOns(); }, 1},
                      ExportCase{"ShowBetaLicense", [](const TarnvaleLibrary& l) { return l.ShowBetaLicense(); }, 0},
                      ExportCase{"UninstallTivraDriver",
                                 [](const TarnvaleLibrary& l) { return l.UninstallTivraDriver(); }, 1}),
    CaseName);

// ---- the SIM cleanup with the complete resource library ----

class CompactSimCleanup : public SimCleanupTest, public ::testing::WithParamInterface<ExportCase> {
protected:
    CompactSimCleanup() : SimCleanupTest(kCompactForm) {}

    std::string LogRoot() const { return world_.root() + "\\Logs"; }
    std::string Product(const std::string& relative) const { return world_.productFolder() + "\\" + relative; }

    // Calls the export of this case; a window that stays open fails the test.
    int Run() {
        UiSession robot;
        const int result = GetParam().call(library_);
        robot.Finish();
        return result;
    }
};

// Without the product folder the compact form stops before its sweep:
// nothing at all changes, the registrations stay, no window is shown.
TEST_P(CompactSimCleanup, ProductFolderNotFoundChangesNothing) {
    world_.AddRegistration(simkeys::kSims, "Alarm", "{A}");
    world_.AddRegistration(simkeys::kSims, "Trend");
    world_.AddUninstallEntry("Borelle SIM Alarm Server", nullptr, nullptr);
    world_.AddProductFiles({"Sims\\Alarm\\a.txt", "AlarmUninst.isu", "SIMUninstall.dll"});
    const MachineSnapshot before = MachineSnapshot::Take();

    WindowEventLog log;
    EXPECT_EQ(Run(), 0);

    EXPECT_TRUE(log.events().empty()) << "a window was created";
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {}), "");
    EXPECT_TRUE(reg::KeyExists(kMachine, std::string(simkeys::kSims) + "\\Alarm"));
    EXPECT_FALSE(IsModuleLoaded(kResourceLibraryFile));
}

// The whole run on a state that holds each case of the compact steps; the
// machine afterwards differs from before by exactly the listed removals.
TEST_P(CompactSimCleanup, RemovesExactlyWhatItsStepsTarget) {
    world_.RegisterProduct();
    // SIMS: a registration without subkeys, named in lower case, goes; one
    // with a subkey of its own stays, but its name is still listed.
    world_.AddRegistration(simkeys::kSims, "alarm", "{A1}");
    world_.AddRegistration(simkeys::kSims, "Trend");
    reg::SetString(kMachine, std::string(simkeys::kSims) + "\\Trend\\Settings", "Keep", "1");
    // DSIMS is not looked at.
    world_.AddRegistration(simkeys::kDsims, "Recipe", "{R1}");

    // Uninstall entries whose names contain a SIM name, ignoring case, go;
    // the log folder and maker key of such an entry stay.
    world_.AddUninstallEntry("Borelle SIM Alarm Server", (LogRoot() + "\\Alarm\\Uninst.isu").c_str(),
                             "Borelle SIM Alarm Server");
    fs::CreateFolders(LogRoot() + "\\Alarm");
    fs::WriteFile(LogRoot() + "\\Alarm\\Uninst.isu");
    reg::SetString(kMachine, std::string(simkeys::kNortavoMaker) + "\\Borelle SIM Alarm Server", "Dir", "kept");
    world_.AddUninstallEntry("Alarmist Tools", nullptr, nullptr);
    world_.AddUninstallEntry("TREND lite", nullptr, nullptr);
    // These stay: an entry with subkeys, entries named by a GUID or a DSIMS
    // name, and one that holds the letters of a SIM name but not the name.
    world_.AddUninstallEntry("Trend Suite", nullptr, nullptr);
    reg::CreateKey(kMachine, world_.UninstallEntryPath("Trend Suite") + "\\Components");
    world_.AddUninstallEntry("{A1}", nullptr, nullptr);
    world_.AddUninstallEntry("Borelle SIM {A1}", nullptr, nullptr);
    world_.AddUninstallEntry("Recipe Manager", nullptr, nullptr);
    world_.AddUninstallEntry("Alar m", nullptr, nullptr);

    // The uninstall files are named in mixed case; the file step finds them
    // through the upper-cased SIM names.
    world_.AddProductFiles({"Sims\\Alarm\\a.txt", "Sims\\Trend\\t.txt", "alarmUninst.isu", "TrendUninst.isu",
                            "RecipeUninst.isu", "SIMUninstall.dll", "Quenta.exe"});
    const MachineSnapshot before = MachineSnapshot::Take();

    WindowEventLog log;
    EXPECT_EQ(Run(), 1);

    const std::vector<std::string> removed = {
        MachineKey(std::string(simkeys::kSims) + "\\alarm"),
        MachineKey(world_.UninstallEntryPath("Borelle SIM Alarm Server")),
        MachineKey(world_.UninstallEntryPath("Alarmist Tools")),
        MachineKey(world_.UninstallEntryPath("TREND lite")),
        Product("Sims\\"),
        Product("alarmUninst.isu"),
        Product("TrendUninst.isu"),
        Product("SIMUninstall.dll"),
    };
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), removed), "");

    // The status window and its text are the resource library's.
    if (std::string(GetParam().name) == "CleanSIMInfo") {
        EXPECT_EQ(log.TextsOf(IDC_STATUS_TEXT), std::vector<std::string>{"[fixture] Cleaning up Sims..."});
        EXPECT_EQ(log.Count(WindowEventLog::Kind::Created, kDialogClass), 1);
        EXPECT_EQ(log.Count(WindowEventLog::Kind::Destroyed, kDialogClass), 1);
    } else {
        EXPECT_TRUE(log.events().empty()) << "a window was created";
    }
    EXPECT_FALSE(IsModuleLoaded(kResourceLibraryFile));
}

INSTANTIATE_TEST_SUITE_P(
    Exports, CompactSimCleanup,
    ::testing::Values(ExportCase{"CleanSIMInfo", [](const TarnvaleLibrary& l) { return l.CleanSIMInfo(); }, 1},
                      ExportCase{"CleanSIMInfoSilent", [](const TarnvaleLibrary& l) { return l.CleanSIMInfoSilent(); },
                                 1}),
    CaseName);

// ---- the forced release ----

// A window on the calling thread whose message runs the SIM cleanup: the
// wait of RemoveAddOns dispatches it while RemoveAddOns holds the resource
// library, so the cleanup runs with a request still outstanding.
struct NestedCleanup {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_APP) {
            loadedBefore = IsModuleLoaded(kResourceLibraryFile);
            result = library->CleanSIMInfoSilent();
            loadedAfter = IsModuleLoaded(kResourceLibraryFile);
            done = true;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static inline const TarnvaleLibrary* library = nullptr;
    static inline std::atomic<bool> done{false};
    static inline bool loadedBefore = false;
    static inline bool loadedAfter = true;
    static inline int result = -1;
};

// The SIM cleanup frees the resource library with force: it is unloaded
// when the cleanup ends, even while another request still holds it.
TEST(CompactResourceLibrary, IsUnloadedAtTheEndOfTheCleanupEvenWhileHeld) {
    ScopedFolder work(std::string(fs::kTestRoot) + "\\compact");
    ChildLog children(work / "children.log");
    ScopedRegistryTree quillet(kMachine, std::string(simkeys::kUninstall) + "\\Nortavo Quillet");
    ScopedRegistryTree marlowe(kMachine, std::string(simkeys::kUninstall) + "\\Nortavo Marlowe");
    ScopedRegistryTree product(HKEY_CLASSES_ROOT, simkeys::kProduct);  // absent: the cleanup returns 0
    ScopedFileCopy resourceLibrary(kFixtureFullPath, HostFolder() + "\\" + kResourceLibraryFile);
    TarnvaleLibrary library(kCompactLibraryPath);
    const std::string eventName = "TarnvaleCompactRelease" + std::to_string(GetCurrentProcessId());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    reg::SetString(kMachine, std::string(simkeys::kUninstall) + "\\Nortavo Quillet", "UninstallString",
                   ChildCommand("--wait-event=" + eventName));

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = NestedCleanup::Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TarnvaleNestedCleanup";
    RegisterClassA(&windowClass);
    HWND probe = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(probe, nullptr);
    NestedCleanup::library = &library;
    NestedCleanup::done = false;

    std::thread poster([&] {
        // Once the uninstaller runs, ask for the cleanup; let the uninstaller
        // end when the cleanup is done.
        for (int i = 0; i < 500 && children.Read().empty(); ++i) Sleep(10);
        PostMessageA(probe, WM_APP, 0, 0);
        for (int i = 0; i < 500 && !NestedCleanup::done; ++i) Sleep(10);
        SetEvent(release);
    });
    UiSession robot(nullptr, ui::DialogWithItem(IDC_STATUS_TEXT));
    const int result = library.RemoveAddOns();
    poster.join();
    robot.Finish();

    EXPECT_EQ(result, 1);
    ASSERT_TRUE(NestedCleanup::done) << "the cleanup did not run during the uninstaller's wait";
    EXPECT_EQ(NestedCleanup::result, 0);
    EXPECT_TRUE(NestedCleanup::loadedBefore) << "RemoveAddOns did not hold the resource library";
    EXPECT_FALSE(NestedCleanup::loadedAfter) << "the cleanup left the resource library loaded";
    EXPECT_FALSE(IsModuleLoaded(kResourceLibraryFile));
    EXPECT_EQ(children.Read().size(), 2u) << "the uninstaller must have started and ended";

    DestroyWindow(probe);
    UnregisterClassA(windowClass.lpszClassName, GetModuleHandleA(nullptr));
    CloseHandle(release);
}

// ---- LaunchAppAndWait without a frame ----

// The compact LaunchAppAndWait runs in its caller's module state: message 12
// comes from the calling program's own string table (this test program holds
// one), never from the resource library, which is not loaded.
TEST(CompactLaunchAppAndWait, MessagesComeFromTheCallingProgram) {
    ScopedFileCopy resourceLibrary(kFixtureFullPath, HostFolder() + "\\" + kResourceLibraryFile);
    TarnvaleLibrary library(kCompactLibraryPath);
    const std::string command = R"(C:\TarnvaleTest\compact\missing.exe /x)";
    const unsigned long error = CreateProcessError(command);
    ASSERT_NE(error, 0u);

    std::vector<std::string> seen;
    bool loadedDuringCall = true;
    UiSession robot([&](UiSession& session) {
        seen = session.AnswerMessageBoxes(1, [&](HWND) { loadedDuringCall = IsModuleLoaded(kResourceLibraryFile); });
    });
    EXPECT_EQ(library.LaunchAppAndWait(command.c_str()), 0);
    robot.Finish();

    EXPECT_EQ(seen, std::vector<std::string>{"[host] cannot start " + command + " (" + std::to_string(error) + ")"});
    EXPECT_FALSE(loadedDuringCall);
}

}  // namespace
}  // namespace tarnvale::test
