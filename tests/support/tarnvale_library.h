// Loads a built Tarnvale.dll with LoadLibraryA and calls its exports through
// GetProcAddress, exactly as the setup program does. Each instance is a fresh
// load, so the library's module-wide values start at zero.
#pragma once

#include <windows.h>

#include <string>

#include "test_paths.h"

namespace tarnvale::test {

class TarnvaleLibrary {
public:
    explicit TarnvaleLibrary(const char* path = kFullLibraryPath);
    ~TarnvaleLibrary();
    TarnvaleLibrary(const TarnvaleLibrary&) = delete;
    TarnvaleLibrary& operator=(const TarnvaleLibrary&) = delete;

    HMODULE handle() const { return module_; }
    bool loaded() const { return module_ != nullptr; }
    FARPROC Address(const char* name) const;

    int CleanSIMInfo() const { return CallNoArguments("CleanSIMInfo"); }
    int CleanSIMInfoSilent() const { return CallNoArguments("CleanSIMInfoSilent"); }
    int RemoveAddOns() const { return CallNoArguments("RemoveAddOns"); }
    int ShowBetaLicense() const { return CallNoArguments("ShowBetaLicense"); }
    int UninstallTivraDriver() const { return CallNoArguments("UninstallTivraDriver"); }
    int LaunchAppAndWait(const char* commandLine) const;

private:
    int CallNoArguments(const char* name) const;

    HMODULE module_ = nullptr;
    std::string path_;
};

// A library file loaded as data only, to read its resources: nothing of it runs.
class ScopedDataFile {
public:
    explicit ScopedDataFile(const std::string& path)
        : module_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~ScopedDataFile() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    ScopedDataFile(const ScopedDataFile&) = delete;
    ScopedDataFile& operator=(const ScopedDataFile&) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

// Gives the resource `fromId` of `type` in the library file at `path` the ID
// `toId` instead, in place, so that a lookup of `fromId` finds nothing there
// (the platform's resource update cannot delete under Wine). `toId` must keep
// the directory's order. False when the file or the resource is not found.
bool RenumberResource(const std::string& path, WORD type, WORD fromId, WORD toId);

// True when a module of this file name is loaded in the test process.
bool IsModuleLoaded(const char* fileName);

}  // namespace tarnvale::test
