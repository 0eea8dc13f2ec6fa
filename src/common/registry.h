// Reading the registry and deleting keys. Every key is opened for
// reading only, in the one registry view of this build, and closed by its
// owner on every way out.
#pragma once

#include <windows.h>

#include <string>

#include "common/string_list.h"
#include "common/unique_handle.h"

namespace tarnvale {

// The access every key of the library is opened with. The view flag lives
// here alone, so a 64-bit build can be pointed at the 32-bit view (where the
// 32-bit setup keeps its keys) by adding KEY_WOW64_32KEY in this one place.
inline constexpr REGSAM kRegistryView = 0;
inline constexpr REGSAM kReadAccess = KEY_READ | kRegistryView;

// Values are read into a buffer of this many bytes, terminator included.
inline constexpr DWORD kValueBufferSize = MAX_PATH;

// True for a key path made of non-empty components: not empty, no leading,
// trailing or doubled backslash. Anything else could name a root or a
// parent key instead of the key meant.
bool IsWellFormedKeyPath(const std::string& path);

// Opens `path` below `root` with kReadAccess. Returns an empty owner when the
// key cannot be opened or the path is not well formed.
UniqueKey OpenKeyForReading(HKEY root, const std::string& path);

// Reads value `name` ("" for the default value) of an open key into a
// kValueBufferSize buffer and gives its bytes as text up to the first NUL,
// or all of them when there is none, whatever the value's type. False when
// the value is missing or does not fit; `text` is then left as it was.
bool ReadStringValue(HKEY key, const std::string& name, std::string& text);

// The names of the subkeys of `key`, in enumeration order. Each name is read
// into a buffer of 255 characters, terminator included: the longest name the
// registry allows (255) does not fit, and it ends the list there, as does any
// other error of the enumeration.
StringList SubkeyNames(HKEY key);

// Opens `path` below `root`, reads value `name` into `out` and closes the
// key. Returns 1 when the value was read, 0 otherwise (out unchanged).
int ReadRegistryString(HKEY root, const std::string& path, const std::string& name, std::string& out);

// Deletes the key `path` below the open key `parent` with all its subkeys
// and values. A path that is not well formed is refused, so neither
// `parent` itself nor any key above the one named can go. A key that denies
// reading (its subtree cannot be walked) still goes when it has no subkeys.
// True when the key was deleted.
bool DeleteKeyTree(HKEY parent, const std::string& path);

// Deletes the key `path` below the open key `parent` with its values, only
// when it has no subkeys of its own (the platform's plain key deletion); a
// key with subkeys stays as it is. The same refusal of a path that is not
// well formed applies. True when the key was deleted.
bool DeleteKeyWithoutSubkeys(HKEY parent, const std::string& path);

}  // namespace tarnvale
