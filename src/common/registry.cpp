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

namespace {

// Deletes the key `path` below `parent` with `deleteKey`, relative to the
// key's own parent opened in the library's view, so that the deletion stays
// in that view too. A path that is not well formed is refused here, for
// every kind of deletion.
template <typename DeleteFunction>
bool DeleteKeyBelow(HKEY parent, const std::string& path, DeleteFunction deleteKey) {
    if (!IsWellFormedKeyPath(path)) return false;
    const size_t lastSeparator = path.rfind('\\');
    if (lastSeparator == std::string::npos) return deleteKey(parent, path.c_str()) == ERROR_SUCCESS;
    UniqueKey directParent = OpenKeyForReading(parent, path.substr(0, lastSeparator));
    if (!directParent) return false;
    return deleteKey(directParent.get(), path.c_str() + lastSeparator + 1) == ERROR_SUCCESS;
}

}  // namespace

bool DeleteKeyTree(HKEY parent, const std::string& path) {
    return DeleteKeyBelow(parent, path, [](HKEY directParent, const char* name) {
        const LONG status = SHDeleteKeyA(directParent, name);
        // A key that denies reading cannot be walked for its subkeys; when
        // it has none, the plain deletion, which needs only the right to
        // delete the key itself, still removes it.
        if (status == ERROR_ACCESS_DENIED) return RegDeleteKeyExA(directParent, name, kRegistryView, 0);
        return status;
    });
}

bool DeleteKeyWithoutSubkeys(HKEY parent, const std::string& path) {
    // The platform refuses a key that still has subkeys: it stays whole.
    return DeleteKeyBelow(parent, path, [](HKEY directParent, const char* name) {
        return RegDeleteKeyExA(directParent, name, kRegistryView, 0);
    });
}

}  // namespace tarnvale
