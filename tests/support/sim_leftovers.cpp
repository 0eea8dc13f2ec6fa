#include "sim_leftovers.h"

#include <cstdio>

#include "file_fixture.h"
#include "machine_snapshot.h"
#include "registry_fixture.h"
#include "sim_world.h"

namespace tarnvale::test {

namespace {

std::string SimFolder(const std::string& productFolder, const SimLeftover& sim) {
    return productFolder + "\\Sims\\" + sim.name;
}

std::string FolderOf(const std::string& folderWithSeparator) {
    return folderWithSeparator.substr(0, folderWithSeparator.size() - 1);
}

}  // namespace

std::vector<SimLeftover> ThreeSims(const std::string& logRoot) {
    return {
        {"Alarm", simkeys::kSims, "{6A1C2F10-3B7D-4E52-9A41-0C8E5D2B7F31}", "{6A1C2F10-3B7D-4E52-9A41-0C8E5D2B7F31}",
         "Quenta SIM Alarm", "SOFTWARE\\Nortavo Inc.\\Quenta SIMAlarm", logRoot + "\\Alarm\\",
         {"Alarm.dll", "Alarm.cfg", "Alarm.hlp"}, true},
        {"Trend", simkeys::kSims, "{B3E94D27-81A6-4C0F-B5D8-2F7A6E1C9053}",
         "Borelle SIM {B3E94D27-81A6-4C0F-B5D8-2F7A6E1C9053}", "Borelle SIM Trend",
         "SOFTWARE\\Nortavo Inc.\\Borelle SIM Trend", logRoot + "\\Trend\\", {"Trend.dll", "Trend.cfg"}, true},
        {"Recipe", simkeys::kDsims, "{0F5A8C3E-6D21-47B9-8E04-A3C7B1D96E28}", "{0F5A8C3E-6D21-47B9-8E04-A3C7B1D96E28}",
         "Recipe Manager", "SOFTWARE\\Veltrane\\Recipe Manager", logRoot + "\\Recipe\\",
         {"Recipe.dll", "Recipes.mdb"}, true},
    };
}

std::vector<SimLeftover> ManySims(size_t count, const std::string& logRoot, size_t filesPerSim) {
    std::vector<SimLeftover> sims;
    for (size_t i = 0; i < count; ++i) {
        char number[16];
        std::snprintf(number, sizeof(number), "%04zu", i);
        const std::string name = std::string("Sim") + number;
        const std::string guid = std::string("{00000000-0000-4000-8000-00000000") + number + "}";
        SimLeftover sim{name, simkeys::kSims, guid, guid, "Borelle SIM " + name,
                        "SOFTWARE\\Nortavo Inc.\\Borelle SIM " + name, logRoot + "\\" + name + "\\", {}, false};
        for (size_t file = 0; file < filesPerSim; ++file) sim.files.push_back("file" + std::to_string(file) + ".dat");
        sims.push_back(std::move(sim));
    }
    return sims;
}

void SeedSimLeftovers(const std::string& productFolder, const std::vector<SimLeftover>& sims) {
    const HKEY machine = HKEY_LOCAL_MACHINE;
    for (const SimLeftover& sim : sims) {
        const std::string registration = std::string(sim.parentKey) + "\\" + sim.name;
        reg::SetString(machine, registration, "GUID", sim.guid);
        reg::SetString(machine, registration + "\\Settings", "Version", "5.1");

        const std::string entry = std::string(simkeys::kUninstall) + "\\" + sim.entryName;
        reg::SetString(machine, entry, "DisplayName", sim.displayName);
        reg::SetString(machine, entry, "LogFile", sim.logFolder + "Uninst.isu");
        reg::SetString(machine, entry, "UninstallString", "RunDll32 SIMUninstall.dll,Uninstall " + sim.guid);
        reg::SetString(machine, sim.makerKey, "InstallDir", SimFolder(productFolder, sim));
        reg::SetString(machine, sim.makerKey + "\\Options", "Language", "1033");

        fs::CreateFolders(FolderOf(sim.logFolder));
        fs::WriteFile(sim.logFolder + "Uninst.isu", "log of " + sim.name);
        fs::CreateFolders(SimFolder(productFolder, sim));
        for (size_t i = 0; i < sim.files.size(); ++i) {
            const std::string file = SimFolder(productFolder, sim) + "\\" + sim.files[i];
            fs::WriteFile(file, sim.files[i]);
            if (sim.readOnlyFiles && i > 0) fs::SetAttributes(file, FILE_ATTRIBUTE_READONLY);
        }
        fs::WriteFile(productFolder + "\\" + sim.name + "Uninst.isu", "uninstall log of " + sim.name);
    }
    fs::WriteFile(productFolder + "\\SIMUninstall.dll", "shared SIM uninstaller");
}

std::vector<std::string> SimLeftoverEntries(const std::string& productFolder, const std::vector<SimLeftover>& sims) {
    std::vector<std::string> entries;
    for (const SimLeftover& sim : sims) {
        entries.push_back(MachineKey(std::string(sim.parentKey) + "\\" + sim.name));
        entries.push_back(MachineKey(std::string(simkeys::kUninstall) + "\\" + sim.entryName));
        entries.push_back(MachineKey(sim.makerKey));
        entries.push_back(sim.logFolder);
        entries.push_back(productFolder + "\\" + sim.name + "Uninst.isu");
    }
    entries.push_back(productFolder + "\\Sims\\");
    entries.push_back(productFolder + "\\SIMUninstall.dll");
    return entries;
}

void ClearSimLeftovers(const std::string& productFolder, const std::vector<SimLeftover>& sims) {
    for (const SimLeftover& sim : sims) {
        reg::DeleteTree(HKEY_LOCAL_MACHINE, std::string(sim.parentKey) + "\\" + sim.name);
        reg::DeleteTree(HKEY_LOCAL_MACHINE, std::string(simkeys::kUninstall) + "\\" + sim.entryName);
        reg::DeleteTree(HKEY_LOCAL_MACHINE, sim.makerKey);
        fs::RemoveTree(FolderOf(sim.logFolder));
        fs::RemoveTree(productFolder + "\\" + sim.name + "Uninst.isu");
    }
    fs::RemoveTree(productFolder + "\\Sims");
    fs::RemoveTree(productFolder + "\\SIMUninstall.dll");
}

}  // namespace tarnvale::test
