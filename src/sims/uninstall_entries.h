// The SIMs' entries in the platform's list of installed programs, with the
// log folder and the maker key that belong to each.
#pragma once

#include <windows.h>

#include "common/string_list.h"
#include "guard/key_guard.h"

namespace tarnvale {

// Looks up one Uninstall entry per text of `guidList`, first by the text
// itself, then as "Borelle SIM " + text; removes each entry found with its
// log folder and maker key, strictly in list order.
void RemoveSimUninstallEntries(const StringList& guidList);

// For one open Uninstall entry: clears the folder of its "LogFile" and
// deletes the maker key named after its "DisplayName" through `makerKeys`
// (below HKEY_LOCAL_MACHINE). The caller closes and deletes the entry itself.
void RemoveUninstallEntry(HKEY entry, KeyWays& makerKeys);

}  // namespace tarnvale
