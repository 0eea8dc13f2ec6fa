#include "frame/module_state.h"

namespace tarnvale {
namespace {

ModuleState g_moduleState;
// Plain module state, not thread_local: the exports run on the setup's one
// thread, and the static runtime's emulated thread-local storage takes a
// slot of the host process at each load that it never gives back.
ModuleState* g_currentModuleState = nullptr;

}  // namespace

ModuleState& LibraryModuleState() noexcept { return g_moduleState; }

ModuleState* CurrentModuleState() noexcept { return g_currentModuleState; }

ModuleState* SetCurrentModuleState(ModuleState* state) noexcept {
    ModuleState* previous = g_currentModuleState;
    g_currentModuleState = state;
    return previous;
}

}  // namespace tarnvale

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
// Frees the C++ runtime's reserve for exceptions thrown when memory runs out.
void __freeres() noexcept;
}  // namespace __gnu_cxx
#endif

// Keeps the library's instance handle; the library's own module is both its
// first resource source and its resource chain from load on. When a setup
// unloads the library (FreeLibrary, not process exit) the statically linked
// C++ runtime's exception reserve goes back too: the runtime allocates it at
// load and never frees it, so a setup that loads the library for each call
// would lose some 70 KiB per load.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        tarnvale::ModuleState& state = tarnvale::LibraryModuleState();
        state.instance = instance;
        state.resourceSource = instance;
        state.resourceChain = instance;
    }
#if defined(__GLIBCXX__)
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) __gnu_cxx::__freeres();
#else
    (void)reserved;
#endif
    return TRUE;
}
