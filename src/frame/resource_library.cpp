#include "frame/resource_library.h"

#include "frame/module_state.h"
#include "log/action_log.h"

namespace tarnvale {

HMODULE g_hResourceLibrary = nullptr;
HMODULE g_hSavedResource = nullptr;
int g_nResourceRequests = 0;

namespace {
constexpr char kResourceLibraryName[] = "TarnvaleRes.Dll";
}

void LoadResourceLibrary() {
    ++g_nResourceRequests;
    if (g_hResourceLibrary != nullptr) return;

    ModuleState& state = LibraryModuleState();
    g_hSavedResource = state.resourceSource;
    // The bare name: the platform's library search finds it beside the setup
    // program, in the system folders, the current directory or the path.
    g_hResourceLibrary = LoadLibraryA(kResourceLibraryName);
    if (g_hResourceLibrary != nullptr) {
        actionlog::ResourceLibraryLoaded(g_hResourceLibrary);
    } else {
        actionlog::ResourceLibraryMissing(GetLastError());
    }
    // Also on failure: a null source makes lookups try the host executable,
    // then the library's own resources.
    state.resourceSource = g_hResourceLibrary;
}

void FreeResourceLibrary(bool force) {
    --g_nResourceRequests;
    if (g_nResourceRequests != 0 && !force) return;

    if (g_hSavedResource != nullptr) {
        LibraryModuleState().resourceSource = g_hSavedResource;
        g_hSavedResource = nullptr;
    }
    if (g_hResourceLibrary == nullptr) return;
    FreeLibrary(g_hResourceLibrary);
    g_hResourceLibrary = nullptr;
    actionlog::ResourceLibraryReleased();
}

}  // namespace tarnvale
