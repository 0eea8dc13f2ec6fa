// The optional resource library "TarnvaleRes.Dll": while an export holds it,
// it is the current resource source, so its texts and dialogs replace the
// library's own item by item.
#pragma once

#include <windows.h>

namespace tarnvale {

extern HMODULE g_hResourceLibrary;   // the loaded resource library, or null
extern HMODULE g_hSavedResource;     // the resource source it replaced, or null
extern int g_nResourceRequests;      // loads not yet matched by a free

void LoadResourceLibrary();
void FreeResourceLibrary(bool force);

// Holds the resource library for one export: loads it on construction and
// frees it (force = 0) when released or, at the latest, on every way out.
class ResourceLibraryScope {
public:
    ResourceLibraryScope() { LoadResourceLibrary(); }
    ~ResourceLibraryScope() { Release(); }
    ResourceLibraryScope(const ResourceLibraryScope&) = delete;
    ResourceLibraryScope& operator=(const ResourceLibraryScope&) = delete;

    void Release() noexcept {
        if (held_) {
            held_ = false;
            FreeResourceLibrary(false);
        }
    }

private:
    bool held_ = true;
};

}  // namespace tarnvale
