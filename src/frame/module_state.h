// The library's module state: its own instance, the current source of texts
// and dialog templates, and the resource chain behind it.
#pragma once

#include <windows.h>

namespace tarnvale {

struct ModuleState {
    HINSTANCE instance = nullptr;       // the library's own module
    HMODULE resourceSource = nullptr;   // searched first; null means the host executable
    HMODULE resourceChain = nullptr;    // searched second: the library's own module
};

// The one module state of this library, set up when the library is loaded.
ModuleState& LibraryModuleState() noexcept;

// The module state current in the export that runs (one at a time, on the
// setup's thread), or null outside any frame of this library (the caller's
// own state then applies).
ModuleState* CurrentModuleState() noexcept;
ModuleState* SetCurrentModuleState(ModuleState* state) noexcept;

}  // namespace tarnvale
