// The compact form's own SIM registry sweep and Uninstall step: the older,
// simpler pair that works from SIM names alone. No DSIMS key, no GUIDs, no
// log folders or maker keys, and only keys without subkeys are deleted.
#pragma once

#include "common/string_list.h"

namespace tarnvale::compact {

// Lists the registrations of the SIMS key into `simList` (emptied first,
// once the key is open) and deletes each one that has no subkeys of its
// own; a registration with subkeys stays. Without a SIMS key the list is
// left as it was.
void SweepSimRegistry(StringList& simList);

// Deletes every Uninstall entry without subkeys whose name contains a SIM
// name, ignoring case. Upper-cases the SIM names in `simList` itself, so the
// later file step builds its file names from the upper-case names.
void RemoveSimUninstallEntries(StringList& simList);

}  // namespace tarnvale::compact
