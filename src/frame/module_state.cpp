#include "frame/module_state.h"

// A standard header, which tells which C++ runtime this is (__GLIBCXX__):
// without one the runtime's reserve below would never be freed.
#include <new>

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

#if defined(__MINGW32__) && defined(__GNUC__)
// The thread callback of the statically linked POSIX threads library
// (winpthreads), when the library pulls it in. When the runtime has used it
// on the setup's thread (the bookkeeping of a thrown exception does), it
// keeps a record of that thread with a copy of the thread handle and an
// event, which it releases only when the thread ends. Weak: a build that
// links no winpthreads has none. (The runtime's one-time initialisation at
// load and unload avoids it altogether: frame/runtime_once.cpp.)
extern "C" const PIMAGE_TLS_CALLBACK __xl_f __attribute__((weak));
#endif

// Keeps the library's instance handle; the library's own module is both its
// first resource source and its resource chain from load on. When a setup
// unloads the library (FreeLibrary, not process exit) the statically linked
// C++ runtime's exception reserve goes back too: the runtime allocates it at
// load and never frees it, so a setup that loads the library for each call
// would lose some 70 KiB per load. So does the threads library's record of
// the calling thread, which would otherwise cost a thread handle and an
// event on every load of the 32-bit library.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        tarnvale::ModuleState& state = tarnvale::LibraryModuleState();
        state.instance = instance;
        state.resourceSource = instance;
        state.resourceChain = instance;
    }
#if defined(__MINGW32__) && defined(__GNUC__)
    // The record is released as if the thread ended.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr && &__xl_f != nullptr && __xl_f != nullptr) {
        __xl_f(instance, DLL_THREAD_DETACH, nullptr);
    }
#endif
#if defined(__GLIBCXX__)
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) __gnu_cxx::__freeres();
#else
    (void)reserved;
#endif
    return TRUE;
}
