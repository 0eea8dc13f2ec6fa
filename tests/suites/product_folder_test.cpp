// Finding the product folder: the product key and the BASPATH default value
// below HKEY_CLASSES_ROOT, read whole up to 259 characters and used exactly
// as stored. Seen through CleanSIMInfoSilent: 0 when the folder is not
// found; otherwise 1, and the SIM folders below the folder read are cleared.
// The same in both forms of the library, except that the compact form sweeps
// the registrations only once the folder is found.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "machine_snapshot.h"
#include "registry_fixture.h"
#include "sim_world.h"

namespace tarnvale::test {
namespace {

// A product folder path of exactly `length` characters below the test root.
std::string FolderOfLength(const SimWorld& world, size_t length) {
    std::string folder = world.root() + "\\long";
    folder += std::string(length - folder.size(), 'p');
    return folder;
}

struct ProductFolderCase {
    const char* name;
    // Seeds the product's keys; returns the folder whose SIM folders the run
    // clears when it uses what it read (empty: none).
    std::function<std::string(SimWorld&)> seed;
    int expectedResult;
    bool simFoldersCleared;
};

class ProductFolder : public SimCleanupTest,
                      public ::testing::WithParamInterface<std::tuple<ProductFolderCase, LibraryForm>> {
protected:
    ProductFolder() : SimCleanupTest(std::get<1>(GetParam())) {}
};

TEST_P(ProductFolder, IsFoundAndUsedExactlyAsStored) {
    const ProductFolderCase& tested = std::get<0>(GetParam());
    const LibraryForm& form = std::get<1>(GetParam());
    world_.AddRegistration(simkeys::kSims, "Alpha");
    const std::string folder = tested.seed(world_);
    const std::string simFile = (folder.empty() ? world_.productFolder() : folder) + "\\Sims\\Alpha\\a.txt";
    fs::CreateFolders(simFile.substr(0, simFile.rfind('\\')));
    fs::WriteFile(simFile);

    EXPECT_EQ(CleanSilently(), tested.expectedResult);

    EXPECT_EQ(fs::Exists(simFile), !tested.simFoldersCleared);
    // The full form deletes the registrations first, whether or not the
    // folder is found; the compact form sweeps only once it is found.
    const bool registrationStays = form.compact && tested.expectedResult == 0;
    EXPECT_EQ(reg::KeyExists(HKEY_LOCAL_MACHINE, std::string(simkeys::kSims) + "\\Alpha"), registrationStays);
}

std::string Registered(SimWorld& world, const std::string& folder) {
    world.RegisterProductFolder(folder);
    return folder;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProductFolder,
    ::testing::Combine(::testing::Values(
        ProductFolderCase{"ProductKeyOnlyBelowLocalMachine",
                          [](SimWorld& world) {
                              reg::SetString(HKEY_LOCAL_MACHINE, simkeys::kProductFolder, "", world.productFolder());
                              return std::string();
                          },
                          0, false},
        ProductFolderCase{"ProductKeyWithoutBaspath",
                          [](SimWorld&) {
                              reg::CreateKey(HKEY_CLASSES_ROOT, simkeys::kProduct);
                              return std::string();
                          },
                          0, false},
        ProductFolderCase{"BaspathWithoutDefaultValue",
                          [](SimWorld& world) {
                              reg::SetString(HKEY_CLASSES_ROOT, simkeys::kProductFolder, "Path", world.productFolder());
                              return std::string();
                          },
                          0, false},
        ProductFolderCase{"PlainFolder", [](SimWorld& world) { return Registered(world, world.productFolder()); }, 1,
                          true},
        // Joined paths hold two backslashes at that joint and are used so.
        ProductFolderCase{"TrailingBackslashKept",
                          [](SimWorld& world) {
                              world.RegisterProductFolder(world.productFolder() + "\\");
                              return world.productFolder();
                          },
                          1, true},
        ProductFolderCase{"Folder259CharactersReadWhole",
                          [](SimWorld& world) { return Registered(world, FolderOfLength(world, 259)); }, 1, true},
        ProductFolderCase{"Folder260CharactersNotRead",
                          [](SimWorld& world) {
                              Registered(world, FolderOfLength(world, 260));
                              return FolderOfLength(world, 260);
                          },
                          0, false},
        ProductFolderCase{"ValueWithoutTerminatorTakenWhole",
                          [](SimWorld& world) {
                              const std::string folder = world.productFolder();
                              reg::SetRaw(HKEY_CLASSES_ROOT, simkeys::kProductFolder, "", REG_SZ, folder.data(),
                                          static_cast<DWORD>(folder.size()));
                              return folder;
                          },
                          1, true},
        ProductFolderCase{"BinaryValueUpToFirstNul",
                          [](SimWorld& world) {
                              const std::string bytes = world.productFolder() + std::string("\0junk\\elsewhere", 15);
                              reg::SetRaw(HKEY_CLASSES_ROOT, simkeys::kProductFolder, "", REG_BINARY, bytes.data(),
                                          static_cast<DWORD>(bytes.size()));
                              return world.productFolder();
                          },
                          1, true}),
                       BothForms()),
    [](const ::testing::TestParamInfo<std::tuple<ProductFolderCase, LibraryForm>>& tested) {
        return std::string(std::get<0>(tested.param).name) + "_" + std::get<1>(tested.param).name;
    });

struct UnusableFolderCase {
    const char* name;
    std::function<void(SimWorld&)> seed;
};

class UnusableProductFolder : public SimCleanupTest,
                              public ::testing::WithParamInterface<std::tuple<UnusableFolderCase, LibraryForm>> {
protected:
    UnusableProductFolder() : SimCleanupTest(std::get<1>(GetParam())) {}
};

// A folder that is found but names no fixed place (empty, relative to the
// current directory or to the current drive) counts as found: the run goes
// on and gives 1. The registry steps run as with a usable folder: the
// registration goes, and so do the SIM's Uninstall entry and, in the full
// form, its log folder's files and its maker key (the log folder's path comes
// from the entry, not from the product folder). The file steps that start
// from the product folder delete nothing: "\Sims", "<SIM>Uninst.isu" and
// "\SIMUninstall.dll" would otherwise name the root of the current drive or
// the current directory, where the world's canaries lie.
TEST_P(UnusableProductFolder, IsFoundRegistryStepsRunFileStepsDeleteNothing) {
    const bool compact = std::get<1>(GetParam()).compact;
    const std::string guid = "{0A1FA000-0000-4000-8000-000000000001}";
    const std::string logFolder = world_.root() + "\\Logs\\Alpha";
    const std::string makerKey = "SOFTWARE\\Nortavo Inc.\\Borelle SIM Alpha";
    world_.AddRegistration(simkeys::kSims, "Alpha", guid.c_str());
    // The full form finds its entry by the GUID, the compact form by a name
    // that holds the SIM's.
    world_.AddUninstallEntry(guid, (logFolder + "\\Uninst.isu").c_str(), "Borelle SIM Alpha");
    world_.AddUninstallEntry("Alpha Server", nullptr, "Alpha Server");
    ScopedRegistryTree maker(HKEY_LOCAL_MACHINE, makerKey);
    reg::SetString(HKEY_LOCAL_MACHINE, makerKey, "InstallDir", "x");
    fs::CreateFolders(logFolder);
    fs::WriteFile(logFolder + "\\Uninst.isu");
    // Beside the world's canaries in the current directory, the uninstall
    // log that a relative folder "Quenta" would name.
    fs::WriteFile(world_.currentFolder() + "\\Quenta\\AlphaUninst.isu");
    std::get<0>(GetParam()).seed(world_);
    const MachineSnapshot before = MachineSnapshot::Take();

    EXPECT_EQ(CleanSilently(), 1);

    std::vector<std::string> removed = {MachineKey(std::string(simkeys::kSims) + "\\Alpha")};
    if (compact) {
        removed.push_back(MachineKey(world_.UninstallEntryPath("Alpha Server")));
    } else {
        removed.push_back(MachineKey(world_.UninstallEntryPath(guid)));
        removed.push_back(logFolder + "\\");
        removed.push_back(MachineKey(makerKey));
    }
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), removed), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnusableProductFolder,
    ::testing::Combine(::testing::Values(
        UnusableFolderCase{"EmptyValue", [](SimWorld& world) { world.RegisterProductFolder(""); }},
        UnusableFolderCase{"RootOfCurrentDrive", [](SimWorld& world) { world.RegisterProductFolder("\\"); }},
        UnusableFolderCase{"RelativeToCurrentDirectory", [](SimWorld& world) { world.RegisterProductFolder("Quenta"); }},
        UnusableFolderCase{"RelativeOnDrive", [](SimWorld& world) { world.RegisterProductFolder("C:Quenta"); }},
        // The bytes of a number, up to the first NUL: "A1".
        UnusableFolderCase{"DwordValueReadAsText",
                           [](SimWorld& world) {
                               reg::SetDword(HKEY_CLASSES_ROOT, simkeys::kProductFolder, "", 0x00003141);
                               fs::CreateFolders(world.currentFolder() + "\\A1\\Sims\\Alpha");
                               fs::WriteFile(world.currentFolder() + "\\A1\\Sims\\Alpha\\a.txt");
                           }}),
                       BothForms()),
    [](const ::testing::TestParamInfo<std::tuple<UnusableFolderCase, LibraryForm>>& tested) {
        return std::string(std::get<0>(tested.param).name) + "_" + std::get<1>(tested.param).name;
    });

}  // namespace
}  // namespace tarnvale::test
