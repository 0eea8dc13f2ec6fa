// The SIM cleanup demo's helper: seeds the leftovers of three earlier SIM
// installations around a product installed in C:\Program Files\Nortavo\Quenta,
// lists what is there in a form a setup author can read, and clears it again.
//   sim_demo seed | show | clear
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "file_fixture.h"
#include "registry_fixture.h"
#include "sim_leftovers.h"
#include "sim_world.h"

namespace {

using namespace tarnvale::test;

const std::string kProductFolder = R"(C:\Program Files\Nortavo\Quenta)";
const std::string kLogRoot = R"(C:\ProgramData\Nortavo\SIM Logs)";
const std::string kProductEntry = "Quenta HMI 5.1";
const std::string kProductMakerKey = R"(SOFTWARE\Nortavo Inc.\Quenta HMI)";

std::string ReadValue(const std::string& path, const char* name) {
    char value[1024] = {};
    DWORD size = sizeof(value) - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

void Seed() {
    SeedSimLeftovers(kProductFolder, ThreeSims(kLogRoot));
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

void Clear() {
    ClearSimLeftovers(kProductFolder, ThreeSims(kLogRoot));
    reg::DeleteTree(HKEY_CLASSES_ROOT, simkeys::kProduct);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, simkeys::kNortavoComma);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, std::string(simkeys::kUninstall) + "\\" + kProductEntry);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, simkeys::kNortavoMaker);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, simkeys::kVeltraneMaker);
    fs::RemoveTree(R"(C:\Program Files\Nortavo)");
    fs::RemoveTree(R"(C:\ProgramData\Nortavo)");
}

// Lists the subkeys of a key with their GUID, display name and log file;
// with `withLogFileOnly` only those that name a log file (the platform's own
// entries do not).
void ShowKey(const char* title, const std::string& path, bool withLogFileOnly = false) {
    std::printf("  %s\n", title);
    std::printf("    HKLM\\%s\n", path.c_str());
    bool any = false;
    for (const std::string& name : reg::SubkeyNames(HKEY_LOCAL_MACHINE, path)) {
        const std::string key = path + "\\" + name;
        const std::string guid = ReadValue(key, "GUID");
        const std::string displayName = ReadValue(key, "DisplayName");
        const std::string logFile = ReadValue(key, "LogFile");
        if (withLogFileOnly && logFile.empty()) continue;
        any = true;
        std::string details;
        if (!guid.empty()) details += "GUID " + guid;
        if (!displayName.empty()) details += "\"" + displayName + "\"";
        if (details.empty()) {
            std::printf("      %s\n", name.c_str());
        } else {
            std::printf("      %-52s %s\n", name.c_str(), details.c_str());
        }
        if (!logFile.empty()) std::printf("      %-52s log %s\n", "", logFile.c_str());
    }
    if (!any) std::printf("      (none)\n");
}

void ShowFolder(const char* title, const std::string& folder) {
    std::printf("  %s\n    %s\n", title, folder.c_str());
    const std::vector<std::string> entries = fs::ListTree(folder);
    for (const std::string& entry : entries) {
        const DWORD attributes = fs::GetAttributes(folder + "\\" + entry);
        const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                              !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        std::printf("      %s%s\n", entry.c_str(), readOnly ? "   (read-only)" : "");
    }
    if (!fs::Exists(folder)) {
        std::printf("      (folder gone)\n");
    } else if (entries.empty()) {
        std::printf("      (empty)\n");
    }
}

void Show() {
    std::printf("Registry\n");
    ShowKey("SIM registrations", simkeys::kSims);
    ShowKey("SIM registrations, second group", simkeys::kDsims);
    ShowKey("Installed programs (entries with a log file)", simkeys::kUninstall, true);
    ShowKey("Maker keys of Nortavo", simkeys::kNortavoMaker);
    ShowKey("Maker keys of Veltrane", simkeys::kVeltraneMaker);
    std::printf("Files\n");
    ShowFolder("Product folder", kProductFolder);
    ShowFolder("SIM log folders", kLogRoot);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const char* command = argc > 1 ? argv[1] : "";
    if (std::strcmp(command, "seed") == 0) {
        Clear();
        Seed();
    } else if (std::strcmp(command, "show") == 0) {
        Show();
    } else if (std::strcmp(command, "clear") == 0) {
        Clear();
    } else {
        std::fprintf(stderr, "usage: sim_demo seed | show | clear\n");
        return 2;
    }
    return 0;
}
