// Which folders a removal may enter and clear. Whatever a registry value
// names, no removal enters a reparse point (junction, symbolic link) and
// none clears a drive or share root, the Windows folder or its system
// folders, the Program Files and ProgramData folders, the profiles folder or
// a user's profile folder; during a SIM cleanup, neither the product folder
// nor a folder that holds it. These folders are asked of the platform and
// compared by their final paths, so no spelling (short names, "..", a link
// on the way) gets past the test.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnvale {

// True when something exists at `extendedPath` and is a reparse point.
bool IsReparsePoint(const std::wstring& extendedPath);

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

// Keeps one answer of the platform for as long as it lives on this thread,
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

// The final path of `folder` when a removal may clear it: an absolute path
// to an existing folder that is no reparse point and not protected. Empty
// when the folder must be left alone.
std::wstring FolderToClear(const std::string& folder);

}  // namespace tarnvale
