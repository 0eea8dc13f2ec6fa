// Reading open registry keys: values and subkey names. Keys are opened and
// deleted only through guard/key_guard.h, which never follows a registry link.
#pragma once

#include <windows.h>

#include <string>

#include "common/string_list.h"
#include "common/unique_handle.h"

namespace tarnvale {

// The registry view of every key the library opens or deletes. The view flag
// lives here alone, so a 64-bit build can be pointed at the 32-bit view (where
// the 32-bit setup keeps its keys) by adding KEY_WOW64_32KEY in this one place.
inline constexpr REGSAM kRegistryView = 0;
inline constexpr REGSAM kReadAccess = KEY_READ | kRegistryView;

// Values are read into a buffer of this many bytes, terminator included.
inline constexpr DWORD kValueBufferSize = MAX_PATH;

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

// The name of the key object an open key stands for, as the platform knows
// it ("\REGISTRY\MACHINE\SOFTWARE\..."): one name for a key however it was
// reached. Empty when the platform cannot tell.
std::wstring KeyObjectName(HKEY key);

}  // namespace tarnvale
