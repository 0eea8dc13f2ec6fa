// Uninstall entries of the SIMs: each GUID-list text names an entry, plainly
// or with the "Borelle SIM " prefix; the entry's log folder is cleared, the
// maker key named after its display name deleted, then the entry itself.
// Seen through CleanSIMInfoSilent on seeded registrations.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>

#include "sim_world.h"

namespace tarnvale::test {
namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;

class UninstallEntriesTest : public SimCleanupTest {
protected:
    void SetUp() override { world_.RegisterProduct(); }
    bool EntryExists(const std::string& name) const { return reg::KeyExists(kMachine, world_.UninstallEntryPath(name)); }
    std::vector<std::string> ExistingEntries(const std::vector<std::string>& names) const {
        std::vector<std::string> existing;
        for (const std::string& name : names) {
            if (EntryExists(name)) existing.push_back(name);
        }
        return existing;
    }
};

struct LookupCase {
    const char* name;
    const char* guid;  // the registration's "GUID" value; null: none
    bool registeredTwice;  // below SIMS and DSIMS, so the text is listed twice
    std::vector<std::string> entries;
    std::vector<std::string> remaining;
};

class EntryLookup : public UninstallEntriesTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(EntryLookup, FindsThePlainNameFirstThenThePrefixedOne) {
    const LookupCase& tested = GetParam();
    world_.AddRegistration(simkeys::kSims, "Alpha", tested.guid);
    if (tested.registeredTwice) world_.AddRegistration(simkeys::kDsims, "Alpha", tested.guid);
    for (const std::string& entry : tested.entries) world_.AddUninstallEntry(entry, nullptr, nullptr);

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(ExistingEntries(tested.entries), tested.remaining);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EntryLookup,
    ::testing::Values(
        LookupCase{"PlainEntryFirstPrefixedTwinStays", "{A}", false, {"{A}", "Borelle SIM {A}", "Alpha"},
                   {"Borelle SIM {A}", "Alpha"}},
        LookupCase{"PrefixedEntryWhenPlainIsMissing", "{A}", false, {"Borelle SIM {A}", "Borelle SIM Alpha"},
                   {"Borelle SIM Alpha"}},
        LookupCase{"LookupIgnoresCase", "{abc}", false, {"{ABC}"}, {}},
        LookupCase{"MissingGuidFallsBackToName", nullptr, false, {"Alpha", "{A}"}, {"{A}"}},
        LookupCase{"EmptyGuidFallsBackToName", "", false, {"Borelle SIM Alpha", "{A}"}, {"{A}"}},
        LookupCase{"NoEntryForTheText", "{A}", false, {"{B}", "Borelle SIM Alpha"}, {"{B}", "Borelle SIM Alpha"}},
        // The second occurrence looks again and finds the other form.
        LookupCase{"TextTwiceRemovesBothForms", "{A}", true, {"{A}", "Borelle SIM {A}"}, {}},
        LookupCase{"TextTwiceWithOneForm", "{A}", true, {"Borelle SIM {A}", "{B}"}, {"{B}"}}),
    [](const ::testing::TestParamInfo<LookupCase>& tested) { return std::string(tested.param.name); });

struct MakerCase {
    const char* name;
    const char* displayName;          // null: no value
    const char* makerKey;             // the key deleted; null: none
    std::vector<std::string> others;  // keys that stay
};

class MakerKey : public UninstallEntriesTest, public ::testing::WithParamInterface<MakerCase> {};

TEST_P(MakerKey, IsNamedByTheDisplayName) {
    const MakerCase& tested = GetParam();
    world_.AddRegistration(simkeys::kSims, "Alpha", "{A}");
    world_.AddUninstallEntry("{A}", nullptr, tested.displayName);
    if (tested.makerKey != nullptr) reg::SetString(kMachine, std::string(tested.makerKey) + "\\Options", "Language", "1033");
    for (const std::string& other : tested.others) reg::SetString(kMachine, other, "Keep", "1");

    EXPECT_EQ(CleanSilently(), 1);

    if (tested.makerKey != nullptr) {
        EXPECT_FALSE(reg::KeyExists(kMachine, tested.makerKey));
    }
    for (const std::string& other : tested.others) EXPECT_TRUE(reg::ValueExists(kMachine, other, "Keep")) << other;
    EXPECT_FALSE(EntryExists("{A}")) << "the entry goes whatever its display name";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakerKey,
    ::testing::Values(
        MakerCase{"BorelleSimNameUnchanged", "Borelle SIM Alarm", "SOFTWARE\\Nortavo Inc.\\Borelle SIM Alarm",
                  {"SOFTWARE\\Veltrane\\Borelle SIM Alarm"}},
        MakerCase{"QuentaSimLosesItsBlank", "Quenta SIM Alarm", "SOFTWARE\\Nortavo Inc.\\Quenta SIMAlarm",
                  {"SOFTWARE\\Nortavo Inc.\\Quenta SIM Alarm", "SOFTWARE\\Veltrane\\Quenta SIM Alarm"}},
        MakerCase{"EveryQuentaSimLosesItsBlank", "Quenta SIM Alarm for Quenta SIM Trend",
                  "SOFTWARE\\Nortavo Inc.\\Quenta SIMAlarm for Quenta SIMTrend",
                  {"SOFTWARE\\Nortavo Inc.\\Quenta SIMAlarm for Quenta SIM Trend"}},
        // Two in a row: each loses its blank, the second found right where
        // the first one's replacement ends.
        MakerCase{"AdjacentQuentaSimsEachLoseTheirBlank", "Quenta SIM Quenta SIM Alarm",
                  "SOFTWARE\\Nortavo Inc.\\Quenta SIMQuenta SIMAlarm",
                  {"SOFTWARE\\Nortavo Inc.\\Quenta SIMQuenta SIM Alarm",
                   "SOFTWARE\\Nortavo Inc.\\Quenta SIM Quenta SIM Alarm"}},
        MakerCase{"NeitherFormGoesToVeltrane", "Alarm Viewer", "SOFTWARE\\Veltrane\\Alarm Viewer",
                  {"SOFTWARE\\Nortavo Inc.\\Alarm Viewer"}},
        MakerCase{"BothFormsTakeTheFirstRow", "Borelle SIM with Quenta SIM Alarm",
                  "SOFTWARE\\Nortavo Inc.\\Borelle SIM with Quenta SIM Alarm",
                  {"SOFTWARE\\Nortavo Inc.\\Borelle SIM with Quenta SIMAlarm"}},
        // The row decides, not the place in the name: Borelle wins also
        // when Quenta comes first, and nothing is replaced.
        MakerCase{"BorelleRowWinsWhereQuentaComesFirst", "Quenta SIM Borelle SIM Alarm",
                  "SOFTWARE\\Nortavo Inc.\\Quenta SIM Borelle SIM Alarm",
                  {"SOFTWARE\\Nortavo Inc.\\Quenta SIMBorelle SIM Alarm"}},
        MakerCase{"FormsAreCaseSensitive", "quenta sim Alarm", "SOFTWARE\\Veltrane\\quenta sim Alarm",
                  {"SOFTWARE\\Nortavo Inc.\\Quenta SIMAlarm"}},
        // Deleted relative to its own parent: the key above stays.
        MakerCase{"NameWithSeparatorNamesADeeperKey", "Alarm\\Viewer", "SOFTWARE\\Veltrane\\Alarm\\Viewer",
                  {"SOFTWARE\\Veltrane\\Alarm"}},
        MakerCase{"MissingDisplayName", nullptr, nullptr, {"SOFTWARE\\Veltrane"}},
        MakerCase{"EmptyDisplayName", "", nullptr, {"SOFTWARE\\Veltrane"}},
        // A path with an empty component is never deleted: it would name the
        // maker key itself or the key above the one meant.
        MakerCase{"DisplayNameOfOneBackslash", "\\", nullptr, {"SOFTWARE\\Veltrane"}},
        MakerCase{"DisplayNameEndingInBackslash", "Alarm\\", nullptr, {"SOFTWARE\\Veltrane\\Alarm"}},
        MakerCase{"DisplayNameWithDoubledBackslash", "Alarm\\\\Viewer", nullptr,
                  {"SOFTWARE\\Veltrane\\Alarm", "SOFTWARE\\Veltrane\\Alarm\\Viewer"}}),
    [](const ::testing::TestParamInfo<MakerCase>& tested) { return std::string(tested.param.name); });

// "LogFile" names Uninst.isu in C:\Sims\Alarm: C:\Sims\Alarm\ is cleared and
// removed; the maker key and the entry go as well.
TEST_F(UninstallEntriesTest, LogFolderOfTheEntryIsCleared) {
    const std::string logFolder = "C:\\Sims\\Alarm";
    fs::CreateFolders(logFolder);
    fs::WriteFile(logFolder + "\\Uninst.isu");
    fs::WriteFile(logFolder + "\\setup.log");
    ASSERT_TRUE(fs::SetAttributes(logFolder + "\\setup.log", FILE_ATTRIBUTE_READONLY));
    world_.AddRegistration(simkeys::kSims, "Alarm", "{A}");
    world_.AddUninstallEntry("{A}", R"(C:\Sims\Alarm\Uninst.isu)", "Quenta SIM Alarm");
    reg::CreateKey(kMachine, "SOFTWARE\\Nortavo Inc.\\Quenta SIMAlarm");

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_FALSE(fs::Exists(logFolder));
    EXPECT_FALSE(reg::KeyExists(kMachine, "SOFTWARE\\Nortavo Inc.\\Quenta SIMAlarm"));
    EXPECT_FALSE(EntryExists("{A}"));
}

// Only the files directly in the log folder go; a folder below it stays, and
// so does the log folder then.
TEST_F(UninstallEntriesTest, LogFolderWithSubfolderKeepsIt) {
    const std::string logFolder = world_.root() + "\\Logs\\Alarm";
    fs::CreateFolders(logFolder + "\\Old");
    fs::WriteFile(logFolder + "\\Uninst.isu");
    fs::WriteFile(logFolder + "\\Old\\Uninst.isu");
    world_.AddRegistration(simkeys::kSims, "Alarm", "{A}");
    world_.AddUninstallEntry("{A}", (logFolder + "\\Uninst.isu").c_str(), nullptr);

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(fs::ListTree(logFolder), (std::vector<std::string>{"Old\\", "Old\\Uninst.isu"}));
    EXPECT_FALSE(EntryExists("{A}"));
}

// Without "LogFile" there is no folder step; the maker key and the entry go.
TEST_F(UninstallEntriesTest, MissingLogFileSkipsOnlyTheFolderStep) {
    world_.AddRegistration(simkeys::kSims, "Alarm", "{A}");
    world_.AddUninstallEntry("{A}", nullptr, "Alarm Viewer");
    reg::CreateKey(kMachine, "SOFTWARE\\Veltrane\\Alarm Viewer");
    const std::vector<std::string> filesBefore = fs::ListTree(world_.root());

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_FALSE(reg::KeyExists(kMachine, "SOFTWARE\\Veltrane\\Alarm Viewer"));
    EXPECT_FALSE(EntryExists("{A}"));
    EXPECT_EQ(fs::ListTree(world_.root()), filesBefore);
}

std::string ShellFolder(int csidl) {
    char path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : "";
}

struct LogFolderCase {
    const char* name;
    // Returns the folder that must stay untouched and sets up what the
    // entry's "LogFile" names.
    std::function<std::string(SimWorld&)> folder;
    std::function<std::string(const std::string& folder)> logFile;
};

std::string InFolder(const std::string& folder) { return folder + "\\Uninst.isu"; }

class LogFolderLeftAlone : public UninstallEntriesTest, public ::testing::WithParamInterface<LogFolderCase> {};

// A log folder that is empty or relative, a link, a drive root or one of the
// folders of the system and its users is never cleared, whatever "LogFile"
// says; the entry itself still goes.
TEST_P(LogFolderLeftAlone, KeepsItsFiles) {
    const LogFolderCase& tested = GetParam();
    const std::string folder = tested.folder(world_);
    ASSERT_FALSE(folder.empty()) << "the platform did not name the folder";
    const std::string canary = folder + "\\tarnvale-canary.txt";
    fs::CreateFolders(folder);
    fs::WriteFile(canary, "canary");
    world_.AddRegistration(simkeys::kSims, "Alarm", "{A}");
    world_.AddUninstallEntry("{A}", tested.logFile(folder).c_str(), nullptr);

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(fs::ReadFile(canary), "canary");
    EXPECT_FALSE(EntryExists("{A}"));
    fs::RemoveTree(canary);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogFolderLeftAlone,
    ::testing::Values(
        LogFolderCase{"BareFileNameInCurrentDirectory", [](SimWorld& world) { return world.currentFolder(); },
                      [](const std::string&) { return std::string("Uninst.isu"); }},
        LogFolderCase{"RelativeFolder", [](SimWorld& world) { return world.currentFolder() + "\\Logs"; },
                      [](const std::string&) { return std::string("Logs\\Uninst.isu"); }},
        LogFolderCase{"FolderOnCurrentDrive", [](SimWorld&) { return std::string("C:\\TarnvaleTest"); },
                      [](const std::string&) { return std::string("\\TarnvaleTest\\Uninst.isu"); }},
        LogFolderCase{"DriveRoot", [](SimWorld&) { return std::string("C:\\"); },
                      [](const std::string&) { return std::string("C:\\Uninst.isu"); }},
        LogFolderCase{"WindowsFolder", [](SimWorld&) { return fs::WindowsFolder(); }, InFolder},
        LogFolderCase{"WindowsFolderByAnotherSpelling", [](SimWorld&) { return fs::WindowsFolder(); },
                      [](const std::string& folder) {
                          return "C:\\TarnvaleTest\\..\\" + folder.substr(3) + "\\.\\Uninst.isu";
                      }},
        LogFolderCase{"SystemFolder", [](SimWorld&) { return ShellFolder(CSIDL_SYSTEM); }, InFolder},
        LogFolderCase{"ProgramFiles", [](SimWorld&) { return ShellFolder(CSIDL_PROGRAM_FILES); }, InFolder},
        LogFolderCase{"ProgramFilesX86", [](SimWorld&) { return ShellFolder(CSIDL_PROGRAM_FILESX86); }, InFolder},
        LogFolderCase{"ProgramData", [](SimWorld&) { return ShellFolder(CSIDL_COMMON_APPDATA); }, InFolder},
        LogFolderCase{"ProfilesFolder", [](SimWorld&) { return fs::ProfilesFolder(); }, InFolder},
        LogFolderCase{"UserProfile", [](SimWorld&) { return ShellFolder(CSIDL_PROFILE); }, InFolder},
        LogFolderCase{"OtherUsersProfile", [](SimWorld&) { return fs::ProfilesFolder() + "\\Public"; }, InFolder},
        LogFolderCase{"LinkedFolder",
                      [](SimWorld& world) {
                          EXPECT_TRUE(fs::CreateFolderLink(world.root() + "\\LinkedLogs", world.outsideFolder()));
                          return world.outsideFolder();
                      },
                      [](const std::string& folder) {
                          return folder.substr(0, folder.rfind('\\')) + "\\LinkedLogs\\Uninst.isu";
                      }}),
    [](const ::testing::TestParamInfo<LogFolderCase>& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace tarnvale::test
