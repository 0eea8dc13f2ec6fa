// Hostile registry data: one table of states, each run through
// CleanSIMInfoSilent of both forms with the whole machine compared before
// and after. Each case seeds what one SIM left behind with one value made
// hostile (a GUID, a "LogFile", a "DisplayName", a SIM name, the product
// folder) and states exactly what the run removes for a sane reading of that
// data; nothing else may change anywhere on the machine, and no window may
// appear. Each case runs as a plan first: the plan changes nothing, and
// lists exactly what the real run right after it removes. The real run's log
// names exactly what the guards refused, each with its reason, and what the
// platform would not delete; nothing else may be left alone without a word,
// nor anything refused that a case does not expect. The compact form reads no GUID, "LogFile" or "DisplayName": it
// removes the Uninstall entries whose names hold a SIM's name, nothing they
// name, so most of its outcomes are the SIM's own registration and files.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>
#include <utility>

#include "action_log_reader.h"
#include "common/unique_handle.h"
#include "library_form.h"
#include "machine_snapshot.h"
#include "plan_check.h"
#include "sim_world.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;

std::string Key(const std::string& path) { return MachineKey(path); }
std::string Registration(const std::string& name) { return std::string(simkeys::kSims) + "\\" + name; }
std::string Entry(const std::string& name) { return std::string(simkeys::kUninstall) + "\\" + name; }
std::string NortavoMaker(const std::string& name) { return std::string(simkeys::kNortavoMaker) + "\\" + name; }
std::string VeltraneMaker(const std::string& name) { return std::string(simkeys::kVeltraneMaker) + "\\" + name; }

// A line by which the log says why something was left alone: a guard's
// refusal, or a key or file the platform would not delete.
struct PassedBy {
    std::string kind;  // the line's opening words
    std::string path;  // compared without regard to case, as the platform names paths
    std::string tail;  // what follows the path: the registry view and the reason
};

constexpr const char* kPassedByKinds[] = {"folder refused by the folder guard", "key refused by the key guard",
                                          "key not deleted", "file not deleted"};

std::string ViewAndReason(const std::string& reason) { return std::string(" (") + ViewName() + "): " + reason; }

// A folder the folder guard refuses, by the path it is named by or, once it
// is held, by where it really is.
PassedBy FolderRefused(const std::string& path, const char* reason) {
    return {"folder refused by the folder guard", path, std::string(": ") + reason};
}
// A key below HKEY_LOCAL_MACHINE that the key guard refuses; the log names
// it as the library's view does (no WOW6432Node in the 32-bit view).
PassedBy KeyRefused(const std::string& path, const char* reason) {
    return {"key refused by the key guard", "HKLM\\" + path, ViewAndReason(reason)};
}
// A key below HKEY_CLASSES_ROOT that the key guard refuses.
PassedBy ClassesKeyRefused(const std::string& path, const char* reason) {
    return {"key refused by the key guard", "HKCR\\" + path, ViewAndReason(reason)};
}
// A key the platform would not delete: it still has subkeys.
PassedBy KeyNotDeleted(const std::string& path) {
    return {"key not deleted", "HKLM\\" + path,
            ViewAndReason("the platform refused it (subkeys left, or no right to delete it)")};
}

bool IsPassedBy(const std::string& action) {
    for (const char* kind : kPassedByKinds) {
        if (action.rfind(std::string(kind) + ": ", 0) == 0) return true;
    }
    return false;
}

bool Matches(const PassedBy& expected, const std::string& action) {
    const std::string opening = expected.kind + ": ";
    if (action.size() != opening.size() + expected.path.size() + expected.tail.size()) return false;
    if (action.compare(0, opening.size(), opening) != 0) return false;
    if (action.compare(action.size() - expected.tail.size(), std::string::npos, expected.tail) != 0) return false;
    const std::string path = action.substr(opening.size(), expected.path.size());
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.data(), static_cast<int>(path.size()),
                          expected.path.data(), static_cast<int>(expected.path.size())) == CSTR_EQUAL;
}

std::string Describe(const PassedBy& expected) { return expected.kind + ": " + expected.path + expected.tail; }

// Every difference between the pass-by lines of a log and those expected,
// one for one: an expected line missing (or with another reason), and a line
// that no expectation takes. Empty when they agree.
std::string PassedByDifferences(const std::vector<LogLine>& lines, std::vector<PassedBy> expected) {
    std::string differences;
    for (const LogLine& line : lines) {
        if (!IsPassedBy(line.action)) continue;
        const auto match = std::find_if(expected.begin(), expected.end(),
                                        [&](const PassedBy& wanted) { return Matches(wanted, line.action); });
        if (match == expected.end()) {
            differences += "unexpected: " + line.action + "\n";
        } else {
            expected.erase(match);
        }
    }
    for (const PassedBy& missing : expected) differences += "missing: " + Describe(missing) + "\n";
    return differences;
}

// What one run must do: its result, exactly what it removes, as
// machine-snapshot entries ("HKLM\key\", "C:\folder\", "C:\file"), and
// exactly what its log says it left alone and why.
struct Outcome {
    Outcome() = default;
    Outcome(int runResult, std::vector<std::string> removedEntries)
        : result(runResult), removed(std::move(removedEntries)) {}

    int result = 1;
    std::vector<std::string> removed;
    std::vector<PassedBy> passedBy;

    void Add(const std::vector<std::string>& entries) { removed.insert(removed.end(), entries.begin(), entries.end()); }
    // What only the full form removes.
    void AddFull(const LibraryForm& form, const std::vector<std::string>& entries) {
        if (!form.compact) Add(entries);
    }
    // What only the full form refuses: the compact form reads no "LogFile"
    // or "DisplayName".
    void PassByFull(const LibraryForm& form, const std::vector<PassedBy>& lines) {
        if (!form.compact) passedBy.insert(passedBy.end(), lines.begin(), lines.end());
    }
};

// A log folder below the test root holding the entry's log file and a note;
// the run clears it and, empty then, removes it.
std::string SeedLogFolder(SimWorld& world, const std::string& name) {
    const std::string folder = world.root() + "\\Logs\\" + name;
    fs::CreateFolders(folder);
    fs::WriteFile(folder + "\\Uninst.isu", "log");
    fs::WriteFile(folder + "\\notes.txt", "notes");
    return folder + "\\";
}

// A maker key with a value and a subkey of its own.
void SeedMakerKey(const std::string& path) {
    reg::SetString(kMachine, path, "InstallDir", "C:\\Somewhere");
    reg::SetString(kMachine, path + "\\Options", "Language", "1033");
}

// An Uninstall entry as a SIM setup leaves it: "LogFile" in a log folder of
// its own, "DisplayName", and the maker key that the name leads to. Returns
// what removing the entry takes with it: the entry first, then its log
// folder and maker key.
std::vector<std::string> SeedSimEntry(SimWorld& world, const std::string& name, const std::string& displayName,
                                      const std::string& makerKey) {
    static int entriesSeeded = 0;
    const std::string logFolder = SeedLogFolder(world, "Entry" + std::to_string(++entriesSeeded));
    world.AddUninstallEntry(name, (logFolder + "Uninst.isu").c_str(), displayName.c_str());
    SeedMakerKey(makerKey);
    return {Key(Entry(name)), logFolder, Key(makerKey)};
}

// The SIM Alarm as its setup left it, apart from what a case adds: the
// product registered at its folder, the registration below SIMS (without a
// GUID value), the SIM's folder below "Sims", its uninstall file and the
// shared uninstall library; the product's own program beside them stays.
Outcome SeedAlarm(SimWorld& world) {
    world.RegisterProduct();
    world.AddRegistration(simkeys::kSims, "Alarm");
    world.AddProductFiles({"Sims\\Alarm\\Alarm.dll", "Sims\\Alarm\\Alarm.cfg", "AlarmUninst.isu", "SIMUninstall.dll",
                           "Quenta.exe", "Bin\\Runtime.dll"});
    const std::string product = world.productFolder();
    return Outcome{1,
                   {Key(Registration("Alarm")), product + "\\Sims\\", product + "\\AlarmUninst.isu",
                    product + "\\SIMUninstall.dll"}};
}

// The entry alone, without what it names: what the compact form removes of
// an entry whose name holds a SIM's name.
std::vector<std::string> EntryAlone(const std::vector<std::string>& removal) { return {removal.front()}; }

// Alarm with the GUID {A} and its entry {A}, whose "LogFile" or
// "DisplayName" a case sets; the full form always removes the entry. The
// compact form looks nothing up by GUID: {A} holds no SIM name and stays
// with everything it names.
Outcome SeedAlarmWithEntry(SimWorld& world, const LibraryForm& form, const char* logFile, const char* displayName) {
    Outcome outcome = SeedAlarm(world);
    reg::SetString(kMachine, Registration("Alarm"), "GUID", "{A}");
    world.AddUninstallEntry("{A}", logFile, displayName);
    outcome.AddFull(form, {Key(Entry("{A}"))});
    return outcome;
}

// Alarm whose entry {A} has a hostile "LogFile" and a sane display name;
// the full form refuses what `refused` says.
Outcome SeedAlarmWithLogFile(SimWorld& world, const LibraryForm& form, const std::string& logFile,
                             const std::vector<PassedBy>& refused = {}) {
    Outcome outcome = SeedAlarmWithEntry(world, form, logFile.c_str(), "Borelle SIM Alarm");
    SeedMakerKey(NortavoMaker("Borelle SIM Alarm"));
    outcome.AddFull(form, {Key(NortavoMaker("Borelle SIM Alarm"))});
    outcome.PassByFull(form, refused);
    return outcome;
}

// Alarm whose entry {A} has a sane log folder and a hostile "DisplayName";
// the full form refuses what `refused` says.
Outcome SeedAlarmWithDisplayName(SimWorld& world, const LibraryForm& form, const std::string& displayName,
                                 const std::vector<PassedBy>& refused = {}) {
    const std::string logFolder = SeedLogFolder(world, "Alarm");
    Outcome outcome = SeedAlarmWithEntry(world, form, (logFolder + "Uninst.isu").c_str(), displayName.c_str());
    outcome.AddFull(form, {logFolder});
    outcome.PassByFull(form, refused);
    return outcome;
}

// Writes the registration Alarm's "GUID" value as these exact bytes.
void SetRawGuid(DWORD type, const std::string& bytes) {
    reg::SetRaw(kMachine, Registration("Alarm"), "GUID", type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

// A display name of exactly `length` characters that makes a two-level
// maker key: "Borelle SIM Suite\" and a long last name.
std::string LongDisplayName(size_t length) {
    const std::string first = "Borelle SIM Suite\\";
    return first + std::string(length - first.size(), 'D');
}

// A file in the test root, the folder above the world's root: two levels
// above the product folder.
std::string AboveTheWorldCanary() { return std::string(fs::kTestRoot) + "\\tarnvale-canary.txt"; }

// ---- registry links ----
// The canary behind every registry link of the cases: a tree with the values
// a registration, an entry and the product key would carry (a GUID naming a
// real entry, a "LogFile" in a folder of files, a "DisplayName" naming a
// maker key, a product folder with a SIM folder) and subkeys of the names the
// cases look up. Nothing of it, and nothing it names, may change: the
// snapshot compares every key and value of it.
constexpr char kVictim[] = R"(SOFTWARE\TarnvaleVictim)";
constexpr char kClassesVictim[] = R"(TarnvaleVictim)";  // below HKEY_CLASSES_ROOT
constexpr char kClassesVictimLink[] = R"(\Registry\Machine\SOFTWARE\Classes\TarnvaleVictim)";

void SeedVictim(SimWorld& world) {
    const std::string logFolder = SeedLogFolder(world, "Victim");
    const std::string victimProduct = world.root() + "\\VictimProduct";
    fs::CreateFolders(victimProduct + "\\Sims\\Alarm");
    fs::WriteFile(victimProduct + "\\Sims\\Alarm\\victim.dll", "victim");
    for (const std::string& path : {std::string(kVictim), std::string(kVictim) + "\\Alarm",
                                    std::string(kVictim) + "\\Entry", std::string(kVictim) + "\\Alarm Tools",
                                    std::string(kVictim) + "\\Borelle SIM Alarm", std::string(kVictim) + "\\Canary",
                                    std::string(kVictim) + "\\Sub\\Deeper"}) {
        reg::SetString(kMachine, path, "GUID", "{V}");
        reg::SetString(kMachine, path, "LogFile", logFolder + "Uninst.isu");
        reg::SetString(kMachine, path, "DisplayName", "Borelle SIM Victim");
    }
    world.AddUninstallEntry("{V}", (logFolder + "Uninst.isu").c_str(), "Borelle SIM Victim");
    reg::SetString(HKEY_CLASSES_ROOT, kClassesVictim, "", victimProduct);
    reg::SetString(HKEY_CLASSES_ROOT, std::string(kClassesVictim) + "\\BASPATH", "", victimProduct);
}

// A registry link at `path` below HKEY_LOCAL_MACHINE to the canary tree.
// The link's target is the registry's own name of the canary tree, in the
// view this process seeded it (below WOW6432Node for a 32-bit process).
void LinkToVictim(const std::string& path) {
    const std::string key = MachineKey(kVictim);  // "HKLM\...\"
    reg::CreateLink(kMachine, path, "\\Registry\\Machine\\" + key.substr(5, key.size() - 6));
}

// Alarm as SeedAlarm leaves it, with the canary tree and the link at `path`.
Outcome SeedAlarmWithLink(SimWorld& world, const std::string& path) {
    Outcome outcome = SeedAlarm(world);
    SeedVictim(world);
    LinkToVictim(path);
    return outcome;
}

// The product found by its folder, with a SIM folder, but no SIM
// registered: what a run does when the SIMS key cannot be used.
Outcome SeedProductWithoutRegistrations(SimWorld& world) {
    world.RegisterProduct();
    world.AddProductFiles({"Sims\\Alarm\\Alarm.dll", "AlarmUninst.isu", "SIMUninstall.dll", "Quenta.exe"});
    return Outcome{1, {world.productFolder() + "\\Sims\\"}};
}

// A drive letter that a case maps for the run; unmapped when the case ends.
std::unique_ptr<ScopedDriveLetter> g_mappedDrive;

// A user's profile listed in the machine's profile list (the 64-bit view,
// which both views of Wine share) for as long as it lives.
class ScopedListedProfile {
public:
    explicit ScopedListedProfile(const std::string& folder) {
        UniqueKey key;
        if (RegCreateKeyExA(kMachine, kKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(),
                            nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(key.get(), "ProfileImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                           static_cast<DWORD>(folder.size() + 1));
        }
    }
    ~ScopedListedProfile() { RegDeleteKeyExA(kMachine, kKey, KEY_WOW64_64KEY, 0); }
    ScopedListedProfile(const ScopedListedProfile&) = delete;
    ScopedListedProfile& operator=(const ScopedListedProfile&) = delete;

private:
    static constexpr char kKey[] =
        R"(SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-1000-2000-3000-1500)";
};
std::unique_ptr<ScopedListedProfile> g_listedProfile;
// A file at the root of drive C:, which a cleared root would lose.
constexpr char kDriveRootCanary[] = R"(C:\TarnvaleRootCanary.txt)";

struct HostileCase {
    const char* name;
    std::function<Outcome(SimWorld&, const LibraryForm&)> seed;
};

const HostileCase kCases[] = {
    // ---- the registration's "GUID" value ----
    {"GuidEmptyUsesTheRegistrationName",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarm(world);
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "");
         const auto entry =
             SeedSimEntry(world, "Borelle SIM Alarm", "Borelle SIM Alarm", NortavoMaker("Borelle SIM Alarm"));
         outcome.Add(form.compact ? EntryAlone(entry) : entry);  // compact: its name holds "Alarm"
         return outcome;
     }},
    // A key path with an empty component names no entry, so neither the
    // Uninstall key nor an entry named like the bare prefix can go.
    {"GuidBackslash",
     [](SimWorld& world, const LibraryForm&) {
         Outcome outcome = SeedAlarm(world);
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "\\");
         SeedSimEntry(world, "Borelle SIM ", "Borelle SIM Prefix", NortavoMaker("Borelle SIM Prefix"));
         return outcome;
     }},
    {"GuidTwoBackslashes",
     [](SimWorld& world, const LibraryForm&) {
         Outcome outcome = SeedAlarm(world);
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "\\\\");
         SeedSimEntry(world, "Borelle SIM ", "Borelle SIM Prefix", NortavoMaker("Borelle SIM Prefix"));
         return outcome;
     }},
    // ".." is a plain key name to the registry: no key above the Uninstall key is reached.
    {"GuidDotDotPath",
     [](SimWorld& world, const LibraryForm&) {
         Outcome outcome = SeedAlarm(world);
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "..\\..");
         return outcome;
     }},
    // Longer than the value buffer: counts as empty, so the name is looked up.
    {"Guid300Characters",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarm(world);
         reg::SetString(kMachine, Registration("Alarm"), "GUID", std::string(300, 'G'));
         const auto entry = SeedSimEntry(world, "Alarm", "Quenta SIM Alarm", NortavoMaker("Quenta SIMAlarm"));
         outcome.Add(form.compact ? EntryAlone(entry) : entry);
         return outcome;
     }},
    // The entry is looked up by the text alone: a GUID that names another
    // product's entry removes that entry and clears its log folder, and
    // nothing more of that product (its program folder, its own keys).
    {"GuidNamingAnotherProductsEntry",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarm(world);
         const std::string code = "{7D3F1A62-5C0B-4E8D-9F21-A6B4C3D2E1F0}";
         reg::SetString(kMachine, Registration("Alarm"), "GUID", code);
         const std::string acme = world.root() + "\\Acme";
         fs::CreateFolders(acme + "\\Logs");
         fs::WriteFile(acme + "\\Logs\\uninst.log", "log");
         fs::CreateFolders(acme + "\\Bin");
         fs::WriteFile(acme + "\\Bin\\viewer.exe", "program");
         world.AddUninstallEntry(code, (acme + "\\Logs\\uninst.log").c_str(), "Acme Viewer");
         reg::SetString(kMachine, "SOFTWARE\\Acme\\Viewer", "Path", acme + "\\Bin");
         outcome.AddFull(form, {Key(Entry(code)), acme + "\\Logs\\"});
         return outcome;
     }},
    // Not strings: their bytes are text up to the first NUL.
    {"GuidDwordReadAsText",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarm(world);
         reg::SetDword(kMachine, Registration("Alarm"), "GUID", 0x00004241);  // "AB"
         outcome.AddFull(form, SeedSimEntry(world, "AB", "Borelle SIM AB", NortavoMaker("Borelle SIM AB")));
         return outcome;
     }},
    {"GuidBinaryWithoutNul",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarm(world);
         SetRawGuid(REG_BINARY, "{B1}");
         outcome.AddFull(form, SeedSimEntry(world, "{B1}", "Borelle SIM B1", NortavoMaker("Borelle SIM B1")));
         return outcome;
     }},
    {"GuidMultiStringUsesTheFirst",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarm(world);
         SetRawGuid(REG_MULTI_SZ, std::string("{C1}\0{C2}\0\0", 11));
         outcome.AddFull(form, SeedSimEntry(world, "{C1}", "Borelle SIM C1", NortavoMaker("Borelle SIM C1")));
         SeedSimEntry(world, "{C2}", "Borelle SIM C2", NortavoMaker("Borelle SIM C2"));
         return outcome;
     }},

    // ---- the entry's "LogFile" value ----
    {"LogFileAtTheDriveRoot",
     [](SimWorld& world, const LibraryForm& form) {
         return SeedAlarmWithLogFile(world, form, "C:\\Uninst.isu", {FolderRefused("C:\\", "root")});
     }},
    // Named by where it really is: the platform's spelling of the Windows folder.
    {"LogFileInTheWindowsFolder",
     [](SimWorld& world, const LibraryForm& form) {
         return SeedAlarmWithLogFile(world, form, "C:\\Windows\\x.log",
                                     {FolderRefused(fs::WindowsFolder(), "protected folder")});
     }},
    // A folder that is not there is nothing to refuse.
    {"LogFileOnAShare",
     [](SimWorld& world, const LibraryForm& form) {
         return SeedAlarmWithLogFile(world, form, "\\\\tarnvale-nohost\\logs\\Alarm\\Uninst.isu");
     }},
    {"LogFileRelative",
     [](SimWorld& world, const LibraryForm& form) {
         fs::CreateFolders(world.currentFolder() + "\\Logs");
         fs::WriteFile(world.currentFolder() + "\\Logs\\Uninst.isu", "log");
         return SeedAlarmWithLogFile(world, form, "Logs\\Uninst.isu", {FolderRefused("Logs\\", "relative path")});
     }},
    {"LogFileBareName",
     [](SimWorld& world, const LibraryForm& form) {
         fs::WriteFile(world.currentFolder() + "\\Uninst.isu", "log");
         // A bare file name has no folder: the folder named is the empty one.
         return SeedAlarmWithLogFile(world, form, "Uninst.isu", {FolderRefused("", "empty path")});
     }},
    // A SIM's log in the product folder does not make the product's own
    // files part of the SIM: the product folder is never cleared.
    {"LogFileInTheProductFolder",
     [](SimWorld& world, const LibraryForm& form) {
         return SeedAlarmWithLogFile(world, form, world.productFolder() + "\\AlarmUninst.isu",
                                     {FolderRefused(world.productFolder(), "protected folder")});
     }},
    // Nor is a folder above the product folder, here two levels up and
    // named through "..": the file there stays.
    {"LogFileTwoFoldersAboveTheProductFolder",
     [](SimWorld& world, const LibraryForm& form) {
         fs::WriteFile(AboveTheWorldCanary(), "canary");
         return SeedAlarmWithLogFile(world, form, world.productFolder() + "\\..\\..\\Uninst.isu",
                                     {FolderRefused(fs::kTestRoot, "protected folder")});
     }},
    // The log folder is the link itself: never entered.
    {"LogFileInALinkedFolder",
     [](SimWorld& world, const LibraryForm& form) {
         const std::string target = world.root() + "\\elsewhere";
         fs::CreateFolders(target);
         fs::WriteFile(target + "\\Uninst.isu", "log");
         EXPECT_TRUE(fs::CreateFolderLink(world.root() + "\\LinkedLogs", target));
         return SeedAlarmWithLogFile(world, form, world.root() + "\\LinkedLogs\\Uninst.isu",
                                     {FolderRefused(world.root() + "\\LinkedLogs", "reparse point")});
     }},
    // Through a link on the way, the folder reached is judged by where it
    // really is: here a user's profile folder, never cleared.
    {"LogFileThroughALinkIntoAProfile",
     [](SimWorld& world, const LibraryForm& form) {
         const std::string profiles = fs::ProfilesFolder();
         EXPECT_FALSE(profiles.empty());
         fs::WriteFile(profiles + "\\Public\\tarnvale-canary.txt", "canary");
         EXPECT_TRUE(fs::CreateFolderLink(world.root() + "\\ProfilesLink", profiles));
         return SeedAlarmWithLogFile(world, form, world.root() + "\\ProfilesLink\\Public\\Uninst.isu",
                                     {FolderRefused(profiles + "\\Public", "protected folder")});
     }},
    // A profile that lives outside the profiles folder, known by the
    // machine's profile list alone.
    {"LogFileInAProfileOutsideTheProfilesFolder",
     [](SimWorld& world, const LibraryForm& form) {
         const std::string profile = world.root() + "\\Operator";
         fs::CreateFolders(profile);
         fs::WriteFile(profile + "\\Uninst.isu", "log");
         fs::WriteFile(profile + "\\ntuser.dat", "profile");
         g_listedProfile = std::make_unique<ScopedListedProfile>(profile);
         return SeedAlarmWithLogFile(world, form, profile + "\\Uninst.isu",
                                     {FolderRefused(profile, "protected folder")});
     }},
    // ... and an ordinary folder reached through a link is the log folder
    // that the value names: it is cleared, the link and the rest stay.
    {"LogFileThroughALinkIntoAnOrdinaryFolder",
     [](SimWorld& world, const LibraryForm& form) {
         const std::string target = world.root() + "\\elsewhere";
         fs::CreateFolders(target + "\\Alarm");
         fs::WriteFile(target + "\\Alarm\\Uninst.isu", "log");
         fs::WriteFile(target + "\\kept.txt", "kept");
         EXPECT_TRUE(fs::CreateFolderLink(world.root() + "\\LinkedLogs", target));
         Outcome outcome = SeedAlarmWithLogFile(world, form, world.root() + "\\LinkedLogs\\Alarm\\Uninst.isu");
         outcome.AddFull(form, {target + "\\Alarm\\"});
         return outcome;
     }},

    // ---- the entry's "DisplayName" value ----
    // Maker key paths with an empty component are refused: the maker's own
    // key and the keys beside it stay.
    {"DisplayNameBackslash",
     [](SimWorld& world, const LibraryForm& form) {
         return SeedAlarmWithDisplayName(world, form, "\\",
                                         {KeyRefused(VeltraneMaker("\\"), "empty path component")});
     }},
    {"DisplayNameTrailingBackslash",
     [](SimWorld& world, const LibraryForm& form) {
         SeedMakerKey(VeltraneMaker("x"));
         return SeedAlarmWithDisplayName(world, form, "x\\",
                                         {KeyRefused(VeltraneMaker("x\\"), "empty path component")});
     }},
    // ".." is a plain key name: the key of that name below the maker's key
    // is the one named, not the key above it.
    {"DisplayNameDotDot",
     [](SimWorld& world, const LibraryForm& form) {
         SeedMakerKey(VeltraneMaker(".."));
         Outcome outcome = SeedAlarmWithDisplayName(world, form, "..");
         outcome.AddFull(form, {Key(VeltraneMaker(".."))});
         return outcome;
     }},
    {"DisplayName259CharactersReadWhole",
     [](SimWorld& world, const LibraryForm& form) {
         const std::string maker = NortavoMaker(LongDisplayName(259));
         reg::CreateKey(kMachine, maker);
         Outcome outcome = SeedAlarmWithDisplayName(world, form, LongDisplayName(259));
         outcome.AddFull(form, {Key(maker)});
         return outcome;
     }},
    {"DisplayName260CharactersNotRead",
     [](SimWorld& world, const LibraryForm& form) {
         reg::CreateKey(kMachine, NortavoMaker(LongDisplayName(260)));
         return SeedAlarmWithDisplayName(world, form, LongDisplayName(260));
     }},

    // ---- SIM names ----
    {"SimNameWithBlanks",
     [](SimWorld& world, const LibraryForm& form) {
         world.RegisterProduct();
         world.AddRegistration(simkeys::kSims, "Alarm Server");
         world.AddProductFiles({"Sims\\Alarm Server\\Alarm.dll", "Alarm ServerUninst.isu", "SIMUninstall.dll",
                                "Quenta.exe"});
         const std::string product = world.productFolder();
         Outcome outcome{1,
                         {Key(Registration("Alarm Server")), product + "\\Sims\\",
                          product + "\\Alarm ServerUninst.isu", product + "\\SIMUninstall.dll"}};
         const auto entry = SeedSimEntry(world, "Borelle SIM Alarm Server", "Borelle SIM Alarm Server",
                                         NortavoMaker("Borelle SIM Alarm Server"));
         outcome.Add(form.compact ? EntryAlone(entry) : entry);
         return outcome;
     }},
    // Dots are plain characters in key and file names: "..Uninst.isu" is a
    // file in the product folder like any other.
    {"SimNamesOfDots",
     [](SimWorld& world, const LibraryForm& form) {
         world.RegisterProduct();
         Outcome outcome;
         for (const char* name : {".", "..", "...", "a.b."}) {
             world.AddRegistration(simkeys::kSims, name);
             world.AddProductFiles({std::string(name) + "Uninst.isu"});
             outcome.Add({Key(Registration(name)), world.productFolder() + "\\" + name + "Uninst.isu"});
         }
         world.AddProductFiles({"SIMUninstall.dll", "Quenta.exe"});
         outcome.Add({world.productFolder() + "\\SIMUninstall.dll"});
         // The compact form removes every entry whose name holds ".": this one.
         const auto entry = SeedSimEntry(world, "Borelle SIM ..", "Borelle SIM Dots", NortavoMaker("Borelle SIM Dots"));
         outcome.Add(form.compact ? EntryAlone(entry) : entry);
         return outcome;
     }},
    // The longest name that fits the name buffer: listed and removed, its
    // folder below "Sims" cleared although the path is longer than MAX_PATH.
    {"SimName254Characters",
     [](SimWorld& world, const LibraryForm&) {
         Outcome outcome = SeedAlarm(world);
         const std::string name(254, 'S');
         world.AddRegistration(simkeys::kSims, name);
         world.AddProductFiles({"Sims\\" + name + "\\Long.dll"});
         outcome.Add({Key(Registration(name))});
         return outcome;
     }},

    // ---- the product folder value ----
    // Names no fixed place: no file step runs, the Uninstall entries still go.
    {"ProductFolderEmpty",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarm(world);
         world.RegisterProductFolder("");
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "{A}");
         outcome.removed = {Key(Registration("Alarm"))};
         outcome.AddFull(form, SeedSimEntry(world, "{A}", "Borelle SIM Alarm", NortavoMaker("Borelle SIM Alarm")));
         return outcome;
     }},
    {"ProductFolderBackslash",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarm(world);
         world.RegisterProductFolder("\\");
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "{A}");
         outcome.removed = {Key(Registration("Alarm"))};
         outcome.AddFull(form, SeedSimEntry(world, "{A}", "Borelle SIM Alarm", NortavoMaker("Borelle SIM Alarm")));
         return outcome;
     }},
    // A product at the drive root has its SIM folders in "C:\Sims" and its
    // shared uninstaller in "C:\SIMUninstall.dll": those go (the world
    // planted them as canaries), and nothing else of the drive root.
    {"ProductFolderDriveRoot",
     [](SimWorld& world, const LibraryForm&) {
         world.RegisterProductFolder("C:\\");
         world.AddRegistration(simkeys::kSims, "Alpha");
         for (const char* canary : {"C:\\Sims\\Alpha\\canary.txt", "C:\\AlphaUninst.isu", "C:\\SIMUninstall.dll"}) {
             world.ReleaseFileCanary(canary);
         }
         return Outcome{1,
                        {Key(Registration("Alpha")), "C:\\Sims\\", "C:\\AlphaUninst.isu", "C:\\SIMUninstall.dll"}};
     }},
    {"ProductFolderWithTrailingBackslash",
     [](SimWorld& world, const LibraryForm&) {
         Outcome outcome = SeedAlarm(world);
         world.RegisterProductFolder(world.productFolder() + "\\");
         return outcome;
     }},
    // ---- registry links: nothing is read, walked or deleted through one ----
    // A registration that is a link goes as the link; nothing is read
    // through it (its target's GUID names a real entry).
    {"LinkAsRegistration",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarmWithLink(world, Registration("Evil"));
         outcome.Add({Key(Registration("Evil"))});
         outcome.PassByFull(form, {KeyRefused(Registration("Evil"), "registry link")});  // read for its GUID
         return outcome;
     }},
    {"LinkAsDsimsRegistration",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarmWithLink(world, std::string(simkeys::kDsims) + "\\Evil");
         outcome.AddFull(form, {Key(std::string(simkeys::kDsims) + "\\Evil")});  // the compact form reads no DSIMS
         outcome.PassByFull(form, {KeyRefused(std::string(simkeys::kDsims) + "\\Evil", "registry link")});
         return outcome;
     }},
    // A subkey of a registration that is a link: the registration's tree
    // goes, the link as the link, its target stays.
    {"LinkBelowARegistration",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarmWithLink(world, Registration("Alarm") + "\\Extra");
         // The compact form deletes only registrations without subkeys.
         if (form.compact) {
             outcome.removed.erase(outcome.removed.begin());
             outcome.passedBy = {KeyNotDeleted(Registration("Alarm"))};
         }
         return outcome;
     }},
    // The SIMS and DSIMS keys as links: no registration is listed through them.
    {"SimsKeyIsALink",
     [](SimWorld& world, const LibraryForm&) {
         Outcome outcome = SeedProductWithoutRegistrations(world);
         SeedVictim(world);
         reg::CreateKey(kMachine, simkeys::kBorelle);
         LinkToVictim(simkeys::kSims);
         outcome.passedBy = {KeyRefused(simkeys::kSims, "registry link")};
         return outcome;
     }},
    {"DsimsKeyIsALink",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarmWithLink(world, simkeys::kDsims);
         outcome.PassByFull(form, {KeyRefused(simkeys::kDsims, "registry link")});
         return outcome;
     }},
    // An Uninstall entry that is a link goes as the link; its target's
    // "LogFile" and "DisplayName" are not read.
    {"LinkAsUninstallEntry",
     [](SimWorld& world, const LibraryForm& form) {
         world.TrackUninstallEntry("Borelle SIM Alarm");  // before the link is made: tracking clears the key
         Outcome outcome = SeedAlarmWithLink(world, Entry("Borelle SIM Alarm"));
         outcome.Add({Key(Entry("Borelle SIM Alarm"))});  // the compact form: its name holds "Alarm"
         outcome.PassByFull(form, {KeyRefused(Entry("Borelle SIM Alarm"), "registry link")});  // not read
         return outcome;
     }},
    // A link on the way of an entry's path of several components.
    {"LinkOnTheWayToAnUninstallEntry",
     [](SimWorld& world, const LibraryForm& form) {
         world.TrackUninstallEntry("Way");  // before the link is made: tracking clears the key
         Outcome outcome = SeedAlarmWithLink(world, Entry("Way"));
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "Way\\Entry");
         outcome.PassByFull(form, {KeyRefused(Entry("Way\\Entry"), "registry link on the way")});
         return outcome;
     }},
    // Maker keys: the key itself as a link goes as the link; a link on the
    // way (a maker root, a component of a name with several) stops the
    // deletion. Only the full form reads display names.
    {"LinkAsMakerKey",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarmWithLink(world, NortavoMaker("Borelle SIM Alarm"));
         const std::string logFolder = SeedLogFolder(world, "Alarm");
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "{A}");
         world.AddUninstallEntry("{A}", (logFolder + "Uninst.isu").c_str(), "Borelle SIM Alarm");
         outcome.AddFull(form, {Key(Entry("{A}")), logFolder, Key(NortavoMaker("Borelle SIM Alarm"))});
         return outcome;
     }},
    {"NortavoMakerRootIsALink",
     [](SimWorld& world, const LibraryForm& form) {
         // The world's canary below the maker root is then the one of the
         // canary tree, reached through the link.
         reg::DeleteTree(kMachine, simkeys::kNortavoMaker);
         reg::SetString(kMachine, std::string(kVictim) + "\\Canary", "Canary", "canary");
         Outcome outcome = SeedAlarmWithLink(world, simkeys::kNortavoMaker);
         const std::string logFolder = SeedLogFolder(world, "Alarm");
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "{A}");
         world.AddUninstallEntry("{A}", (logFolder + "Uninst.isu").c_str(), "Borelle SIM Alarm");  // -> ...\Alarm
         outcome.AddFull(form, {Key(Entry("{A}")), logFolder});
         outcome.PassByFull(form, {KeyRefused(NortavoMaker("Borelle SIM Alarm"), "registry link on the way")});
         return outcome;
     }},
    {"VeltraneMakerRootIsALink",
     [](SimWorld& world, const LibraryForm& form) {
         // The world's canary below the maker root is then the one of the
         // canary tree, reached through the link.
         reg::DeleteTree(kMachine, simkeys::kVeltraneMaker);
         reg::SetString(kMachine, std::string(kVictim) + "\\Canary", "Canary", "canary");
         Outcome outcome = SeedAlarmWithLink(world, simkeys::kVeltraneMaker);
         const std::string logFolder = SeedLogFolder(world, "Alarm");
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "{A}");
         world.AddUninstallEntry("{A}", (logFolder + "Uninst.isu").c_str(), "Alarm Tools");
         outcome.AddFull(form, {Key(Entry("{A}")), logFolder});
         outcome.PassByFull(form, {KeyRefused(VeltraneMaker("Alarm Tools"), "registry link on the way")});
         return outcome;
     }},
    {"LinkOnTheWayToAMakerKey",
     [](SimWorld& world, const LibraryForm& form) {
         Outcome outcome = SeedAlarmWithLink(world, NortavoMaker("Borelle SIM Suite"));
         const std::string logFolder = SeedLogFolder(world, "Alarm");
         reg::SetString(kMachine, Registration("Alarm"), "GUID", "{A}");
         world.AddUninstallEntry("{A}", (logFolder + "Uninst.isu").c_str(), "Borelle SIM Suite\\Alarm");
         outcome.AddFull(form, {Key(Entry("{A}")), logFolder});
         outcome.PassByFull(form, {KeyRefused(NortavoMaker("Borelle SIM Suite\\Alarm"), "registry link on the way")});
         return outcome;
     }},
    // The product key and its BASPATH key below HKEY_CLASSES_ROOT as links:
    // the product folder is not read through them, so it is not found.
    {"ProductKeyIsALink",
     [](SimWorld& world, const LibraryForm& form) {
         SeedAlarm(world);
         SeedVictim(world);
         reg::DeleteTree(HKEY_CLASSES_ROOT, simkeys::kProduct);
         reg::CreateLink(HKEY_CLASSES_ROOT, simkeys::kProduct, kClassesVictimLink);
         // The full form deletes the registrations before it looks for the product.
         Outcome outcome{0, {}};
         outcome.AddFull(form, {Key(Registration("Alarm"))});
         outcome.passedBy = {ClassesKeyRefused(simkeys::kProduct, "registry link")};
         return outcome;
     }},
    {"BaspathKeyIsALink",
     [](SimWorld& world, const LibraryForm& form) {
         SeedAlarm(world);
         SeedVictim(world);
         reg::DeleteTree(HKEY_CLASSES_ROOT, simkeys::kProductFolder);
         reg::CreateLink(HKEY_CLASSES_ROOT, simkeys::kProductFolder,
                         std::string(kClassesVictimLink) + "\\BASPATH");
         Outcome outcome{0, {}};
         outcome.AddFull(form, {Key(Registration("Alarm"))});
         outcome.passedBy = {ClassesKeyRefused(simkeys::kProductFolder, "registry link")};
         return outcome;
     }},
    // ---- roots that hold no product folder: the root rule alone ----
    // A drive letter that stands for a folder: its root is a root as named.
    {"LogFileAtTheRootOfAMappedDrive",
     [](SimWorld& world, const LibraryForm& form) {
         // Outside the world, and never removed while the suite runs: Wine
         // remembers a drive's root folder for a moment after the drive is
         // gone, by its inode, and a new folder of the next case that got
         // the same inode would pass for that drive's root.
         const std::string folder = std::string(fs::kTestRoot) + "\\MappedDrive";
         fs::CreateFolders(folder);
         fs::WriteFile(folder + "\\Uninst.isu", "log");
         fs::WriteFile(folder + "\\data.txt", "data");
         g_mappedDrive = std::make_unique<ScopedDriveLetter>('T', folder);
         EXPECT_TRUE(g_mappedDrive->mapped()) << "cannot map T: to " << folder;
         return SeedAlarmWithLogFile(world, form, "T:\\Uninst.isu", {FolderRefused("T:\\", "root")});
     }},
    // The volume of drive C: by its volume GUID path, and by its device
    // name below GLOBALROOT: the forms a final path takes for a volume
    // without a drive letter. Neither is the folder above the product.
    {"LogFileAtAVolumeRoot",
     [](SimWorld& world, const LibraryForm& form) {
         wchar_t volume[MAX_PATH] = {};
         EXPECT_TRUE(GetVolumeNameForVolumeMountPointW(L"C:\\", volume, MAX_PATH));
         fs::WriteFile(kDriveRootCanary, "canary");
         const std::wstring wide = volume;
         const std::string root(wide.begin(), wide.end());  // "\\?\Volume{...}\"
         return SeedAlarmWithLogFile(world, form, root + "Uninst.isu", {FolderRefused(root, "root")});
     }},
    {"LogFileAtADeviceRoot",
     [](SimWorld& world, const LibraryForm& form) {
         char device[MAX_PATH] = {};
         EXPECT_NE(QueryDosDeviceA("C:", device, MAX_PATH), 0u);
         fs::WriteFile(kDriveRootCanary, "canary");
         const std::string root = std::string("\\\\?\\GLOBALROOT") + device + "\\";
         return SeedAlarmWithLogFile(world, form, root + "Uninst.isu", {FolderRefused(root, "root")});
     }},
};

// Failure messages name the case, not its bytes.
void PrintTo(const HostileCase& tested, std::ostream* out) { *out << tested.name; }

using HostileParam = std::tuple<LibraryForm, HostileCase>;

class HostileData : public ::testing::TestWithParam<HostileParam> {
protected:
    void TearDown() override {
        EXPECT_EQ(world_.DamagedCanaries(), "") << "canaries damaged by the run";
        fs::RemoveTree(fs::ProfilesFolder() + "\\Public\\tarnvale-canary.txt");
        fs::RemoveTree(AboveTheWorldCanary());
        reg::DeleteTree(kMachine, "SOFTWARE\\Acme");
        reg::DeleteTree(kMachine, kVictim);
        g_mappedDrive.reset();
        g_listedProfile.reset();
        fs::RemoveTree(kDriveRootCanary);
        reg::DeleteTree(HKEY_CLASSES_ROOT, kClassesVictim);
    }

    SimWorld world_;
};

TEST_P(HostileData, RemovesOnlyWhatTheDataNames) {
    const LibraryForm& form = std::get<0>(GetParam());
    const HostileCase& tested = std::get<1>(GetParam());
    const Outcome expected = tested.seed(world_, form);
    FormResources resources(form);
    TarnvaleLibrary library(form.path);
    const std::string currentDirectory = fs::CurrentDirectory();
    const MachineSnapshot before = MachineSnapshot::Take();

    // The plan first, then the real run; no window may appear in either.
    UiSession robot;
    const PlanAndRealRun run = PlanThenRun(before, [&] {
        robot.NextCall();
        return library.CleanSIMInfoSilent();
    });
    robot.Finish();

    EXPECT_EQ(PlanDifferences(before, run), "");
    EXPECT_EQ(run.realResult, expected.result);
    EXPECT_EQ(DescribeUnexpectedChanges(run.afterPlan, run.afterReal, expected.removed), "");
    EXPECT_EQ(fs::CurrentDirectory(), currentDirectory);
    EXPECT_EQ(PassedByDifferences(run.realLines, expected.passedBy), "") << "the real run's log:\n"
                                                                          << Actions(run.realLines);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileData, ::testing::Combine(BothForms(), ::testing::ValuesIn(kCases)),
                         [](const ::testing::TestParamInfo<HostileParam>& tested) {
                             return std::string(std::get<0>(tested.param).name) + "_" + std::get<1>(tested.param).name;
                         });

}  // namespace
}  // namespace tarnvale::test
