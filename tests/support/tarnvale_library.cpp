#include "tarnvale_library.h"

#include <gtest/gtest.h>

namespace tarnvale::test {

TarnvaleLibrary::TarnvaleLibrary(const char* path) : path_(path) {
    module_ = LoadLibraryA(path);
    if (module_ == nullptr) ADD_FAILURE() << "cannot load " << path << " (error " << GetLastError() << ")";
}

TarnvaleLibrary::~TarnvaleLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
}

FARPROC TarnvaleLibrary::Address(const char* name) const {
    return module_ != nullptr ? GetProcAddress(module_, name) : nullptr;
}

int TarnvaleLibrary::CallNoArguments(const char* name) const {
    using Export = int(__stdcall*)();
    FARPROC address = Address(name);
    if (address == nullptr) {
        ADD_FAILURE() << path_ << " has no export " << name;
        return -1000;
    }
    return reinterpret_cast<Export>(reinterpret_cast<void*>(address))();
}

int TarnvaleLibrary::LaunchAppAndWait(const char* commandLine) const {
    using Export = int(__stdcall*)(const char*);
    FARPROC address = Address("LaunchAppAndWait");
    if (address == nullptr) {
        ADD_FAILURE() << path_ << " has no export LaunchAppAndWait";
        return -1000;
    }
    return reinterpret_cast<Export>(reinterpret_cast<void*>(address))(commandLine);
}

bool IsModuleLoaded(const char* fileName) { return GetModuleHandleA(fileName) != nullptr; }

}  // namespace tarnvale::test
