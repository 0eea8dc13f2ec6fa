#include "frame/resource_lookup.h"

#include "frame/module_state.h"

namespace tarnvale {
namespace {

// The modules to search, in order. Outside any frame of this library only
// the caller's side is searched: the host executable.
int LookupOrder(HMODULE (&modules)[2]) {
    const ModuleState* state = CurrentModuleState();
    if (state == nullptr) {
        modules[0] = GetModuleHandleA(nullptr);
        return 1;
    }
    modules[0] = state->resourceSource != nullptr ? state->resourceSource : GetModuleHandleA(nullptr);
    modules[1] = state->resourceChain;
    return modules[1] != nullptr && modules[1] != modules[0] ? 2 : 1;
}

// A string-table entry is absent when its block is missing or its counted
// string is empty.
bool LoadStringFrom(HMODULE module, UINT id, std::string& text) {
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || resource == nullptr) return false;

    const int bytes = WideCharToMultiByte(CP_ACP, 0, resource, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    std::string converted(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, resource, length, &converted[0], bytes, nullptr, nullptr);
    text = std::move(converted);
    return true;
}

}  // namespace

bool LoadResourceString(UINT id, std::string& text) {
    HMODULE modules[2] = {};
    const int count = LookupOrder(modules);
    for (int i = 0; i < count; ++i) {
        if (LoadStringFrom(modules[i], id, text)) return true;
    }
    return false;
}

std::string ResourceString(UINT id) {
    std::string text;
    LoadResourceString(id, text);
    return text;
}

DialogTemplate FindDialogTemplate(UINT id) {
    HMODULE modules[2] = {};
    const int count = LookupOrder(modules);
    for (int i = 0; i < count; ++i) {
        HRSRC info = FindResourceA(modules[i], MAKEINTRESOURCEA(id), RT_DIALOG);
        if (info == nullptr) continue;
        HGLOBAL loaded = LoadResource(modules[i], info);
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (data != nullptr) return DialogTemplate{static_cast<const DLGTEMPLATE*>(data), modules[i]};
    }
    return {};
}

}  // namespace tarnvale
