#include "sims/registry_sweep.h"

#include <windows.h>

#include "common/registry.h"
#include "frame/resource_lookup.h"
#include "guard/key_guard.h"
#include "log/action_log.h"
#include "resources/resource.h"

namespace tarnvale {
namespace {

constexpr char kGuidValue[] = "GUID";

// Appends the registrations of `parent` to the lists. No registration is
// deleted here: deleting while enumerating would shift the indexes.
void ListRegistrations(HKEY parent, StringList& simList, StringList& guidList) {
    for (const std::string& simName : ListSubkeys(parent)) {
        simList.push_back(simName);
        const UniqueKey registration = OpenKeyForReading(parent, simName);
        if (!registration) {
            // Listed and deleted, but it has no GUID to give.
            actionlog::RegistrationWithoutGuid(simName);
            continue;
        }
        std::string guid;
        ReadStringValue(registration.get(), kGuidValue, guid);  // missing or too long: empty
        if (guid.empty()) actionlog::RegistrationWithoutGuid(simName);
        guidList.push_back(guid.empty() ? simName : guid);
    }
}

void DeleteRegistrations(HKEY parent, const StringList& simList, size_t first) {
    for (size_t position = first; position < simList.size(); ++position) {
        DeleteKeyTree(parent, simList[position]);  // a failure is passed over
    }
}

}  // namespace

void SweepSimRegistry(StringList& simList, StringList& guidList) {
    UniqueKey sims = OpenKeyForReading(HKEY_LOCAL_MACHINE, ResourceString(IDS_SIMS_KEY));
    if (!sims) return;  // no SIMS key: the DSIMS key is not looked at either
    simList.clear();
    ListRegistrations(sims.get(), simList, guidList);
    const size_t simsCount = simList.size();
    DeleteRegistrations(sims.get(), simList, 0);
    sims.reset();

    const UniqueKey dsims = OpenKeyForReading(HKEY_LOCAL_MACHINE, ResourceString(IDS_DSIMS_KEY));
    if (!dsims) return;
    ListRegistrations(dsims.get(), simList, guidList);
    DeleteRegistrations(dsims.get(), simList, simsCount);
}

}  // namespace tarnvale
