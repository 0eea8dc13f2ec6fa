#include "common/registry.h"

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

}  // namespace tarnvale
