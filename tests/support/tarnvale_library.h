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

// True when a module of this file name is loaded in the test process.
bool IsModuleLoaded(const char* fileName);

}  // namespace tarnvale::test
