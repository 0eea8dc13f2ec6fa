#include "guard/file_deletion.h"

#include <windows.h>

#include "common/paths.h"
#include "guard/folder_guard.h"

namespace tarnvale {
namespace {

// Deletes the files directly in a held folder; sub-folders (links included)
// are never entered.
void DeleteFolderFiles(const PinnedFolder& folder) {
    for (const PinnedFolder::Entry& entry : folder.Entries()) {
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        folder.DeleteFileEntry(entry.name, entry.attributes, true);  // a file that cannot go is passed by
    }
}

}  // namespace

int RemoveFolderFiles(const std::string& folder) {
    PinnedFolder held = FolderToClear(folder);
    if (!held) return 0;
    DeleteFolderFiles(held);
    held.RemoveIfEmpty();
    return 1;
}

int RemoveSubfolderFiles(const PinnedFolder& parent, const std::wstring& name) {
    PinnedFolder held = SubfolderToClear(parent, name);
    if (!held) return 0;
    DeleteFolderFiles(held);
    held.RemoveIfEmpty();
    return 1;
}

void DeleteFilesIfPresent(const std::string& folder, const StringList& names) {
    const std::wstring extended = ExtendedPath(folder);
    if (extended.empty()) return;
    const PinnedFolder held = PinnedFolder::Open(extended, PinnedFolder::LastLink::Follow);
    if (!held) return;
    for (const std::string& name : names) held.DeleteFileEntry(ToWide(name), 0, false);  // missing: nothing to do
}

}  // namespace tarnvale
