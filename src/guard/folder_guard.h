// The rules for folders: which folders a removal may enter and clear.
//
// - No removal enters a reparse point (junction, symbolic link): a folder to
//   clear is held as itself and must be a plain folder (PinnedFolder).
// - None clears a root: a drive, share or volume root, in every form the
//   platform gives a path (IsRoot in folder_guard.cpp), judged on the path as
//   named and on the final path of the folder held.
// - None clears the Windows folder or its system folders, the Program Files
//   and ProgramData folders, the profiles folder or a user's profile folder
//   (ProtectedFolders::Query), and during a SIM cleanup neither the product
//   folder nor a folder that holds it (ProtectedFoldersScope). These folders
//   are asked of the platform and compared by their final paths, so no
//   spelling (short names, "..", a link on the way) gets past the test.
// - A folder is held from its check to the end of its removal, so that what
//   was checked is what is cleared (guard/pinned_folder.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "guard/pinned_folder.h"

namespace tarnvale {

class ProtectedFolders {
public:
    // Asks the platform for the protected folders.
    static ProtectedFolders Query();

    // True when the folder with this final path (extended form, as
    // GetFinalPathNameByHandleW gives it) must never be cleared.
    bool Protects(const std::wstring& finalPath) const;

    // Protects `folder` and every folder above it as well. An empty or
    // relative path adds nothing.
    void AddWithParents(const std::string& folder);

private:
    void Add(const std::wstring& folder);
    void AddProfilesFolder(const std::wstring& folder);

    std::vector<std::wstring> folders_;
    std::vector<std::wstring> profilesFolders_;  // each direct sub-folder is a user's profile
    std::vector<std::wstring> withParents_;      // each of these and every folder above it
};

// Keeps one answer of the platform for as long as it lives (one run),
// so that all the folder removals of one run ask only once. Asks on first use.
class ProtectedFoldersScope {
public:
    ProtectedFoldersScope() noexcept;
    // Protects the product folder and the folders above it too: a SIM's log
    // folder never takes the product's own files with it.
    explicit ProtectedFoldersScope(std::string productFolder) noexcept;
    ~ProtectedFoldersScope();
    ProtectedFoldersScope(const ProtectedFoldersScope&) = delete;
    ProtectedFoldersScope& operator=(const ProtectedFoldersScope&) = delete;

    const ProtectedFolders& folders();

private:
    std::optional<ProtectedFolders> folders_;
    std::string productFolder_;
    ProtectedFoldersScope* previous_;
};

// Holds the folder at `folder` (a path from the registry) when a removal may
// clear it: an absolute path to an existing plain folder (no reparse point,
// and the parent's own entry of that name) that is not protected. The folder
// is held from before the check until the removal ends, with the right to
// remove it once it is empty (PinnedFolder::RemoveIfEmpty) where it was
// held through its parent; one whose parent cannot be held, such as a
// share's root, is only cleared. An empty result when the folder must be
// left alone.
PinnedFolder FolderToClear(const std::string& folder);

// The sub-folder `name` of a held folder, held with the right to remove it
// once empty, when a removal may clear it: a plain folder that is not
// protected. Empty otherwise.
PinnedFolder SubfolderToClear(const PinnedFolder& parent, const std::wstring& name);

}  // namespace tarnvale
