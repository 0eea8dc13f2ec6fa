// Where the product is installed, as its setup stored it.
#pragma once

#include <string>

namespace tarnvale {

// Reads the product folder from the default value of the BASPATH key below
// HKEY_CLASSES_ROOT, once the product key there shows that the product is
// installed. Returns 1 and sets `out` to the folder exactly as stored (no
// backslash added or removed, not checked on disk); 0 when the product is
// not found, `out` unchanged.
int FindProductFolder(std::string& out);

}  // namespace tarnvale
