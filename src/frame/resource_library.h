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

// How a ResourceLibraryScope lets go of the resource library: counted
// (force = 0: unloaded once no request is left) or forced (force = 1:
// unloaded whatever requests are still outstanding).
enum class ResourceLibraryRelease { Counted, Forced };

// Holds the resource library for one export: loads it on construction and
// frees it when released or, at the latest, on every way out.
class ResourceLibraryScope {
public:
    explicit ResourceLibraryScope(ResourceLibraryRelease release = ResourceLibraryRelease::Counted)
        : force_(release == ResourceLibraryRelease::Forced) {
        LoadResourceLibrary();
    }
    ~ResourceLibraryScope() { Release(); }
    ResourceLibraryScope(const ResourceLibraryScope&) = delete;
    ResourceLibraryScope& operator=(const ResourceLibraryScope&) = delete;

    void Release() noexcept {
        if (held_) {
            held_ = false;
            FreeResourceLibrary(force_);
        }
    }

private:
    bool force_;
    bool held_ = true;
};

}  // namespace tarnvale
