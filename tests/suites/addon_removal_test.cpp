// RemoveAddOns: finds the Quillet and Marlowe add-ons by their entries in the
// list of installed programs, runs their uninstallers one after the other
// with " -a", shows progress in the status window, and always reports 1.
#include <gtest/gtest.h>

#include <memory>

#include "child_log.h"
#include "file_fixture.h"
#include "library_form.h"
#include "registry_fixture.h"
#include "resources/resource.h"
#include "tarnvale_library.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

constexpr char kUninstallKey[] = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall)";
constexpr char kQuillet[] = "Nortavo Quillet";
constexpr char kMarlowe[] = "Nortavo Marlowe";

constexpr char kChecking[] = "Checking for Lumbrook add-ons...";
constexpr char kUninstallingQuillet[] = "Uninstalling Quillet...";
constexpr char kUninstallingMarlowe[] = "Uninstalling Marlowe...";
constexpr char kQuilletFailed[] =
    "Quillet Add-on detected. Setup failed to uninstall the add-on. Please uninstall it manually.";

std::string EntryKey(const std::string& name) { return std::string(kUninstallKey) + "\\" + name; }

class AddOnRemovalTest : public ::testing::Test {
protected:
    explicit AddOnRemovalTest(const char* libraryPath = kFullLibraryPath) : library_(libraryPath) {}

    void Register(const char* entry, const std::string& uninstallString, DWORD type = REG_SZ) {
        reg::SetString(HKEY_LOCAL_MACHINE, EntryKey(entry), "UninstallString", uninstallString, type);
    }

    // Calls RemoveAddOns; the status window may stay while an uninstaller
    // runs, every other window must be answered by `script`. Returns the
    // result; the texts shown in the status line are in statusTexts_.
    int Remove(UiSession::Script script = nullptr) {
        UiSession ui(std::move(script), ui::DialogWithItem(IDC_STATUS_TEXT));
        WindowEventLog log;
        const int result = library_.RemoveAddOns();
        statusTexts_ = log.TextsOf(IDC_STATUS_TEXT);
        statusWindows_ = log.Count(WindowEventLog::Kind::Created, "#32770");
        for (const auto& event : log.events()) {
            if (event.kind == WindowEventLog::Kind::Created && event.className == "#32770") {
                statusCaption_ = event.text;
                break;
            }
        }
        ui.Finish();
        EXPECT_FALSE(IsModuleLoaded("TarnvaleRes.dll")) << "the resource library is still loaded";
        return result;
    }

    // A robot script that answers `count` message boxes in turn, noting their texts.
    static UiSession::Script AnswerMessageBoxes(int count, std::vector<std::string>& texts) {
        return [count, &texts](UiSession& session) { texts = session.AnswerMessageBoxes(count); };
    }

    ScopedRegistryTree quillet_{HKEY_LOCAL_MACHINE, EntryKey(kQuillet)};
    ScopedRegistryTree marlowe_{HKEY_LOCAL_MACHINE, EntryKey(kMarlowe)};
    ScopedRegistryTree elsewhere_{HKEY_LOCAL_MACHINE, EntryKey("{0A0D0D0E-0000-4000-8000-000000000001}")};
    ScopedFolder work_{std::string(fs::kTestRoot) + "\\addons"};
    ChildLog children_{work_ / "children.log"};
    TarnvaleLibrary library_;  // initialised after the keys and folders above
    std::vector<std::string> statusTexts_;
    int statusWindows_ = 0;
    std::string statusCaption_;  // the title of the status window's template
};

TEST_F(AddOnRemovalTest, NeitherAddOnRegisteredRunsNothing) {
    // An add-on registered under its product code instead of its name is not found.
    reg::SetString(HKEY_LOCAL_MACHINE, EntryKey("{0A0D0D0E-0000-4000-8000-000000000001}"), "DisplayName", kQuillet);
    reg::SetString(HKEY_LOCAL_MACHINE, EntryKey("{0A0D0D0E-0000-4000-8000-000000000001}"), "UninstallString",
                   ChildCommand());
    // An entry without an UninstallString value does not count either.
    reg::SetString(HKEY_LOCAL_MACHINE, EntryKey(kMarlowe), "DisplayName", kMarlowe);

    EXPECT_EQ(Remove(), 1);
    EXPECT_EQ(statusWindows_, 1);
    EXPECT_EQ(statusCaption_, "");
    EXPECT_EQ(statusTexts_, std::vector<std::string>({kChecking}));
    EXPECT_TRUE(children_.Read().empty());
}

TEST_F(AddOnRemovalTest, OnlyTheSecondAddOnRegistered) {
    Register(kMarlowe, ChildCommand("--exit=0 marlowe"));
    EXPECT_EQ(Remove(), 1);
    EXPECT_EQ(statusTexts_, std::vector<std::string>({kChecking, kUninstallingMarlowe}));
    EXPECT_EQ(children_.StartedCommandLines(), std::vector<std::string>({ChildCommand("--exit=0 marlowe") + " -a"}));
}

// Both uninstallers run, the first to its end before the second starts, and
// a failing exit code is no reason for a message.
TEST_F(AddOnRemovalTest, BothAddOnsRunOneAfterTheOther) {
    Register(kQuillet, ChildCommand("--exit=3 --sleep=300 quillet"));
    Register(kMarlowe, ChildCommand("--exit=0 marlowe"));
    EXPECT_EQ(Remove(), 1);
    EXPECT_EQ(statusTexts_, std::vector<std::string>({kChecking, kUninstallingQuillet, kUninstallingMarlowe}));

    const auto entries = children_.Read();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_TRUE(entries[0].start);
    EXPECT_EQ(entries[0].commandLine, ChildCommand("--exit=3 --sleep=300 quillet") + " -a");
    EXPECT_FALSE(entries[1].start);
    EXPECT_EQ(entries[1].processId, entries[0].processId);
    EXPECT_EQ(entries[2].commandLine, ChildCommand("--exit=0 marlowe") + " -a");
}

// The stored command is used as it is, with " -a" after it.
TEST_F(AddOnRemovalTest, StoredCommandIsUsedUnchanged) {
    struct Case {
        std::string stored;
        DWORD type;
    };
    const Case cases[] = {
        {ChildCommand("--exit=0 \"/quoted arg\" /X=1"), REG_SZ},
        {ChildCommand("--exit=0 %SystemRoot%\\x"), REG_EXPAND_SZ},  // not expanded
    };
    for (const Case& c : cases) {
        Register(kQuillet, c.stored, c.type);
        DeleteFileA((work_ / "children.log").c_str());
        EXPECT_EQ(Remove(), 1);
        EXPECT_EQ(children_.StartedCommandLines(), std::vector<std::string>({c.stored + " -a"}));
    }
}

// An empty UninstallString makes the command " -a", which cannot start:
// message 12 and then the add-on's own message; the result is still 1.
TEST_F(AddOnRemovalTest, UninstallerThatCannotStartShowsBothMessages) {
    Register(kQuillet, "");
    const DWORD error = CreateProcessError(" -a");
    ASSERT_NE(error, 0u);
    std::vector<std::string> boxes;
    EXPECT_EQ(Remove(AnswerMessageBoxes(2, boxes)), 1);
    EXPECT_EQ(boxes, std::vector<std::string>({"Unable to execute  -a. Error Code : " + std::to_string(error) + "\n",
                                               kQuilletFailed}));
    EXPECT_EQ(statusTexts_, std::vector<std::string>({kChecking, kUninstallingQuillet}));
}

struct ResourceCase {
    const char* name;
    const char* fixture;
    LibraryForm form;
    std::vector<std::string> statusTexts;
    std::string failedMessage;  // message 14
};

class AddOnTextSource : public AddOnRemovalTest, public ::testing::WithParamInterface<ResourceCase> {
protected:
    AddOnTextSource() : AddOnRemovalTest(GetParam().form.path) {}
};

// With a resource library beside the host, its texts are shown; an item it
// lacks (the partial one has no string 14) comes from the library's own
// table. Afterwards the resource library is no longer loaded. The compact
// form, with every text from the complete resource library, shows the same.
TEST_P(AddOnTextSource, TextsComeFromTheResourceLibraryItemByItem) {
    ScopedFileCopy resourceLibrary(GetParam().fixture, HostFolder() + "\\TarnvaleRes.dll");
    Register(kQuillet, R"(C:\TarnvaleTest\addons\missing.exe)");
    const std::string command = R"(C:\TarnvaleTest\addons\missing.exe -a)";
    const DWORD error = CreateProcessError(command);

    std::vector<std::string> boxes;
    EXPECT_EQ(Remove(AnswerMessageBoxes(2, boxes)), 1);
    EXPECT_EQ(statusTexts_, GetParam().statusTexts);
    EXPECT_EQ(statusCaption_, "[fixture] status") << "the status window's template is the resource library's";
    EXPECT_EQ(boxes, std::vector<std::string>({"[fixture] cannot run " + command + " (code " + std::to_string(error) + ")",
                                               GetParam().failedMessage}));
}

INSTANTIATE_TEST_SUITE_P(
    ResourceLibrary, AddOnTextSource,
    ::testing::Values(
        ResourceCase{"Full", kFixtureFullPath, kFullForm,
                     {"[fixture] Checking for add-ons...", "[fixture] Uninstalling Quillet..."},
                     "[fixture] Quillet could not be removed."},
        ResourceCase{"Partial", kFixturePartialPath, kFullForm,
                     {"[fixture] Checking for add-ons...", "[fixture] Uninstalling Quillet..."},
                     kQuilletFailed},
        ResourceCase{"CompactForm", kFixtureFullPath, kCompactForm,
                     {"[fixture] Checking for add-ons...", "[fixture] Uninstalling Quillet..."},
                     "[fixture] Quillet could not be removed."}),
    [](const ::testing::TestParamInfo<ResourceCase>& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace tarnvale::test
