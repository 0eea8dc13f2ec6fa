// --report: what a call of the library removed. Before the call the host
// records the registry keys and files that the library works on; after it,
// it prints what is gone.
#pragma once

#include <windows.h>

#include <set>
#include <string>

namespace tarnvale::host {

// The library's texts (registry paths, folder names) as the library finds
// them: from the resource library "TarnvaleRes.dll" when the platform's
// search finds one, otherwise from the library itself.
class LibraryTexts {
public:
    explicit LibraryTexts(HMODULE library);
    ~LibraryTexts();
    LibraryTexts(const LibraryTexts&) = delete;
    LibraryTexts& operator=(const LibraryTexts&) = delete;

    std::string Get(UINT id) const;

private:
    HMODULE library_;
    HMODULE resourceLibrary_;
};

struct Inventory {
    std::set<std::string> keys;     // "HKLM\path", "HKCR\path"
    std::set<std::string> folders;  // full paths
    std::set<std::string> files;    // full paths
};

// The SIMS and DSIMS registrations, the product keys, the Uninstall entries,
// the maker keys, and the files and folders below the product folder and in
// the Uninstall entries' log folders.
Inventory TakeInventory(const LibraryTexts& texts);

// Prints what `before` holds and `after` no longer does, each removed tree
// once, at its top.
void PrintRemoved(const char* exportName, const Inventory& before, const Inventory& after);

}  // namespace tarnvale::host
