#include "sim_world.h"

#include <string.h>

namespace tarnvale::test {

namespace {

constexpr char kCanaryText[] = "canary";
constexpr char kCanaryValue[] = "Canary";

std::string DriveRoot() { return fs::CurrentDirectory().substr(0, 3); }

}  // namespace

SimWorld::SimWorld()
    : root_(std::string(fs::kTestRoot) + "\\sims"),
      nortavoComma_(HKEY_LOCAL_MACHINE, simkeys::kNortavoComma),
      product_(HKEY_CLASSES_ROOT, simkeys::kProduct),
      productInMachineKey_(HKEY_LOCAL_MACHINE, simkeys::kProduct),
      productCanary_(HKEY_CLASSES_ROOT, "SOFTWARE\\BorelleCanary"),
      nortavoMaker_(HKEY_LOCAL_MACHINE, simkeys::kNortavoMaker),
      veltraneMaker_(HKEY_LOCAL_MACHINE, simkeys::kVeltraneMaker),
      uninstallCanary_(HKEY_LOCAL_MACHINE, std::string(simkeys::kUninstall) + "\\TarnvaleCanary"),
      folder_(root_),
      driveRootSims_("C:\\Sims", false),
      driveRootUninstaller_("C:\\SIMUninstall.dll") {
    fs::RemoveTree(driveRootUninstaller_);
    fs::CreateFolders(productFolder());

    // Keys beside the SIMS and DSIMS keys, beside the product key, beside
    // the maker keys and in the Uninstall key.
    PlantKey(HKEY_LOCAL_MACHINE, std::string(simkeys::kBorelle) + "\\Canary");
    PlantKey(HKEY_LOCAL_MACHINE, std::string(simkeys::kNortavoComma) + "\\Canary");
    PlantKey(HKEY_CLASSES_ROOT, "SOFTWARE\\BorelleCanary");
    PlantKey(HKEY_LOCAL_MACHINE, std::string(simkeys::kNortavoMaker) + "\\Canary");
    PlantKey(HKEY_LOCAL_MACHINE, std::string(simkeys::kVeltraneMaker) + "\\Canary");
    const std::string canaryEntry = std::string(simkeys::kUninstall) + "\\TarnvaleCanary";
    PlantKey(HKEY_LOCAL_MACHINE, canaryEntry);
    reg::SetString(HKEY_LOCAL_MACHINE, canaryEntry, "DisplayName", "Borelle SIM Canary");
    reg::SetString(HKEY_LOCAL_MACHINE, canaryEntry, "LogFile", root_ + "\\canarylog\\Uninst.isu");

    // Files where a wrongly joined or resolved path would lead: beside the
    // product folder, in the current directory (also as a relative product
    // folder "Quenta" would find them), at the root of the current drive
    // (where "\Sims" leads), behind links and in the canary entry's log folder.
    for (const std::string& relative :
         {std::string("canary.txt"), std::string("Sims\\Alpha\\canary.txt"), std::string("SIMUninstall.dll"),
          std::string("AlphaUninst.isu"), std::string("outside\\canary.txt"), std::string("outside\\Sub\\canary.txt"),
          std::string("cwd\\canary.txt"), std::string("cwd\\Sims\\Alpha\\canary.txt"),
          std::string("cwd\\SIMUninstall.dll"), std::string("cwd\\Quenta\\Sims\\Alpha\\canary.txt"),
          std::string("cwd\\Quenta\\SIMUninstall.dll"), std::string("canarylog\\canary.txt")}) {
        fileCanaries_.push_back(root_ + "\\" + relative);
    }
    for (const std::string& path : fileCanaries_) {
        fs::CreateFolders(path.substr(0, path.rfind('\\')));
        fs::WriteFile(path, kCanaryText);
    }
    currentDirectory_ = std::make_unique<ScopedCurrentDirectory>(currentFolder());
    for (const std::string& relative : {std::string("Sims\\Alpha\\canary.txt"), std::string("SIMUninstall.dll"),
                                        std::string("AlphaUninst.isu")}) {
        const std::string path = DriveRoot() + relative;
        fs::CreateFolders(path.substr(0, path.rfind('\\')));
        fs::WriteFile(path, kCanaryText);
        fileCanaries_.push_back(path);
    }
}

SimWorld::~SimWorld() {
    currentDirectory_.reset();
    fs::RemoveTree(driveRootUninstaller_);
    fs::RemoveTree("C:\\AlphaUninst.isu");
}

void SimWorld::PlantKey(HKEY root, const std::string& path) {
    reg::SetString(root, path, kCanaryValue, kCanaryText);
    keyCanaries_.push_back({root, path});
}

void SimWorld::RegisterProductFolder(const std::string& folder) {
    reg::SetString(HKEY_CLASSES_ROOT, simkeys::kProductFolder, "", folder);
}

void SimWorld::AddRegistration(const char* parentKey, const std::string& name, const char* guid) {
    const std::string path = std::string(parentKey) + "\\" + name;
    reg::CreateKey(HKEY_LOCAL_MACHINE, path);
    if (guid != nullptr) reg::SetString(HKEY_LOCAL_MACHINE, path, "GUID", guid);
}

std::string SimWorld::UninstallEntryPath(const std::string& name) const {
    return std::string(simkeys::kUninstall) + "\\" + name;
}

void SimWorld::TrackUninstallEntry(const std::string& name) {
    uninstallEntries_.push_back(std::make_unique<ScopedRegistryTree>(HKEY_LOCAL_MACHINE, UninstallEntryPath(name)));
}

void SimWorld::AddUninstallEntry(const std::string& name, const char* logFile, const char* displayName) {
    const std::string path = UninstallEntryPath(name);
    TrackUninstallEntry(name);
    reg::CreateKey(HKEY_LOCAL_MACHINE, path);
    if (logFile != nullptr) reg::SetString(HKEY_LOCAL_MACHINE, path, "LogFile", logFile);
    if (displayName != nullptr) reg::SetString(HKEY_LOCAL_MACHINE, path, "DisplayName", displayName);
}

void SimWorld::AddProductFiles(const std::vector<std::string>& relativePaths) {
    for (const std::string& relative : relativePaths) {
        const std::string path = productFolder() + "\\" + relative;
        if (!relative.empty() && relative.back() == '\\') {
            fs::CreateFolders(path.substr(0, path.size() - 1));
        } else {
            fs::CreateFolders(path.substr(0, path.rfind('\\')));
            fs::WriteFile(path, relative);
        }
    }
}

void SimWorld::ReleaseFileCanary(const std::string& path) {
    for (auto it = fileCanaries_.begin(); it != fileCanaries_.end(); ++it) {
        if (_stricmp(it->c_str(), path.c_str()) == 0) {
            fileCanaries_.erase(it);
            return;
        }
    }
    ADD_FAILURE() << "no canary at " << path;
}

std::string SimWorld::DamagedCanaries() const {
    std::string damaged;
    for (const std::string& path : fileCanaries_) {
        if (fs::ReadFile(path) != kCanaryText) damaged += "  file " + path + "\n";
    }
    for (const KeyCanary& key : keyCanaries_) {
        if (!reg::ValueExists(key.root, key.path, kCanaryValue)) damaged += "  key " + key.path + "\n";
    }
    return damaged;
}

void SimCleanupTest::TearDown() { EXPECT_EQ(world_.DamagedCanaries(), "") << "canaries damaged by the run"; }

int SimCleanupTest::CleanSilently() {
    const std::string before = fs::CurrentDirectory();
    const int result = library_.CleanSIMInfoSilent();
    EXPECT_EQ(fs::CurrentDirectory(), before) << "the current directory changed";
    return result;
}

}  // namespace tarnvale::test
