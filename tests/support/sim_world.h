// The registry keys and folders that a SIM cleanup works on, for one test:
// the SIM registrations, the product key, Uninstall entries, maker keys and a
// product folder below the test root. Everything is removed before and after
// the test, and canaries are planted beside each place the cleanup touches
// (sibling keys, files beside the product folder, in the current directory,
// at the root of the current drive, behind links) that no run may touch.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "file_fixture.h"
#include "library_form.h"
#include "registry_fixture.h"
#include "tarnvale_library.h"

namespace tarnvale::test {

namespace simkeys {
inline constexpr char kNortavoComma[] = R"(SOFTWARE\Nortavo, Inc.)";
inline constexpr char kBorelle[] = R"(SOFTWARE\Nortavo, Inc.\Borelle)";
inline constexpr char kSims[] = R"(SOFTWARE\Nortavo, Inc.\Borelle\SIMS)";
inline constexpr char kDsims[] = R"(SOFTWARE\Nortavo, Inc.\Borelle\DSIMS)";
inline constexpr char kProduct[] = R"(SOFTWARE\Borelle)";               // below HKEY_CLASSES_ROOT
inline constexpr char kProductFolder[] = R"(SOFTWARE\Borelle\BASPATH)";  // below HKEY_CLASSES_ROOT
inline constexpr char kUninstall[] = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall)";
inline constexpr char kNortavoMaker[] = R"(SOFTWARE\Nortavo Inc.)";
inline constexpr char kVeltraneMaker[] = R"(SOFTWARE\Veltrane)";
}  // namespace simkeys

class SimWorld {
public:
    SimWorld();
    ~SimWorld();
    SimWorld(const SimWorld&) = delete;
    SimWorld& operator=(const SimWorld&) = delete;

    const std::string& root() const { return root_; }  // C:\TarnvaleTest\sims
    std::string productFolder() const { return root_ + "\\Quenta"; }
    std::string simsFolder() const { return productFolder() + "\\Sims"; }
    std::string outsideFolder() const { return root_ + "\\outside"; }  // a target for links
    std::string currentFolder() const { return root_ + "\\cwd"; }      // current during the test

    // The product key and its BASPATH default value below HKEY_CLASSES_ROOT.
    void RegisterProduct() { RegisterProductFolder(productFolder()); }
    void RegisterProductFolder(const std::string& folder);

    // A SIM registration below `parentKey` (simkeys::kSims or kDsims), with a
    // "GUID" value when `guid` is given.
    void AddRegistration(const char* parentKey, const std::string& name, const char* guid = nullptr);

    // An Uninstall entry that the world removes again; values only where given.
    void AddUninstallEntry(const std::string& name, const char* logFile, const char* displayName);
    // Makes the world remove an Uninstall entry that a test seeds itself.
    void TrackUninstallEntry(const std::string& name);
    std::string UninstallEntryPath(const std::string& name) const;

    // Files and folders below the product folder, by relative path; a path
    // that ends with a backslash is a folder.
    void AddProductFiles(const std::vector<std::string>& relativePaths);
    std::vector<std::string> ProductTree() const { return fs::ListTree(productFolder()); }

    // A description of every canary that is gone or changed; empty when all
    // are as planted.
    std::string DamagedCanaries() const;
    // The file canaries, as planted.
    const std::vector<std::string>& fileCanaries() const { return fileCanaries_; }
    // Stops checking the file canary at `path`, for a state in which the run
    // is meant to delete it (a product folder at the drive root names the
    // root's "Sims" folder and "SIMUninstall.dll"); the test checks that
    // removal itself.
    void ReleaseFileCanary(const std::string& path);

private:
    struct KeyCanary {
        HKEY root;
        std::string path;
    };
    void PlantKey(HKEY root, const std::string& path);

    std::string root_;
    ScopedRegistryTree nortavoComma_;
    ScopedRegistryTree product_;
    ScopedRegistryTree productInMachineKey_;
    ScopedRegistryTree productCanary_;
    ScopedRegistryTree nortavoMaker_;
    ScopedRegistryTree veltraneMaker_;
    ScopedRegistryTree uninstallCanary_;
    std::vector<std::unique_ptr<ScopedRegistryTree>> uninstallEntries_;
    ScopedFolder folder_;
    ScopedFolder driveRootSims_;
    std::string driveRootUninstaller_;
    std::unique_ptr<ScopedCurrentDirectory> currentDirectory_;
    std::vector<std::string> fileCanaries_;
    std::vector<KeyCanary> keyCanaries_;
};

// A test of the SIM cleanup through the real library: a fresh world per
// test, whose canaries are checked when the test ends. The library is the
// given form, with what it needs beside the host (the full form by default).
class SimCleanupTest : public ::testing::Test {
protected:
    explicit SimCleanupTest(const LibraryForm& form = kFullForm) : resources_(form), library_(form.path) {}
    void TearDown() override;
    // Calls CleanSIMInfoSilent and checks that the current directory is the
    // same afterwards.
    int CleanSilently();

    SimWorld world_;
    FormResources resources_;  // before the library: unloaded first, removed last
    TarnvaleLibrary library_;
};

}  // namespace tarnvale::test
