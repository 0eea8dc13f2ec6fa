// What the test process holds of the system: kernel handles, USER and GDI
// objects and private memory, read before and after a loop of calls so that
// a leak of any of them shows as growth.
#pragma once

#include <cstdint>
#include <string>

namespace tarnvale::test {

struct ProcessResources {
    int64_t handles = 0;
    int64_t userObjects = 0;
    int64_t gdiObjects = 0;
    int64_t privateBytes = 0;
    // How each figure was read: the platform call named for it, or the
    // stand-in used where the platform answers that call with nothing.
    std::string sources;

    // Reads the figures of the current process. Each comes from the call made
    // for it (GetProcessHandleCount, GetGuiResources, GetProcessMemoryInfo's
    // PrivateUsage); where that call is not implemented or answers 0 (as under
    // Wine), the same quantity is counted another way: the process's entries
    // in the system handle table, the process's windows, the used entries of
    // the process's GDI handle table, and the committed private pages.
    static ProcessResources Read();
};

std::string Describe(const ProcessResources& resources);

}  // namespace tarnvale::test
