#include "demo_state.h"

#include "file_fixture.h"
#include "registry_fixture.h"
#include "sim_world.h"

namespace tarnvale::test::demo {
namespace {

const std::string kProductEntry = "Quenta HMI 5.1";
const std::string kProductMakerKey = R"(SOFTWARE\Nortavo Inc.\Quenta HMI)";

}  // namespace

std::vector<SimLeftover> DemoSims() { return ThreeSims(kLogRoot); }

void SeedDemoState() {
    ClearDemoState();
    SeedSimLeftovers(kProductFolder, DemoSims());
    // The product itself, which stays: its key, its files, its entry and maker key.
    reg::SetString(HKEY_CLASSES_ROOT, simkeys::kProductFolder, "", kProductFolder);
    reg::SetString(HKEY_LOCAL_MACHINE, simkeys::kBorelle, "Borelle Version", "5.1");
    const std::string entry = std::string(simkeys::kUninstall) + "\\" + kProductEntry;
    reg::SetString(HKEY_LOCAL_MACHINE, entry, "DisplayName", "Quenta HMI 5.1");
    reg::SetString(HKEY_LOCAL_MACHINE, entry, "LogFile", kProductFolder + "\\setup.log");
    reg::SetString(HKEY_LOCAL_MACHINE, kProductMakerKey, "InstallDir", kProductFolder);
    fs::WriteFile(kProductFolder + "\\Quenta.exe", "the product");
    fs::WriteFile(kProductFolder + "\\setup.log", "the product's setup log");
    fs::CreateFolders(kProductFolder + "\\Bin");
    fs::WriteFile(kProductFolder + "\\Bin\\Runtime.dll", "the product's runtime");
}

void ClearDemoState() {
    ClearSimLeftovers(kProductFolder, DemoSims());
    reg::DeleteTree(HKEY_CLASSES_ROOT, simkeys::kProduct);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, simkeys::kNortavoComma);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, std::string(simkeys::kUninstall) + "\\" + kProductEntry);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, simkeys::kNortavoMaker);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, simkeys::kVeltraneMaker);
    fs::RemoveTree(R"(C:\Program Files\Nortavo)");
    fs::RemoveTree(R"(C:\ProgramData\Nortavo)");
}

}  // namespace tarnvale::test::demo
