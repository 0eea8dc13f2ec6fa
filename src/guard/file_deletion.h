// Every file and folder deletion of the library. Folders are cleared only
// when guard/folder_guard.h allows it, and held from that check to the end
// of their removal; each file is deleted through the held folder, as itself
// (a file that is a link: the link goes, its target stays); only the files
// directly in a folder go, never a sub-folder's content; a folder goes only
// when it is empty; a file that cannot be deleted is passed by.
#pragma once

#include <string>

#include "common/string_list.h"
#include "guard/pinned_folder.h"

namespace tarnvale {

// Clears the folder at `folder` (a path from the registry) when the folder
// guard allows it: deletes the files directly in it, read-only ones made
// writable first, then the folder itself if it is empty by then. Returns 1
// when the folder was cleared, 0 when it was left alone: an empty or
// relative path, a missing folder, one that cannot be entered, a link or a
// protected folder.
int RemoveFolderFiles(const std::string& folder);

// The same for the sub-folder `name` of a held folder.
int RemoveSubfolderFiles(const PinnedFolder& parent, const std::wstring& name);

// Deletes each file of `names` directly in the folder `folder` where it is
// there; a read-only file stays. `folder` must be an absolute path; links on
// the way to it are followed, each file is deleted as itself.
void DeleteFilesIfPresent(const std::string& folder, const StringList& names);

}  // namespace tarnvale
