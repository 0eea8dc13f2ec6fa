#include "frame/module_state.h"

namespace tarnvale {
namespace {

ModuleState g_moduleState;
thread_local ModuleState* t_currentModuleState = nullptr;

}  // namespace

ModuleState& LibraryModuleState() noexcept { return g_moduleState; }

ModuleState* CurrentModuleState() noexcept { return t_currentModuleState; }

ModuleState* SetCurrentModuleState(ModuleState* state) noexcept {
    ModuleState* previous = t_currentModuleState;
    t_currentModuleState = state;
    return previous;
}

}  // namespace tarnvale

// Keeps the library's instance handle; the library's own module is both its
// first resource source and its resource chain from load on.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        tarnvale::ModuleState& state = tarnvale::LibraryModuleState();
        state.instance = instance;
        state.resourceSource = instance;
        state.resourceChain = instance;
    }
    return TRUE;
}
