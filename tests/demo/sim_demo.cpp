// The SIM cleanup demo's helper: seeds the leftovers of three earlier SIM
// installations around a product installed in C:\Program Files\Nortavo\Quenta,
// lists what is there in a form a setup author can read, and clears it again.
//   sim_demo seed | show | clear
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "demo_state.h"
#include "file_fixture.h"
#include "machine_snapshot.h"
#include "registry_fixture.h"
#include "sim_world.h"

namespace {

using namespace tarnvale::test;
using demo::kLogRoot;
using demo::kProductFolder;

std::string ReadValue(const std::string& path, const char* name) {
    char value[1024] = {};
    DWORD size = sizeof(value) - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

// Lists the subkeys of a key with their GUID, display name and log file;
// with `withLogFileOnly` only those that name a log file (the platform's own
// entries do not).
void ShowKey(const char* title, const std::string& path, bool withLogFileOnly = false) {
    std::printf("  %s\n", title);
    // Where the key lives: below WOW6432Node when this is the 32-bit helper.
    const std::string where = MachineKey(path);
    std::printf("    %s\n", where.substr(0, where.size() - 1).c_str());
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
        demo::SeedDemoState();
    } else if (std::strcmp(command, "show") == 0) {
        Show();
    } else if (std::strcmp(command, "clear") == 0) {
        demo::ClearDemoState();
    } else {
        std::fprintf(stderr, "usage: sim_demo seed | show | clear\n");
        return 2;
    }
    return 0;
}
