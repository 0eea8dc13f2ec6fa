#include "sims/compact_steps.h"

#include <windows.h>

#include <string>

#include "common/registry.h"
#include "frame/resource_lookup.h"
#include "guard/key_guard.h"
#include "resources/resource.h"

namespace tarnvale::compact {
namespace {

// The text in upper case, by the rules of the system's ANSI code page.
std::string UpperCase(std::string text) {
    if (!text.empty()) CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

void SweepSimRegistry(StringList& simList) {
    const UniqueKey sims = OpenKeyForReading(HKEY_LOCAL_MACHINE, ResourceString(IDS_SIMS_KEY));
    if (!sims) return;
    // All names first: deleting while enumerating would shift the indexes.
    simList = ListSubkeys(sims.get());
    for (const std::string& simName : simList) {
        DeleteKeyWithoutSubkeys(sims.get(), simName);  // a registration with subkeys stays
    }
}

void RemoveSimUninstallEntries(StringList& simList) {
    const UniqueKey uninstall = OpenKeyForReading(HKEY_LOCAL_MACHINE, ResourceString(IDS_UNINSTALL_KEY));
    if (!uninstall) return;
    for (const std::string& entryName : ListSubkeys(uninstall.get())) {
        const std::string upperEntryName = UpperCase(entryName);
        bool deleted = false;
        for (std::string& simName : simList) {
            // In the list itself: the SIM names stay upper-case for the file step.
            simName = UpperCase(simName);
            // An empty name would be found in every entry; a registry name is
            // never empty, but the list is not this step's to trust.
            if (deleted || simName.empty()) continue;
            if (upperEntryName.find(simName) != std::string::npos) {
                deleted = DeleteKeyWithoutSubkeys(uninstall.get(), entryName);  // an entry with subkeys stays
            }
        }
    }
}

}  // namespace tarnvale::compact
