// SIM files and folders below the product folder: the files directly in each
// SIM folder below "Sims" go, then the folders that are empty; the per-SIM
// "<name>Uninst.isu" files and "SIMUninstall.dll" go when SIMs were
// registered. Nothing outside these targets is touched, links are never
// followed, and the current directory never changes (checked on every call).
// The same in both forms of the library; in the compact form the uninstall
// files are found through the upper-cased SIM names.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>

#include "sim_world.h"

namespace tarnvale::test {
namespace {

struct TreeCase {
    const char* name;
    std::vector<std::string> registeredSims;
    std::vector<std::string> files;      // below the product folder; "...\" is a folder
    std::vector<std::string> remaining;  // the product folder's tree afterwards
};

class ProductFolderTree : public SimCleanupTest,
                          public ::testing::WithParamInterface<std::tuple<TreeCase, LibraryForm>> {
protected:
    ProductFolderTree() : SimCleanupTest(std::get<1>(GetParam())) {}
};

TEST_P(ProductFolderTree, KeepsExactlyWhatIsNotATarget) {
    const TreeCase& tested = std::get<0>(GetParam());
    world_.RegisterProduct();
    for (const std::string& sim : tested.registeredSims) world_.AddRegistration(simkeys::kSims, sim);
    world_.AddProductFiles(tested.files);

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(world_.ProductTree(), tested.remaining);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProductFolderTree,
    ::testing::Combine(::testing::Values(
        TreeCase{"TwoSimFoldersWithFilesVanishWithSims",
                 {},
                 {"Sims\\Alpha\\a.txt", "Sims\\Alpha\\b.dat", "Sims\\Beta\\c", "Sims\\Gamma\\"},
                 {}},
        TreeCase{"NestedFolderKeepsItsSimFolderAndSims",
                 {},
                 {"Sims\\Alpha\\a.txt", "Sims\\Alpha\\Nested\\b.txt", "Sims\\Beta\\c.txt"},
                 {"Sims\\", "Sims\\Alpha\\", "Sims\\Alpha\\Nested\\", "Sims\\Alpha\\Nested\\b.txt"}},
        TreeCase{"FileDirectlyInSimsStays", {}, {"Sims\\readme.txt", "Sims\\Alpha\\a.txt"}, {"Sims\\", "Sims\\readme.txt"}},
        TreeCase{"NoSimsFolder", {"ABC"}, {"ABC\\Uninst.isu"}, {"ABC\\", "ABC\\Uninst.isu"}},
        // "ABC" + "Uninst.isu" with no separator between them.
        TreeCase{"PerSimUninstallFilesAndSharedLibrary",
                 {"ABC", "Def"},
                 {"ABCUninst.isu", "DefUninst.isu", "ABC\\Uninst.isu", "Uninst.isu", "XYZUninst.isu", "SIMUninstall.dll"},
                 {"ABC\\", "ABC\\Uninst.isu", "Uninst.isu", "XYZUninst.isu"}},
        TreeCase{"MissingSharedLibraryIsFine", {"ABC"}, {"ABCUninst.isu"}, {}},
        // Without registered SIMs the uninstall files are not looked at.
        TreeCase{"NoRegisteredSimsKeepsUninstallFiles",
                 {},
                 {"ABCUninst.isu", "SIMUninstall.dll", "Sims\\ABC\\a.txt"},
                 {"ABCUninst.isu", "SIMUninstall.dll"}}),
                       BothForms()),
    [](const ::testing::TestParamInfo<std::tuple<TreeCase, LibraryForm>>& tested) {
        return std::string(std::get<0>(tested.param).name) + "_" + std::get<1>(tested.param).name;
    });

class SimFiles : public SimCleanupTest, public ::testing::WithParamInterface<LibraryForm> {
protected:
    SimFiles() : SimCleanupTest(GetParam()) {}
    void SetUp() override { world_.RegisterProduct(); }
    std::string Product(const std::string& relative) const { return world_.productFolder() + "\\" + relative; }
};

// Read-only, hidden and system files in a SIM folder go like any other.
TEST_P(SimFiles, ReadOnlyHiddenAndSystemFilesAreDeleted) {
    const struct {
        const char* name;
        DWORD attributes;
    } files[] = {{"readonly.txt", FILE_ATTRIBUTE_READONLY},
                 {"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
                 {"system.txt", FILE_ATTRIBUTE_SYSTEM},
                 {"all.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}};
    for (const auto& file : files) {
        const std::string path = Product(std::string("Sims\\Alpha\\") + file.name);
        world_.AddProductFiles({std::string("Sims\\Alpha\\") + file.name});
        ASSERT_TRUE(fs::SetAttributes(path, file.attributes));
        ASSERT_EQ(fs::GetAttributes(path) & file.attributes, file.attributes) << file.name;
    }

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_TRUE(world_.ProductTree().empty());
}

// A file that cannot be deleted is passed by; everything else still goes and
// the run completes. Read-only uninstall files in the product folder are not
// made writable and stay too.
TEST_P(SimFiles, FileThatCannotBeDeletedIsPassedBy) {
    world_.AddRegistration(simkeys::kSims, "ABC");
    world_.AddRegistration(simkeys::kSims, "Def");
    world_.AddProductFiles({"Sims\\Alpha\\a.txt", "Sims\\Alpha\\held.txt", "Sims\\Alpha\\z.txt", "Sims\\Beta\\b.txt",
                            "ABCUninst.isu", "DefUninst.isu", "SIMUninstall.dll"});
    ASSERT_TRUE(fs::SetAttributes(Product("DefUninst.isu"), FILE_ATTRIBUTE_READONLY));
    const ScopedHeldFile heldInSimFolder(Product("Sims\\Alpha\\held.txt"));
    const ScopedHeldFile heldUninstallFile(Product("ABCUninst.isu"));

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(world_.ProductTree(), (std::vector<std::string>{"ABCUninst.isu", "DefUninst.isu", "Sims\\",
                                                              "Sims\\Alpha\\", "Sims\\Alpha\\held.txt"}));
}

// A link below "Sims" is never entered: what it points to stays, and so does
// the link (and therefore "Sims"). The other SIM folders are cleared.
TEST_P(SimFiles, LinkBelowSimsIsNeverEntered) {
    world_.AddProductFiles({"Sims\\Alpha\\a.txt", "Sims\\Beta\\"});
    ASSERT_TRUE(fs::CreateFolderLink(Product("Sims\\Linked"), world_.outsideFolder()))
        << "the platform can make neither a junction nor a symbolic link";
    // A link inside a SIM folder is a sub-folder like any other: passed by.
    ASSERT_TRUE(fs::CreateFolderLink(Product("Sims\\Beta\\Inner"), world_.outsideFolder()));

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(world_.ProductTree(),
              (std::vector<std::string>{"Sims\\", "Sims\\Beta\\", "Sims\\Beta\\Inner\\", "Sims\\Linked\\"}));
    EXPECT_EQ(fs::ListTree(world_.outsideFolder()),
              (std::vector<std::string>{"Sub\\", "Sub\\canary.txt", "canary.txt"}));
}

// "Sims" itself a link: not entered at all.
TEST_P(SimFiles, SimsFolderThatIsALinkIsNeverEntered) {
    ASSERT_TRUE(fs::CreateFolderLink(Product("Sims"), world_.outsideFolder()));

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(world_.ProductTree(), std::vector<std::string>{"Sims\\"});
    EXPECT_EQ(fs::ListTree(world_.outsideFolder()),
              (std::vector<std::string>{"Sub\\", "Sub\\canary.txt", "canary.txt"}));
}

// A file in a SIM folder that is a symbolic link to a file outside: the
// link is never followed, its target stays as it was. (Where the platform
// cannot open the link as itself, as under Wine, the link stays too.)
TEST_P(SimFiles, FileLinkInASimFolderLeavesItsTarget) {
    world_.AddProductFiles({"Sims\\Alpha\\a.txt", "Sims\\Alpha\\b.txt"});
    const std::string target = world_.outsideFolder() + "\\canary.txt";
    ASSERT_TRUE(fs::CreateFileLink(Product("Sims\\Alpha\\linked.txt"), target));

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(fs::ListTree(world_.outsideFolder()),
              (std::vector<std::string>{"Sub\\", "Sub\\canary.txt", "canary.txt"}));
    EXPECT_EQ(fs::ReadFile(target), "canary");
    EXPECT_FALSE(fs::FileExists(Product("Sims\\Alpha\\a.txt")));
    EXPECT_FALSE(fs::FileExists(Product("Sims\\Alpha\\b.txt")));
}

// What was checked is what is cleared: while a SIM folder of a few hundred
// files is cleared, another thread renames it away and a link to a canary
// folder (holding files of the same names) takes its place at once. The
// rename is the platform's own, so it honours the sharing of open folders;
// the link is moved by a unix program (Wine's rename would move its target),
// which waits for a signal file so that it follows the rename within a
// millisecond. The swap falls at a different moment of each round; the
// canary folder is whole after every round.
TEST_P(SimFiles, SimFolderSwappedForALinkDuringTheCleanupLeavesTheLinkTarget) {
    constexpr int kRounds = 40;
    constexpr int kFiles = 400;
    const std::string alarm = Product("Sims\\Alarm");
    const std::string away = Product("Sims\\Alarm.away");
    const std::string parkedLink = Product("Sims\\Parked");
    const std::string signal = world_.root() + "\\go";
    const std::string canary = world_.root() + "\\RaceCanary";
    auto fileName = [](int index) { return "f" + std::to_string(index) + ".dat"; };
    fs::CreateFolders(canary);
    for (int index = 0; index < kFiles; ++index) fs::WriteFile(canary + "\\" + fileName(index), "canary");
    const std::vector<std::string> canaryTree = fs::ListTree(canary);
    ASSERT_EQ(canaryTree.size(), size_t{kFiles});

    int damagedRounds = 0;
    int swaps = 0;
    for (int round = 0; round < kRounds; ++round) {
        fs::RemoveTree(alarm);
        fs::RemoveTree(away);
        fs::RemoveTree(signal);
        fs::CreateFolders(alarm);
        for (int index = 0; index < kFiles; ++index) fs::WriteFile(alarm + "\\" + fileName(index), "sim");
        if (!fs::Exists(parkedLink)) {
            ASSERT_TRUE(fs::CreateFolderLink(parkedLink, canary));
        }
        ASSERT_TRUE(fs::StartUnixShell("while [ ! -e '" + fs::UnixPath(signal) + "' ]; do sleep 0.001; done; mv -T '" +
                                       fs::UnixPath(parkedLink) + "' '" + fs::UnixPath(alarm) + "'; rm '" +
                                       fs::UnixPath(signal) + "'"));

        std::atomic<bool> stop{false};
        std::thread racer([&] {
            Sleep(static_cast<DWORD>(round % 20));  // a different moment of the run each round
            while (!stop) {
                // Refused while the cleanup holds the folder.
                if (MoveFileA(alarm.c_str(), away.c_str())) {
                    ++swaps;
                    break;
                }
                SwitchToThread();
            }
            fs::WriteFile(signal, "go");
        });
        const int result = library_.CleanSIMInfoSilent();
        stop = true;
        racer.join();
        EXPECT_EQ(result, 1);
        // The shell has moved the link (or found the place taken) and ended.
        for (int wait = 0; wait < 500 && fs::Exists(signal); ++wait) Sleep(10);

        if (fs::ListTree(canary) != canaryTree) {
            ++damagedRounds;
            fs::CreateFolders(canary);
            for (int index = 0; index < kFiles; ++index) fs::WriteFile(canary + "\\" + fileName(index), "canary");
        }
        // The link back in its parking place for the next round.
        const DWORD atAlarm = fs::GetAttributes(alarm);
        if (!fs::Exists(parkedLink) && atAlarm != INVALID_FILE_ATTRIBUTES && (atAlarm & FILE_ATTRIBUTE_REPARSE_POINT)) {
            fs::RenameLink(alarm, parkedLink);
        }
    }
    EXPECT_EQ(damagedRounds, 0) << "rounds in which the canary folder lost files, of " << kRounds << " (" << swaps
                                << " swaps)";
    fs::RemoveTree(alarm);
    fs::RemoveTree(parkedLink);
}

// Paths longer than MAX_PATH, which file names relative to a current
// directory could reach, are handled whole.
TEST_P(SimFiles, PathsLongerThanMaxPathWork) {
    std::string product = world_.root() + "\\" + std::string(180, 'q');
    const std::string simFolder = std::string(60, 's');
    const std::string fileName = std::string(120, 'f') + ".txt";
    const std::string simName(150, 'n');
    world_.RegisterProductFolder(product);
    world_.AddRegistration(simkeys::kSims, simName);
    fs::CreateFolders(product + "\\Sims\\" + simFolder);
    fs::WriteFile(product + "\\Sims\\" + simFolder + "\\" + fileName);
    fs::WriteFile(product + "\\" + simName + "Uninst.isu");
    fs::WriteFile(product + "\\SIMUninstall.dll");
    fs::WriteFile(product + "\\keep.txt");
    ASSERT_GT((product + "\\Sims\\" + simFolder + "\\" + fileName).size(), size_t{MAX_PATH});

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(fs::ListTree(product), std::vector<std::string>{"keep.txt"});
}

// A registration name may hold a forward slash, which the file system takes
// for a separator: such a name never leads out of the product folder.
TEST_P(SimFiles, SimNameWithSeparatorStaysInTheProductFolder) {
    world_.AddRegistration(simkeys::kSims, "../Escape");
    world_.AddRegistration(simkeys::kSims, "ABC");
    const std::string outside = world_.root() + "\\EscapeUninst.isu";
    fs::WriteFile(outside, "outside");
    world_.AddProductFiles({"ABCUninst.isu"});

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_TRUE(fs::FileExists(outside));
    EXPECT_FALSE(fs::FileExists(Product("ABCUninst.isu")));
}

INSTANTIATE_TEST_SUITE_P(Forms, SimFiles, BothForms(), FormName);

}  // namespace
}  // namespace tarnvale::test
