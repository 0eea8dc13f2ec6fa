// The action log (TARNVALE_LOG): what a real run writes against what it
// really did on the whole machine, the reasons of the guards' refusals, a
// command's start and end, the log's own words with the German resource
// library, and log file names that must never be written, none of which may
// change what an export does or returns.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <tuple>

#include "action_log_reader.h"
#include "child_log.h"
#include "file_fixture.h"
#include "library_form.h"
#include "machine_snapshot.h"
#include "registry_fixture.h"
#include "resources/resource.h"
#include "sim_world.h"
#include "tarnvale_library.h"
#include "test_paths.h"

namespace tarnvale::test {
namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;

std::string Registration(const char* parent, const std::string& name) { return std::string(parent) + "\\" + name; }
std::string NortavoMaker(const std::string& name) { return std::string(simkeys::kNortavoMaker) + "\\" + name; }

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool Contains(const std::string& text, const std::string& part) { return Lower(text).find(Lower(part)) != std::string::npos; }

// The keys, folders and files (not values) that are gone from `after`.
std::set<std::string> RemovedEntries(const MachineSnapshot& before, const MachineSnapshot& after) {
    std::set<std::string> removed;
    for (const std::string& entry : Compare(before, after).removed) {
        if (entry.find("\\:") == std::string::npos) removed.insert(Lower(entry));
    }
    return removed;
}

std::string Listed(const std::set<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries) text += "  " + entry + "\n";
    return text;
}

// A SIM cleanup test whose calls write their log to a file below the test root.
class LoggedSimCleanup : public SimCleanupTest, public ::testing::WithParamInterface<LibraryForm> {
protected:
    LoggedSimCleanup() : SimCleanupTest(GetParam()) {}

    std::string logPath() const { return world_.root() + "\\action.log"; }

    ScopedEnvironment logVariable_{"TARNVALE_LOG", world_.root() + "\\action.log"};
};

// ---- the log of a real run is what the run did ----

// Two SIMs with folders, files, Uninstall entries, a log folder and a maker
// key; a registration without GUID, one whose entry is missing, a read-only
// file and one held open by another handle, which cannot go.
TEST_P(LoggedSimCleanup, DeletedLinesAreExactlyWhatTheMachineLost) {
    world_.RegisterProduct();
    world_.AddRegistration(simkeys::kSims, "Alarm", "{A}");
    reg::SetString(kMachine, Registration(simkeys::kSims, "Alarm") + "\\Settings", "Port", "7");
    world_.AddRegistration(simkeys::kSims, "Ghost", "{G}");
    world_.AddRegistration(simkeys::kDsims, "Trend");
    world_.AddProductFiles({"Sims\\Alarm\\Alarm.dll", "Sims\\Alarm\\held.dat", "Sims\\Trend\\Trend.dll",
                            "Sims\\Trend\\Trend.cfg", "AlarmUninst.isu", "TrendUninst.isu", "SIMUninstall.dll",
                            "Quenta.exe"});
    ASSERT_TRUE(fs::SetAttributes(world_.simsFolder() + "\\Trend\\Trend.cfg", FILE_ATTRIBUTE_READONLY));
    const std::string logFolder = world_.root() + "\\Logs\\Alarm";
    fs::CreateFolders(logFolder);
    fs::WriteFile(logFolder + "\\Uninst.isu", "log");
    world_.AddUninstallEntry("{A}", (logFolder + "\\Uninst.isu").c_str(), "Borelle SIM Alarm");
    reg::SetString(kMachine, NortavoMaker("Borelle SIM Alarm") + "\\Options", "Language", "1033");
    world_.AddUninstallEntry("Borelle SIM Trend", nullptr, nullptr);
    const std::string heldFile = world_.simsFolder() + "\\Alarm\\held.dat";

    const MachineSnapshot before = MachineSnapshot::Take();
    {
        ScopedHeldFile held(heldFile);
        EXPECT_EQ(CleanSilently(), 1);
    }
    const MachineSnapshot after = MachineSnapshot::Take();

    const std::vector<LogLine> lines = ReadLog(logPath());
    ASSERT_FALSE(lines.empty());
    for (const LogLine& line : lines) {
        EXPECT_EQ(line.processId, GetCurrentProcessId());
        EXPECT_EQ(line.exportName, "CleanSIMInfoSilent");
    }
    EXPECT_EQ(lines.back().action, "returned 1");

    const std::set<std::string> logged = LoggedDeletions(lines);
    const std::set<std::string> removed = RemovedEntries(before, after);
    EXPECT_EQ(logged, removed) << "logged:\n" << Listed(logged) << "removed:\n" << Listed(removed);
    EXPECT_TRUE(removed.count(Lower(world_.simsFolder() + "\\Trend\\Trend.cfg"))) << "the read-only file stays";

    // What the run passed by, and why.
    EXPECT_TRUE(HasAction(lines, [&](const std::string& action) {
        return action == "file not deleted: " + heldFile + ": error 32";
    })) << Actions(lines);
    if (!GetParam().compact) {
        EXPECT_TRUE(HasAction(lines, [](const std::string& action) {
            return action.rfind("registration without GUID: \"Trend\"", 0) == 0;
        })) << Actions(lines);
        EXPECT_TRUE(HasAction(lines, [](const std::string& action) {
            return action.rfind("no Uninstall entry for \"{G}\"", 0) == 0;
        })) << Actions(lines);
    } else {
        // The compact form leaves a registration with subkeys.
        EXPECT_TRUE(HasAction(lines, [](const std::string& action) {
            return action.rfind("key not deleted: HKLM\\", 0) == 0 && Contains(action, "\\SIMS\\Alarm (");
        })) << Actions(lines);
    }
}

// A missing log file is created; each call appends its lines to what is there.
TEST_P(LoggedSimCleanup, FileIsCreatedThenAppended) {
    ASSERT_FALSE(fs::Exists(logPath()));
    EXPECT_EQ(CleanSilently(), 0);  // no product: only the registry is looked at
    const std::string first = fs::ReadFile(logPath());
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(ReadLog(logPath()).back().action, "returned 0");
    EXPECT_EQ(library_.LaunchAppAndWait(ChildCommand().c_str()), 1);
    const std::string both = fs::ReadFile(logPath());
    EXPECT_EQ(both.compare(0, first.size(), first), 0) << "the first call's lines were not kept";
    const std::vector<LogLine> lines = ReadLog(logPath());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().exportName, "LaunchAppAndWait");
    EXPECT_EQ(lines.back().action, "returned 1");
}

INSTANTIATE_TEST_SUITE_P(Forms, LoggedSimCleanup, BothForms(), FormName);

// ---- each guard refusal with its reason ----

struct RefusalCase {
    const char* name;
    bool bothForms;  // the compact form reads no "LogFile" or "DisplayName"
    // Seeds a SIM Alarm with one hostile piece; gives a part of the path
    // refused and the reasons that the log may name (either).
    std::function<std::tuple<std::string, std::string, std::string>(SimWorld&)> seed;
};

// Alarm registered with GUID {A} and its entry {A} with these values.
void SeedAlarmEntry(SimWorld& world, const std::string& logFile, const std::string& displayName) {
    world.RegisterProduct();
    world.AddRegistration(simkeys::kSims, "Alarm", "{A}");
    world.AddProductFiles({"Sims\\Alarm\\Alarm.dll", "Quenta.exe"});
    world.AddUninstallEntry("{A}", logFile.empty() ? nullptr : logFile.c_str(),
                            displayName.empty() ? nullptr : displayName.c_str());
}

const RefusalCase kRefusals[] = {
    {"LogFolderRelative", false,
     [](SimWorld& world) {
         SeedAlarmEntry(world, "Logs\\Uninst.isu", "");
         return std::make_tuple(std::string("folder refused by the folder guard: Logs\\"), std::string("relative path"),
                                std::string("relative path"));
     }},
    {"LogFolderIsTheWindowsFolder", false,
     [](SimWorld& world) {
         SeedAlarmEntry(world, fs::WindowsFolder() + "\\Uninst.isu", "");
         return std::make_tuple("folder refused by the folder guard: " + fs::WindowsFolder(),
                                std::string("protected folder"), std::string("protected folder"));
     }},
    {"LogFolderIsADriveRoot", false,
     [](SimWorld& world) {
         SeedAlarmEntry(world, "C:\\Uninst.isu", "");
         return std::make_tuple(std::string("folder refused by the folder guard: C:\\"), std::string("root"),
                                std::string("root"));
     }},
    {"LogFolderIsALink", false,
     [](SimWorld& world) {
         const std::string link = world.root() + "\\LinkedLogs";
         fs::CreateFolders(world.outsideFolder());
         fs::WriteFile(world.outsideFolder() + "\\Uninst.isu", "outside");
         EXPECT_TRUE(fs::CreateFolderLink(link, world.outsideFolder()));
         SeedAlarmEntry(world, link + "\\Uninst.isu", "");
         return std::make_tuple("folder refused by the folder guard: " + link, std::string("link"),
                                std::string("reparse point"));
     }},
    {"SimFolderIsALink", true,
     [](SimWorld& world) {
         SeedAlarmEntry(world, "", "");
         fs::CreateFolders(world.outsideFolder());
         fs::WriteFile(world.outsideFolder() + "\\outside.dll", "outside");
         EXPECT_TRUE(fs::CreateFolderLink(world.simsFolder() + "\\Linked", world.outsideFolder()));
         return std::make_tuple("folder refused by the folder guard: " + world.simsFolder() + "\\Linked",
                                std::string("link"), std::string("reparse point"));
     }},
    {"MakerKeyWithEmptyComponent", false,
     [](SimWorld& world) {
         SeedAlarmEntry(world, "", "Borelle SIM A\\\\B");
         return std::make_tuple("key refused by the key guard: HKLM\\" + NortavoMaker("Borelle SIM A\\\\B") + " (" +
                                    ViewName() + ")",
                                std::string("empty path component"), std::string("empty path component"));
     }},
    {"MakerKeyBehindARegistryLink", false,
     [](SimWorld& world) {
         SeedAlarmEntry(world, "", "Borelle SIM Linked\\Sub");
         reg::SetString(kMachine, "SOFTWARE\\TarnvaleLogVictim\\Sub", "Canary", "1");
         const std::string victim = MachineKey("SOFTWARE\\TarnvaleLogVictim");  // "HKLM\...\"
         reg::CreateLink(kMachine, NortavoMaker("Borelle SIM Linked"),
                         "\\Registry\\Machine\\" + victim.substr(5, victim.size() - 6));
         return std::make_tuple("key refused by the key guard: HKLM\\" + NortavoMaker("Borelle SIM Linked\\Sub") +
                                    " (" + ViewName() + ")",
                                std::string("registry link on the way"), std::string("registry link on the way"));
     }},
};

class GuardRefusal : public ::testing::TestWithParam<std::tuple<LibraryForm, RefusalCase>> {
protected:
    SimWorld world_;
    ScopedRegistryTree victim_{kMachine, "SOFTWARE\\TarnvaleLogVictim"};
    FormResources resources_{std::get<0>(GetParam())};
    TarnvaleLibrary library_{std::get<0>(GetParam()).path};
    ScopedEnvironment logVariable_{"TARNVALE_LOG", world_.root() + "\\action.log"};
};

TEST_P(GuardRefusal, IsLoggedWithItsReason) {
    const auto [where, reason, otherReason] = std::get<1>(GetParam()).seed(world_);
    EXPECT_EQ(library_.CleanSIMInfoSilent(), 1);
    const std::vector<LogLine> lines = ReadLog(world_.root() + "\\action.log");
    EXPECT_TRUE(HasAction(lines, [&](const std::string& action) {
        return Lower(action).rfind(Lower(where), 0) == 0 &&
               (Contains(action, ": " + reason) || Contains(action, ": " + otherReason));
    })) << "no line \"" << where << " ...: " << reason << "\" in:\n"
        << Actions(lines);
    EXPECT_EQ(world_.DamagedCanaries(), "");
}

std::vector<std::tuple<LibraryForm, RefusalCase>> RefusalsOfBothForms() {
    std::vector<std::tuple<LibraryForm, RefusalCase>> cases;
    for (const RefusalCase& refusal : kRefusals) {
        cases.emplace_back(kFullForm, refusal);
        if (refusal.bothForms) cases.emplace_back(kCompactForm, refusal);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, GuardRefusal, ::testing::ValuesIn(RefusalsOfBothForms()),
                         [](const ::testing::TestParamInfo<std::tuple<LibraryForm, RefusalCase>>& tested) {
                             return std::string(std::get<0>(tested.param).name) + "_" + std::get<1>(tested.param).name;
                         });

// ---- a command's start and end ----

class LoggedLaunch : public ::testing::TestWithParam<LibraryForm> {
protected:
    ScopedFolder folder_{std::string(fs::kTestRoot) + "\\action_log"};
    std::string logPath_ = std::string(fs::kTestRoot) + "\\action_log\\action.log";
    ScopedEnvironment logVariable_{"TARNVALE_LOG", logPath_};
    TarnvaleLibrary library_{GetParam().path};
};

TEST_P(LoggedLaunch, StartEndWithExitCodeAndResult) {
    const std::string command = ChildCommand("--exit=7 --sleep=50");
    EXPECT_EQ(library_.LaunchAppAndWait(command.c_str()), 1);
    const std::vector<LogLine> lines = ReadLog(logPath_);
    ASSERT_EQ(lines.size(), 3u) << Actions(lines);
    const std::string started = "started command \"" + command + "\" as process ";
    EXPECT_EQ(lines[0].action.compare(0, started.size(), started), 0) << lines[0].action;
    EXPECT_TRUE(std::regex_match(lines[0].action.substr(std::min(started.size(), lines[0].action.size())),
                                 std::regex("[1-9][0-9]*")))
        << lines[0].action;
    std::smatch duration;
    ASSERT_TRUE(std::regex_match(lines[1].action, duration, std::regex(R"(command ended: exit code 7 after (\d+) ms)")))
        << lines[1].action;
    EXPECT_GE(std::stoul(duration[1]), 40u);
    EXPECT_EQ(lines[2].action, "returned 1");
    for (const LogLine& line : lines) EXPECT_EQ(line.exportName, "LaunchAppAndWait");
}

INSTANTIATE_TEST_SUITE_P(Forms, LoggedLaunch, BothForms(), FormName);

// ---- the log's own words stay English ----

// The German resource library beside the host: the status window shows its
// text, which the log quotes as shown; everything else is the library's own
// English.
TEST(GermanResourceLibrary, LogWordsStayEnglish) {
    ScopedFolder folder(std::string(fs::kTestRoot) + "\\action_log");
    const std::string logPath = std::string(fs::kTestRoot) + "\\action_log\\action.log";
    ScopedEnvironment logVariable("TARNVALE_LOG", logPath);
    ScopedRegistryTree quillet(kMachine, R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Nortavo Quillet)");
    ScopedFileCopy german(kGermanResourceLibraryPath, HostFolder() + "\\TarnvaleRes.dll");
    TarnvaleLibrary library(kFullLibraryPath);

    EXPECT_EQ(library.RemoveAddOns(), 1);

    // The German status text, as the file holds it (UTF-8).
    HMODULE texts = LoadLibraryExA(kGermanResourceLibraryPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(texts, nullptr);
    wchar_t wide[256] = {};
    const int length = LoadStringW(texts, IDS_CHECKING_ADDONS, wide, 256);
    FreeLibrary(texts);
    ASSERT_GT(length, 0);
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8, sizeof(utf8), nullptr, nullptr);
    ASSERT_STRNE(utf8, "Checking for Lumbrook add-ons...");

    const std::vector<LogLine> lines = ReadLog(logPath);
    ASSERT_EQ(lines.size(), 4u) << Actions(lines);
    EXPECT_EQ(Lower(lines[0].action), Lower("loaded resource library " + HostFolder() + "\\TarnvaleRes.dll"));
    EXPECT_EQ(lines[1].action, std::string("shown status window: \"") + utf8 + "\"");
    EXPECT_EQ(lines[2].action, "released resource library");
    EXPECT_EQ(lines[3].action, "returned 1");
}

// ---- the debug output ----

// A debug-output viewer as DebugView is one: it owns the DBWIN buffer and
// its two events, and collects each text that OutputDebugStringA hands over
// on a thread of its own until it is destroyed.
class DebugOutputViewer {
public:
    DebugOutputViewer()
        : bufferReady_(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY")),
          dataReady_(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")),
          buffer_(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER")),
          view_(buffer_ != nullptr ? static_cast<const char*>(MapViewOfFile(buffer_, FILE_MAP_READ, 0, 0, 4096))
                                   : nullptr) {
        if (view_ != nullptr) thread_ = CreateThread(nullptr, 0, &DebugOutputViewer::Collect, this, 0, nullptr);
    }
    ~DebugOutputViewer() {
        stop_ = true;
        if (thread_ != nullptr) {
            SetEvent(dataReady_);
            WaitForSingleObject(thread_, 10000);
            CloseHandle(thread_);
        }
        if (view_ != nullptr) UnmapViewOfFile(view_);
        for (HANDLE handle : {buffer_, dataReady_, bufferReady_}) {
            if (handle != nullptr) CloseHandle(handle);
        }
    }
    DebugOutputViewer(const DebugOutputViewer&) = delete;
    DebugOutputViewer& operator=(const DebugOutputViewer&) = delete;

    bool ready() const { return thread_ != nullptr; }
    std::vector<std::string> texts() {
        EnterCriticalSection(&lock_);
        std::vector<std::string> copy = texts_;
        LeaveCriticalSection(&lock_);
        return copy;
    }

private:
    static DWORD WINAPI Collect(void* self) {
        auto* viewer = static_cast<DebugOutputViewer*>(self);
        for (;;) {
            SetEvent(viewer->bufferReady_);
            if (WaitForSingleObject(viewer->dataReady_, 10000) != WAIT_OBJECT_0 || viewer->stop_) return 0;
            // The writer's process id, then its text.
            EnterCriticalSection(&viewer->lock_);
            viewer->texts_.emplace_back(viewer->view_ + sizeof(DWORD));
            LeaveCriticalSection(&viewer->lock_);
        }
    }

    struct Lock {
        Lock() { InitializeCriticalSection(&section); }
        ~Lock() { DeleteCriticalSection(&section); }
        CRITICAL_SECTION section;
    } lockHolder_;
    CRITICAL_SECTION& lock_ = lockHolder_.section;
    HANDLE bufferReady_;
    HANDLE dataReady_;
    HANDLE buffer_;
    const char* view_;
    HANDLE thread_ = nullptr;
    volatile bool stop_ = false;
    std::vector<std::string> texts_;
};

// Without any log file, a debug-output viewer gets every line.
TEST(DebugOutput, AViewerGetsEveryLine) {
    DebugOutputViewer viewer;
    ASSERT_TRUE(viewer.ready());
    ScopedEnvironment noLogFile("TARNVALE_LOG", "");
    TarnvaleLibrary library(kFullLibraryPath);
    EXPECT_EQ(library.LaunchAppAndWait(ChildCommand("--exit=3").c_str()), 1);
    // The viewer takes the last text on its own thread: a bounded wait for it.
    std::vector<std::string> lines;
    for (int attempt = 0; attempt < 500 && lines.size() < 3; ++attempt) {
        if (attempt > 0) Sleep(10);
        lines.clear();
        for (const std::string& text : viewer.texts()) {
            if (text.find(" LaunchAppAndWait: ") != std::string::npos) lines.push_back(text);
        }
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("LaunchAppAndWait: started command \""), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("LaunchAppAndWait: command ended: exit code 3 after "), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("LaunchAppAndWait: returned 1\n"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find(" pid " + std::to_string(GetCurrentProcessId()) + " "), std::string::npos) << lines[2];
}

// ---- log file names that are never written ----

// One bad TARNVALE_LOG value: what the case holds for the run, and a check
// that tells what was written where it must not be (empty when nothing).
struct BadLog {
    BadLog(std::string logValue, std::function<std::string()> check, std::shared_ptr<void> holder = nullptr)
        : value(std::move(logValue)), damage(std::move(check)), held(std::move(holder)) {}
    std::string value;
    std::function<std::string()> damage;
    std::shared_ptr<void> held;  // released after the run, before the check
};

struct BadLogCase {
    const char* name;
    std::function<BadLog(SimWorld&)> make;
};

// The test child holding a file open without sharing, as another program
// may hold a log file, until this is destroyed.
class FileHolder {
public:
    explicit FileHolder(const std::string& path)
        : eventName_("TarnvaleLogHolder" + std::to_string(GetCurrentProcessId())),
          release_(CreateEventA(nullptr, TRUE, FALSE, eventName_.c_str())) {
        std::string command = ChildCommand("--hold-file=" + path + " --wait-event=" + eventName_);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child_)) {
            return;
        }
        // Held once nobody else can open it.
        for (int attempt = 0; attempt < 500 && !holds_; ++attempt) {
            HANDLE probe = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
            if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
                holds_ = true;
            } else {
                if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
                Sleep(10);
            }
        }
    }
    ~FileHolder() {
        SetEvent(release_);
        if (child_.hProcess != nullptr) {
            WaitForSingleObject(child_.hProcess, 30000);
            CloseHandle(child_.hProcess);
            CloseHandle(child_.hThread);
        }
        CloseHandle(release_);
    }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    bool holds() const { return holds_; }

private:
    std::string eventName_;
    HANDLE release_;
    PROCESS_INFORMATION child_ = {};
    bool holds_ = false;
};

// "" when the file at `path` is missing, otherwise what it is.
std::string MustBeMissing(const std::string& path) {
    return fs::Exists(path) ? "written: " + path : std::string();
}

const BadLogCase kBadLogs[] = {
    {"Empty", [](SimWorld& world) {
         const auto before = fs::ListTree(world.currentFolder());
         return BadLog{"", [&world, before] {
                           return fs::ListTree(world.currentFolder()) == before ? "" : "the current folder changed";
                       }};
     }},
    {"Relative", [](SimWorld& world) {
         const std::string path = world.currentFolder() + "\\action.log";
         return BadLog{"action.log", [path] { return MustBeMissing(path); }};
     }},
    {"AFolder", [](SimWorld& world) {
         const std::string folder = world.root() + "\\LogFolder";
         fs::CreateFolders(folder);
         return BadLog{folder, [folder] {
                           if (!fs::FolderExists(folder)) return std::string("the folder is gone");
                           return fs::ListTree(folder).empty() ? std::string() : "written into the folder";
                       }};
     }},
    {"ALinkToAFileElsewhere", [](SimWorld& world) {
         const std::string target = world.outsideFolder() + "\\target.log";
         fs::CreateFolders(world.outsideFolder());
         fs::WriteFile(target, "target");
         const std::string link = world.root() + "\\link.log";
         EXPECT_TRUE(fs::CreateFileLink(link, target));
         return BadLog{link, [target] {
                           return fs::ReadFile(target) == "target" ? std::string() : "written through the link";
                       }};
     }},
    {"InTheWindowsFolder", [](SimWorld&) {
         const std::string path = fs::WindowsFolder() + "\\tarnvale-action-test.log";
         DeleteFileA(path.c_str());
         return BadLog{path, [path] {
                           const std::string damage = MustBeMissing(path);
                           DeleteFileA(path.c_str());
                           return damage;
                       }};
     }},
    // A file in an existing folder, its whole name 300 characters long.
    {"Path300Characters", [](SimWorld& world) {
         const std::string folder = world.root() + "\\" + std::string(60, 'd');
         fs::CreateFolders(folder);
         const std::string path = folder + "\\" + std::string(300 - folder.size() - 5, 'f') + ".log";
         EXPECT_EQ(path.size(), 300u);
         return BadLog{path, [folder] { return fs::ListTree(folder).empty() ? "" : "written: a 300-character name"; }};
     }},
    // An environment variable holds at most 32,767 characters (a 40,000
    // character value cannot be set at all): the longest name that reaches
    // the library.
    {"Path32000Characters", [](SimWorld& world) {
         const std::string path = world.root() + "\\" + std::string(32000, 'a');
         const auto before = fs::ListTree(world.root());
         return BadLog{path, [&world, before] {
                           return fs::ListTree(world.root()).size() <= before.size() ? "" : "something was created";
                       }};
     }},
    {"HeldWithoutSharingByAnotherProcess", [](SimWorld& world) {
         const std::string path = world.root() + "\\held.log";
         fs::WriteFile(path, "held");
         auto holder = std::make_shared<FileHolder>(path);
         EXPECT_TRUE(holder->holds()) << "the other process does not hold the file";
         return BadLog{path, [path] { return fs::ReadFile(path) == "held" ? "" : "written into the held file"; },
                       holder};
     }},
};

class BadLogFile : public ::testing::TestWithParam<std::tuple<LibraryForm, BadLogCase>> {
protected:
    SimWorld world_;
    FormResources resources_{std::get<0>(GetParam())};
    TarnvaleLibrary library_{std::get<0>(GetParam()).path};
};

// The run does all its work and returns its result; nothing is written there.
TEST_P(BadLogFile, IsIgnored) {
    world_.RegisterProduct();
    world_.AddRegistration(simkeys::kSims, "Alarm");
    world_.AddProductFiles({"Sims\\Alarm\\Alarm.dll", "Quenta.exe"});
    BadLog bad = std::get<1>(GetParam()).make(world_);
    int result = -1;
    {
        ScopedEnvironment logVariable("TARNVALE_LOG", bad.value);
        if (!bad.value.empty()) {
            ASSERT_EQ(GetEnvironmentVariableW(L"TARNVALE_LOG", nullptr, 0), bad.value.size() + 1) << "not set";
        }
        result = library_.CleanSIMInfoSilent();
    }
    bad.held.reset();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(reg::KeyExists(kMachine, Registration(simkeys::kSims, "Alarm")));
    EXPECT_FALSE(fs::Exists(world_.simsFolder()));
    EXPECT_EQ(bad.damage(), "");
    EXPECT_EQ(world_.DamagedCanaries(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, BadLogFile, ::testing::Combine(BothForms(), ::testing::ValuesIn(kBadLogs)),
                         [](const ::testing::TestParamInfo<std::tuple<LibraryForm, BadLogCase>>& tested) {
                             return std::string(std::get<0>(tested.param).name) + "_" + std::get<1>(tested.param).name;
                         });

}  // namespace
}  // namespace tarnvale::test
