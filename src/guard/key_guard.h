// The rules for registry keys: which keys may be opened, read and deleted.
//
// - A key path must be made of non-empty components: no leading, trailing or
//   doubled backslash, so no root and no parent key is named in place of the
//   key meant (IsWellFormedKeyPath).
// - Nothing is read, walked or deleted through a registry link: every key is
//   opened one path component at a time as the key itself
//   (REG_OPTION_OPEN_LINK), and a link on the way ends the path there
//   (OpenOwnPath in key_guard.cpp).
// - A link that is itself the key to delete is deleted as a link; its target
//   stays. A tree deletion never descends into a link (DeleteOwnKey).
//
// Every key the library opens goes through OpenKeyForReading (or
// OpenKeyToReadAndDelete), every list of subkeys through ListSubkeys, and
// every key it deletes through DeleteKeyTree (also by way of KeyWays) or
// DeleteKeyWithoutSubkeys. In a plan run these delete nothing and treat what
// the plan has deleted as gone (plan/plan_run.h).
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "common/string_list.h"
#include "common/unique_handle.h"

namespace tarnvale {

// True for a key path made of non-empty components: not empty, no leading,
// trailing or doubled backslash.
bool IsWellFormedKeyPath(const std::string& path);

// The names of the subkeys of an open key as the run sees them
// (SubkeyNames): in a plan run, without the keys it has deleted already.
StringList ListSubkeys(HKEY key);

// Opens `path` below `root` for reading. Empty when the path is not well
// formed, a key is missing or cannot be read, or any key of the path, the
// last one included, is a registry link; the action log then says which
// ("registry link", "registry link on the way").
UniqueKey OpenKeyForReading(HKEY root, const std::string& path);

// Opens a key of the machine's own (the profile list) for reading as
// OpenKeyForReading does, in the 64-bit view whatever the library's build:
// the machine's own keys live there, and a 32-bit process may reach them only
// through a link of its view (Wine shares such keys between both views by
// registry links).
UniqueKey OpenMachineKeyForReading(HKEY root, const std::string& path);

// Opens `path` below `root` as OpenKeyForReading does, reads value `name`
// into `out` and closes the key. Returns 1 when the value was read, 0
// otherwise (out unchanged).
int ReadRegistryString(HKEY root, const std::string& path, const std::string& name, std::string& out);

// Deletes the key `path` below the open key `parent` with all its subkeys
// and values. The keys on the way to it must be real keys; a link among its
// subkeys, or the key itself when it is a link, is deleted as a link and its
// target stays. A key that denies reading (its subtree cannot be walked)
// still goes when it has no subkeys. True when the key was deleted.
bool DeleteKeyTree(HKEY parent, const std::string& path);

// A key opened to be read and then deleted with its subtree
// (DeleteKeyTree(KeyToReadAndDelete&)): a registration, an Uninstall entry.
struct KeyToReadAndDelete {
    UniqueKey key;           // opened for reading; empty when it is missing, cannot be read or is a link
    bool isLink = false;     // the key is a registry link (never read; deleted as the link)
    bool deletable = false;  // `key` was opened with the right to delete it too
    HKEY parent = nullptr;
    std::string name;
};

// Opens the key `name` (one component) below `parent` as OpenKeyForReading
// does, and with the right to delete it too where the platform grants that,
// so that its deletion needs no second open.
KeyToReadAndDelete OpenKeyToReadAndDelete(HKEY parent, const std::string& name);

// Deletes a key opened by OpenKeyToReadAndDelete as DeleteKeyTree does (a
// link as the link), through its handle where that may delete it, by name
// otherwise, and closes it. True when the key was deleted.
bool DeleteKeyTree(KeyToReadAndDelete& opened);

// The keys on the way to many keys that a run deletes below one root, held
// once they are opened and checked (real keys, no link), so that their
// deletions open and check each way key once. What is held stays the key
// that was checked: a link put in its place later is never followed.
class KeyWays {
public:
    explicit KeyWays(HKEY root) noexcept;
    KeyWays(const KeyWays&) = delete;
    KeyWays& operator=(const KeyWays&) = delete;

    // DeleteKeyTree(root, path) through the held way keys.
    bool DeleteKeyTree(const std::string& path);

private:
    HKEY root_;
    std::map<std::string, UniqueKey> held_;  // by the way's path as named
};

// Deletes the key `path` below the open key `parent` with its values, only
// when it has no subkeys of its own; a key with subkeys stays as it is. A
// link is deleted as a link. True when the key was deleted.
bool DeleteKeyWithoutSubkeys(HKEY parent, const std::string& path);

}  // namespace tarnvale
