// What only the shipped setting shows: the i686 library in a 32-bit process
// on 64-bit Windows. Its registry is the 32-bit view (below
// HKLM\SOFTWARE\WOW6432Node, where a 32-bit setup writes its keys), its
// system folder is SysWOW64, and the programs it starts may be of either
// architecture. This suite is built for i686 only.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_log.h"
#include "library_form.h"
#include "machine_snapshot.h"
#include "sim_world.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;

// ---- the 64-bit registry view, as a 64-bit program of the machine sees it ----

namespace view64 {

constexpr REGSAM kView = KEY_WOW64_64KEY;

void SetString(const std::string& path, const std::string& name, const std::string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(kMachine, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << "cannot create 64-bit key " << path;
    const LONG status = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS);
}

// Deletes a key of the 64-bit view with everything below it. Every step
// names its key from the root with the view flag, so nothing is redirected.
void DeleteTree(const std::string& path) {
    for (const std::string& name : reg::SubkeyNames(kMachine, path, kView)) DeleteTree(path + "\\" + name);
    RegDeleteKeyExA(kMachine, path.c_str(), kView, 0);
}

// A 64-bit-view key tree that belongs to one test.
class ScopedTree {
public:
    explicit ScopedTree(std::string path) : path_(std::move(path)) { DeleteTree(path_); }
    ~ScopedTree() { DeleteTree(path_); }
    ScopedTree(const ScopedTree&) = delete;
    ScopedTree& operator=(const ScopedTree&) = delete;

private:
    std::string path_;
};

}  // namespace view64

bool IsWow64Process() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

class Wow64Test : public SimCleanupTest, public ::testing::WithParamInterface<LibraryForm> {
protected:
    Wow64Test() : SimCleanupTest(GetParam()) {}

    void SetUp() override { ASSERT_TRUE(IsWow64Process()) << "the suite must run as a 32-bit process on 64-bit Windows"; }

    std::string LogFolder() const { return world_.root() + "\\Logs\\Alarm"; }

    // One SIM as a 32-bit setup leaves it, in the view this process and the
    // library share: registrations below SIMS and DSIMS, an Uninstall entry
    // found by the registration's name, its log folder and maker key, its
    // SIM folder and uninstall file.
    void SeedSim() {
        world_.RegisterProduct();
        world_.AddRegistration(simkeys::kSims, "Alarm");
        world_.AddRegistration(simkeys::kDsims, "Trend");
        world_.AddUninstallEntry("Borelle SIM Alarm", (LogFolder() + "\\Uninst.isu").c_str(), "Borelle SIM Alarm");
        reg::SetString(kMachine, std::string(simkeys::kNortavoMaker) + "\\Borelle SIM Alarm", "InstallDir", "32");
        fs::CreateFolders(LogFolder());
        fs::WriteFile(LogFolder() + "\\Uninst.isu");
        world_.AddProductFiles({"Sims\\Alarm\\Alarm.dll", "AlarmUninst.isu"});
    }

    // The same keys in the 64-bit view, as a 64-bit setup would have written
    // them, each with a value of its own.
    void SeedSameKeysIn64BitView() {
        for (const std::string& path :
             {std::string(simkeys::kSims) + "\\Alarm", std::string(simkeys::kDsims) + "\\Trend",
              std::string(simkeys::kUninstall) + "\\Borelle SIM Alarm",
              std::string(simkeys::kNortavoMaker) + "\\Borelle SIM Alarm"}) {
            view64::SetString(path, "View", "64");
        }
        view64::SetString(std::string(simkeys::kUninstall) + "\\Borelle SIM Alarm", "DisplayName",
                          "Borelle SIM Alarm");
    }

    view64::ScopedTree nortavo64_{simkeys::kNortavoComma};
    view64::ScopedTree maker64_{simkeys::kNortavoMaker};
    view64::ScopedTree entry64_{std::string(simkeys::kUninstall) + "\\Borelle SIM Alarm"};
};

// The 32-bit library sweeps SIMS and DSIMS, deletes the Uninstall entry and
// the maker key in the 32-bit view only: the same keys of the 64-bit view
// stay whole, value for value (the whole-machine comparison holds both views).
TEST_P(Wow64Test, CleansThe32BitRegistryViewOnly) {
    SeedSim();
    SeedSameKeysIn64BitView();
    const MachineSnapshot before = MachineSnapshot::Take();

    EXPECT_EQ(CleanSilently(), 1);

    const std::string product = world_.productFolder();
    std::vector<std::string> removed = {MachineKey(std::string(simkeys::kSims) + "\\Alarm"),
                                        MachineKey(std::string(simkeys::kUninstall) + "\\Borelle SIM Alarm"),
                                        product + "\\Sims\\", product + "\\AlarmUninst.isu"};
    if (!GetParam().compact) {
        // The full form also sweeps DSIMS and removes the log folder and maker key.
        removed.push_back(MachineKey(std::string(simkeys::kDsims) + "\\Trend"));
        removed.push_back(MachineKey(std::string(simkeys::kNortavoMaker) + "\\Borelle SIM Alarm"));
        removed.push_back(LogFolder() + "\\");
    }
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), removed), "");
}

INSTANTIATE_TEST_SUITE_P(Forms, Wow64Test, BothForms(), FormName);

// ---- the folder guard in a 32-bit process ----

struct GuardedFolder {
    const char* name;
    const char* folder;  // as the registry names it; a 32-bit process sees System32 as SysWOW64
};

const GuardedFolder kGuardedFolders[] = {
    {"SysWOW64", R"(C:\Windows\SysWOW64)"},
    {"System32", R"(C:\Windows\System32)"},
    {"ProgramFilesX86", R"(C:\Program Files (x86))"},
    {"ProgramFiles", R"(C:\Program Files)"},
};

class Wow64FolderGuard : public SimCleanupTest, public ::testing::WithParamInterface<GuardedFolder> {};

// A SIM whose "LogFile" lies in one of these folders: its entry goes, the
// folder is not cleared. The canary is written by this 32-bit process through
// the same name, so it lands where the library would look (SysWOW64 for
// System32).
TEST_P(Wow64FolderGuard, LogFileInTheFolderClearsNothing) {
    const std::string canary = std::string(GetParam().folder) + "\\TarnvaleCanary.txt";
    fs::WriteFile(canary, "canary");
    ASSERT_TRUE(fs::FileExists(canary));
    world_.RegisterProduct();
    world_.AddRegistration(simkeys::kSims, "Alarm");
    world_.AddUninstallEntry("Alarm", (std::string(GetParam().folder) + "\\Uninst.isu").c_str(), nullptr);
    const MachineSnapshot before = MachineSnapshot::Take();

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(),
                                        {MachineKey(std::string(simkeys::kSims) + "\\Alarm"),
                                         MachineKey(world_.UninstallEntryPath("Alarm"))}),
              "");
    EXPECT_TRUE(fs::FileExists(canary));
    fs::RemoveTree(canary);
}

INSTANTIATE_TEST_SUITE_P(Folders, Wow64FolderGuard, ::testing::ValuesIn(kGuardedFolders),
                         [](const ::testing::TestParamInfo<GuardedFolder>& tested) { return tested.param.name; });

// ---- children of both architectures ----

struct ChildCase {
    const char* name;
    const char* program;
    WORD machine;  // the architecture the program file is built for
};

const ChildCase kChildren[] = {
    {"Child32", kTestChildPath, IMAGE_FILE_MACHINE_I386},
    {"Child64", kOtherArchTestChildPath, IMAGE_FILE_MACHINE_AMD64},
};

// The machine type in a program file's header.
WORD MachineOf(const std::string& program) {
    const std::string image = fs::ReadFile(program);
    if (image.size() < sizeof(IMAGE_DOS_HEADER)) return 0;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    if (dos->e_lfanew <= 0 || static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > image.size()) return 0;
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew)->FileHeader.Machine;
}

class Wow64Children : public SimCleanupTest,
                      public ::testing::WithParamInterface<std::tuple<LibraryForm, ChildCase>> {
protected:
    Wow64Children() : SimCleanupTest(std::get<0>(GetParam())) {}
    const ChildCase& child() const { return std::get<1>(GetParam()); }

    ChildLog children_{world_.root() + "\\children.log"};
};

// LaunchAppAndWait starts the program, waits for its end and gives 1.
TEST_P(Wow64Children, LaunchAppAndWaitStartsIt) {
    ASSERT_EQ(MachineOf(child().program), child().machine);
    const std::string commandLine = std::string("\"") + child().program + "\" --exit=3";

    UiSession robot;
    EXPECT_EQ(library_.LaunchAppAndWait(commandLine.c_str()), 1);
    robot.Finish();

    EXPECT_EQ(children_.StartedCommandLines(), std::vector<std::string>({commandLine}));
    const auto entries = children_.Read();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_FALSE(entries.back().start) << "the call returned before the child ended";
}

// UninstallTivraDriver finds the driver's setup program in the product
// folder and runs it, whichever architecture it is built for.
TEST_P(Wow64Children, UninstallTivraDriverRunsIt) {
    world_.RegisterProduct();
    const std::string setup = world_.productFolder() + "\\Setuptivra5.exe";
    ScopedFileCopy copy(child().program, setup);
    ASSERT_EQ(MachineOf(setup), child().machine);

    UiSession robot;
    EXPECT_EQ(library_.UninstallTivraDriver(), 1);
    robot.Finish();

    EXPECT_EQ(children_.StartedCommandLines(), std::vector<std::string>({setup + " /SILENT /REMOVE"}));
    EXPECT_EQ(children_.StartedPrograms(), std::vector<std::string>({setup}));
}

INSTANTIATE_TEST_SUITE_P(Programs, Wow64Children, ::testing::Combine(BothForms(), ::testing::ValuesIn(kChildren)),
                         [](const ::testing::TestParamInfo<std::tuple<LibraryForm, ChildCase>>& tested) {
                             return std::string(std::get<0>(tested.param).name) + std::get<1>(tested.param).name;
                         });

}  // namespace
}  // namespace tarnvale::test
