// The SIM registrations below the SIMS and DSIMS keys: listed, with their
// GUIDs, and deleted.
#pragma once

#include "common/string_list.h"

namespace tarnvale {

// Lists the registrations of the SIMS key and then of the DSIMS key into
// `simList` (emptied first, once the SIMS key is open) and, for each one that
// can be opened, its "GUID" value (or its name where that is empty) into
// `guidList`; then deletes each registration with its whole subtree,
// relative to its own parent key. Without a SIMS key nothing happens.
void SweepSimRegistry(StringList& simList, StringList& guidList);

}  // namespace tarnvale
