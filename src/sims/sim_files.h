// The file-system half of the SIM cleanup: the SIM folders below "Sims", the
// per-SIM uninstall files and the shared uninstall library in the product
// folder. Every deletion goes through guard/file_deletion.h.
#pragma once

#include <string>

#include "common/string_list.h"

namespace tarnvale {

// Clears every SIM folder below the product folder's "Sims" folder (files
// directly in them only) and removes the folders and "Sims" where they are
// empty afterwards.
void RemoveSimFolders(const std::string& productFolder);

// Deletes "<SIM name>Uninst.isu" in the product folder for each SIM of the
// list. Always 1.
int DeleteSimUninstallLogs(const std::string& productFolder, const StringList& simList);

// Deletes "SIMUninstall.dll" in the product folder. Always 1.
int DeleteSimUninstaller(const std::string& productFolder);

}  // namespace tarnvale
