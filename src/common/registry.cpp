#include "common/registry.h"

#include <shlwapi.h>

namespace tarnvale {

bool IsWellFormedKeyPath(const std::string& path) {
    if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
    return path.find("\\\\") == std::string::npos;
}

UniqueKey OpenKeyForReading(HKEY root, const std::string& path) {
    UniqueKey key;
    if (!IsWellFormedKeyPath(path)) return key;
    if (RegOpenKeyExA(root, path.c_str(), 0, kReadAccess, key.put()) != ERROR_SUCCESS) key.reset();
    return key;
}

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

int ReadRegistryString(HKEY root, const std::string& path, const std::string& name, std::string& out) {
    UniqueKey key = OpenKeyForReading(root, path);
    if (!key) return 0;
    return ReadStringValue(key.get(), name, out) ? 1 : 0;
}

bool DeleteKeyTree(HKEY parent, const std::string& path) {
    if (!IsWellFormedKeyPath(path)) return false;
    // The key is deleted relative to its own parent, opened in the library's
    // view: the deletion then stays in that view too.
    const size_t lastSeparator = path.rfind('\\');
    if (lastSeparator == std::string::npos) return SHDeleteKeyA(parent, path.c_str()) == ERROR_SUCCESS;
    UniqueKey directParent = OpenKeyForReading(parent, path.substr(0, lastSeparator));
    if (!directParent) return false;
    return SHDeleteKeyA(directParent.get(), path.c_str() + lastSeparator + 1) == ERROR_SUCCESS;
}

}  // namespace tarnvale
