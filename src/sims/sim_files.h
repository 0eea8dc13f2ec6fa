// The file-system half of the SIM cleanup: the SIM folders below "Sims", the
// per-SIM uninstall files and the shared uninstall library in the product
// folder, and the two folder operations they need.
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

// Deletes the files that lie directly in `folder` (read-only ones made
// writable first; sub-folders are never entered), then the folder itself if
// it is empty by then. Works on full paths and never changes the current
// directory. Returns 1 when the folder could be searched, 0 when it was left
// alone: an empty or relative path, a missing folder, one that cannot be
// entered, a reparse point or a protected folder.
int RemoveFolderFiles(const std::string& folder);

// Fills `subfolders` with the full paths ("folder\name") of the sub-folders
// of `folder`, leaving out links. Returns 0 for an empty path (the list then
// stays as it was), otherwise 1, also when the folder does not exist.
int CollectSubfolders(const std::string& folder, StringList& subfolders);

}  // namespace tarnvale
