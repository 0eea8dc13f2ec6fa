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

// Appends the registrations of `parent` to the lists and deletes each one
// once its GUID is read.
void SweepRegistrations(HKEY parent, StringList& simList, StringList& guidList) {
    // All names first: deleting while enumerating would shift the indexes.
    for (const std::string& simName : ListSubkeys(parent)) {
        simList.push_back(simName);
        KeyToReadAndDelete registration = OpenKeyToReadAndDelete(parent, simName);
        if (registration.key) {
            std::string guid;
            ReadStringValue(registration.key.get(), kGuidValue, guid);  // missing or too long: empty
            if (guid.empty()) actionlog::RegistrationWithoutGuid(simName);
            guidList.push_back(guid.empty() ? simName : guid);
        } else {
            // Listed and deleted, but it has no GUID to give.
            actionlog::RegistrationWithoutGuid(simName);
        }
        DeleteKeyTree(registration);  // a failure is passed over
    }
}

}  // namespace

void SweepSimRegistry(StringList& simList, StringList& guidList) {
    UniqueKey sims = OpenKeyForReading(HKEY_LOCAL_MACHINE, ResourceString(IDS_SIMS_KEY));
    if (!sims) return;  // no SIMS key: the DSIMS key is not looked at either
    simList.clear();
    SweepRegistrations(sims.get(), simList, guidList);
    sims.reset();

    const UniqueKey dsims = OpenKeyForReading(HKEY_LOCAL_MACHINE, ResourceString(IDS_DSIMS_KEY));
    if (!dsims) return;
    SweepRegistrations(dsims.get(), simList, guidList);
}

}  // namespace tarnvale
