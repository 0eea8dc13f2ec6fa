// A folder held open for the whole of its removal, so that what was checked
// is what is cleared. It is held without FILE_SHARE_DELETE: while held it
// cannot be renamed, moved, deleted or replaced by a link. Its entries are
// listed through the held handle and opened relative to it, never by a path
// that could be resolved again; each one is checked to be the entry of that
// name in this very folder, not whatever a link leads to. In a plan run it
// deletes nothing and treats what the plan has deleted as gone
// (plan/plan_run.h).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace tarnvale {

class PinnedFolder {
public:
    struct Entry {
        std::wstring name;
        DWORD attributes;
    };

    PinnedFolder() = default;

    // How the last component of a path is opened: followed when it is a
    // link (a folder on the way to the one to clear), or as itself where the
    // platform can (a junction or symbolic link is then held as the link and
    // is no plain folder).
    enum class LastLink { Follow, AsItself };

    // Holds the folder at `extendedPath`; links on the way are followed.
    static PinnedFolder Open(const std::wstring& extendedPath, LastLink lastLink);

    explicit operator bool() const noexcept { return static_cast<bool>(handle_); }

    // Whether a held sub-folder is to be removed through its own handle
    // once it is cleared (RemoveIfEmpty).
    enum class Removal { None, WhenEmpty };

    // Holds the sub-folder `name`, opened relative to this folder. Empty
    // unless it is a plain folder (no reparse point) that is this folder's
    // own entry of that name: a link that the platform follows anyway leads
    // to another folder and is refused. With Removal::WhenEmpty it is held
    // with the right to delete it too, where the platform grants it.
    PinnedFolder Subfolder(const std::wstring& name, Removal removal = Removal::None) const;

    // The folder's final path in extended form ("\\?\C:\...", "\\?\UNC\...")
    // as the platform knows the held folder; the path it was opened by where
    // the platform cannot tell.
    // Asked of the platform on first use.
    const std::wstring& finalPath() const;

    // A directory that is no reparse point, as the held handle tells.
    bool IsPlainFolder() const;

    // The entries directly in the folder (without "." and ".."), listed
    // through the held handle. An error ends the list there.
    std::vector<Entry> Entries() const;

    // Deletes the file `name` of this folder: opened relative to it as the
    // file itself (a link as the link), and only when it is this folder's own
    // entry of that name; a file that the platform would follow to its
    // target is passed by. With `readOnlyToo` a file listed as read-only
    // (`attributes`, as Entries gave them) is made writable first and gets
    // its attributes back when it still cannot go; without it a read-only
    // file stays. True when it was deleted.
    bool DeleteFileEntry(const std::wstring& name, DWORD attributes, bool readOnlyToo) const;

    // Deletes the held folder itself when it is empty by now, through the
    // handle that held it while it was cleared, and lets go of it: what was
    // checked and cleared is what goes. Only a folder held by Subfolder with
    // Removal::WhenEmpty can go. True when it was deleted.
    bool RemoveIfEmpty();

    // Opens the file `name` of this folder to append to it, creating it when
    // it is missing: opened relative to this folder as the file itself, and
    // only when it is a plain file that is this folder's own entry of that
    // name (no link, also none that the platform follows anyway, no reparse
    // point, no folder). Empty otherwise.
    UniqueFile OpenOwnFileToAppend(const std::wstring& name) const;

private:
    // The id of this folder's entry `name` for a plan run (see plan/plan_run.h).
    std::wstring EntryId(const std::wstring& name) const;
    // The platform's name of the held folder, as each entry opened in it is
    // named below it. Asked of the platform on first use.
    const std::wstring& objectName() const;
    // The path below the volume ("\Quenta\Sims"), as the handle tells; for
    // a plan run's entry ids. Asked of the platform on first use.
    const std::wstring& nameOnVolume() const;

    UniqueFile handle_;
    std::wstring namedPath_;  // the path it was opened by, for where the platform cannot tell its final path
    mutable std::wstring finalPath_;
    mutable std::wstring nameOnVolume_;
    mutable std::wstring objectName_;
    mutable DWORD attributes_ = INVALID_FILE_ATTRIBUTES;  // asked on first use where not known from the open
    bool mayRemove_ = false;  // held with the right to delete it
    mutable std::wstring volumeSerial_;  // for a plan run's entry ids, asked on first use
};

// The attributes of the entry at `extendedPath` as the run sees it
// (GetFileAttributesW): INVALID_FILE_ATTRIBUTES when it is missing, and in a
// plan run also when the plan has deleted it already.
DWORD EntryAttributes(const std::wstring& extendedPath);

}  // namespace tarnvale
