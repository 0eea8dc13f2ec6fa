#include "common/registry.h"

#include <vector>

namespace tarnvale {

bool ReadStringValue(HKEY key, const std::string& name, std::string& text) {
    BYTE buffer[kValueBufferSize] = {};
    DWORD size = sizeof(buffer);
    DWORD type = 0;  // received, never judged: any value's bytes are text here
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer, &size) != ERROR_SUCCESS) return false;
    if (size > sizeof(buffer)) return false;
    const char* bytes = reinterpret_cast<const char*>(buffer);
    size_t length = 0;
    while (length < size && bytes[length] != '\0') ++length;
    text.assign(bytes, length);
    return true;
}

StringList SubkeyNames(HKEY key) {
    constexpr DWORD kNameBufferSize = 255;
    StringList names;
    for (DWORD index = 0;; ++index) {
        char name[kNameBufferSize];
        DWORD length = kNameBufferSize;
        // ERROR_NO_MORE_ITEMS is the normal end; a name that does not fit
        // (ERROR_MORE_DATA) or any other error ends the list as well.
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

std::wstring KeyObjectName(HKEY key) {
    using QueryKeyFunction = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    static const auto queryKey = reinterpret_cast<QueryKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    if (queryKey == nullptr) return {};
    constexpr int kKeyNameInformation = 3;
    // KEY_NAME_INFORMATION: the name's length in bytes, then the name. Most
    // names fit the small buffer; a longer one gets what it needs.
    ULONG small[512];
    std::vector<ULONG> large;
    ULONG* buffer = small;
    ULONG needed = 0;
    LONG status = queryKey(key, kKeyNameInformation, small, sizeof(small), &needed);
    if (status != 0 && needed > sizeof(small)) {
        large.resize(needed / sizeof(ULONG) + 1);
        buffer = large.data();
        status = queryKey(key, kKeyNameInformation, buffer, static_cast<ULONG>(large.size() * sizeof(ULONG)), &needed);
    }
    if (status != 0) return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(&buffer[1]), buffer[0] / sizeof(wchar_t));
}

}  // namespace tarnvale
