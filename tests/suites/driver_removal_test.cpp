// UninstallTivraDriver: runs the driver's own setup program from the product
// folder in its silent remove mode, and always reports 1.
#include <gtest/gtest.h>

#include "child_log.h"
#include "file_fixture.h"
#include "sim_world.h"
#include "tarnvale_library.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

class DriverRemovalTest : public SimCleanupTest {
protected:
    explicit DriverRemovalTest(const LibraryForm& form = kFullForm) : SimCleanupTest(form) {}

    // Calls the export with no window expected and returns its result.
    int RemoveDriver() {
        UiSession ui;
        const int result = library_.UninstallTivraDriver();
        ui.Finish();
        return result;
    }
    std::string DriverSetupPath() const { return world_.productFolder() + "\\Setuptivra5.exe"; }

    ChildLog children_{world_.root() + "\\children.log"};
};

// The same in both forms of the library.
class DriverRemoval : public DriverRemovalTest, public ::testing::WithParamInterface<LibraryForm> {
protected:
    DriverRemoval() : DriverRemovalTest(GetParam()) {}
};

TEST_P(DriverRemoval, NothingRunsWithoutProductOrProgram) {
    // The product is not installed, though a driver setup lies in its folder.
    ScopedFileCopy setup(kTestChildPath, DriverSetupPath());
    EXPECT_EQ(RemoveDriver(), 1);
    EXPECT_TRUE(children_.Read().empty());

    // The product is installed, but its folder holds no driver setup.
    fs::RemoveTree(DriverSetupPath());
    world_.RegisterProduct();
    EXPECT_EQ(RemoveDriver(), 1);
    EXPECT_TRUE(children_.Read().empty());
}

TEST_P(DriverRemoval, RunsTheDriverSetupSilentlyEachTimeItIsCalled) {
    world_.RegisterProduct();
    ScopedFileCopy setup(kTestChildPath, DriverSetupPath());

    EXPECT_EQ(RemoveDriver(), 1);
    EXPECT_EQ(RemoveDriver(), 1);  // nothing is remembered between calls

    const std::string expected = DriverSetupPath() + " /SILENT /REMOVE";
    EXPECT_EQ(children_.StartedCommandLines(), std::vector<std::string>({expected, expected}));
    EXPECT_EQ(children_.StartedPrograms(), std::vector<std::string>({DriverSetupPath(), DriverSetupPath()}));
    const auto entries = children_.Read();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_FALSE(entries[1].start) << "the first run must end before the call returns";
}

// A folder stored with a trailing backslash is used as stored: two
// backslashes at the joint, which the platform reads as one.
TEST_P(DriverRemoval, TrailingBackslashOfTheFolderIsKept) {
    world_.RegisterProductFolder(world_.productFolder() + "\\");
    ScopedFileCopy setup(kTestChildPath, DriverSetupPath());
    EXPECT_EQ(RemoveDriver(), 1);
    EXPECT_EQ(children_.StartedCommandLines(),
              std::vector<std::string>({world_.productFolder() + "\\\\Setuptivra5.exe /SILENT /REMOVE"}));
}

// Unquoted, a program path with a blank lets the platform start a shorter
// path first; the library quotes such a path, so only the driver's own setup
// runs even when a program waits at the shorter path.
TEST_P(DriverRemoval, FolderWithABlankRunsOnlyTheDriverSetup) {
    const std::string folder = world_.root() + "\\Product Folder";
    fs::CreateFolders(folder);
    world_.RegisterProductFolder(folder);
    ScopedFileCopy setup(kTestChildPath, folder + "\\Setuptivra5.exe");
    ScopedFileCopy planted(kTestChildPath, world_.root() + "\\Product.exe");

    // What the platform does with the unquoted line: it starts the planted
    // program (seen through LaunchAppAndWait, which passes lines unchanged).
    const std::string unquoted = folder + "\\Setuptivra5.exe /SILENT /REMOVE";
    {
        UiSession ui;
        EXPECT_EQ(library_.LaunchAppAndWait(unquoted.c_str()), 1);
        ui.Finish();
    }
    EXPECT_EQ(children_.StartedPrograms(), std::vector<std::string>({world_.root() + "\\Product.exe"}));
    EXPECT_EQ(children_.StartedCommandLines(), std::vector<std::string>({unquoted}));
    DeleteFileA((world_.root() + "\\children.log").c_str());

    EXPECT_EQ(RemoveDriver(), 1);
    EXPECT_EQ(children_.StartedPrograms(), std::vector<std::string>({folder + "\\Setuptivra5.exe"}));
    EXPECT_EQ(children_.StartedCommandLines(),
              std::vector<std::string>({"\"" + folder + "\\Setuptivra5.exe\" /SILENT /REMOVE"}));
}

// An empty or relative folder text names no product folder: the driver setup
// that it would reach at the drive root or in the current directory is not run.
TEST_P(DriverRemoval, FolderTextThatIsNotAnAbsolutePathRunsNothing) {
    ScopedFileCopy atDriveRoot(kTestChildPath, "C:\\Setuptivra5.exe");
    fs::CreateFolders(world_.currentFolder() + "\\Quenta");
    ScopedFileCopy inCurrentFolder(kTestChildPath, world_.currentFolder() + "\\Quenta\\Setuptivra5.exe");
    for (const char* folder : {"", "Quenta", "\\", "C:"}) {
        world_.RegisterProductFolder(folder);
        EXPECT_EQ(RemoveDriver(), 1) << "folder \"" << folder << "\"";
    }
    EXPECT_TRUE(children_.Read().empty());
}

INSTANTIATE_TEST_SUITE_P(Forms, DriverRemoval, BothForms(), FormName);

struct ResourceCase {
    const char* name;
    const char* fixture;       // resource library beside the host, or null
    const char* expectedText;  // the start of message 12
};

class DriverMessageSource : public DriverRemovalTest, public ::testing::WithParamInterface<ResourceCase> {};

// A folder named like the driver setup passes the presence test but cannot
// be started: message 12, from the resource library when one is present,
// and the result is still 1. Afterwards the resource library is unloaded.
TEST_P(DriverMessageSource, FolderNamedLikeTheSetupGivesMessage12) {
    world_.RegisterProduct();
    fs::CreateFolders(DriverSetupPath());
    std::unique_ptr<ScopedFileCopy> resourceLibrary;
    if (GetParam().fixture != nullptr) {
        resourceLibrary = std::make_unique<ScopedFileCopy>(GetParam().fixture, HostFolder() + "\\TarnvaleRes.dll");
    }
    const std::string command = DriverSetupPath() + " /SILENT /REMOVE";
    const DWORD error = CreateProcessError(command);
    ASSERT_NE(error, 0u);

    std::vector<std::string> seen;
    UiSession ui([&](UiSession& session) { seen = session.AnswerMessageBoxes(1); });
    EXPECT_EQ(library_.UninstallTivraDriver(), 1);
    ui.Finish();

    const std::string expected = GetParam().fixture == nullptr
        ? "Unable to execute " + command + ". Error Code : " + std::to_string(error) + "\n"
        : "[fixture] cannot run " + command + " (code " + std::to_string(error) + ")";
    EXPECT_EQ(seen, std::vector<std::string>{expected});
    EXPECT_FALSE(IsModuleLoaded("TarnvaleRes.dll"));
    EXPECT_TRUE(children_.Read().empty());
}

INSTANTIATE_TEST_SUITE_P(ResourceLibrary, DriverMessageSource,
                         ::testing::Values(ResourceCase{"None", nullptr, nullptr},
                                           ResourceCase{"Full", kFixtureFullPath, nullptr},
                                           ResourceCase{"Partial", kFixturePartialPath, nullptr}),
                         [](const ::testing::TestParamInfo<ResourceCase>& tested) {
                             return std::string(tested.param.name);
                         });

}  // namespace
}  // namespace tarnvale::test
