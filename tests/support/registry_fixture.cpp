#include "registry_fixture.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <shlwapi.h>

namespace tarnvale::test {

namespace reg {

namespace {
// The wide form of a key path: Wine's ANSI registry calls refuse paths
// longer than MAX_PATH, which names near the limit of 255 characters reach.
std::wstring Wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }
}  // namespace

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_READ | kView, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void CreateKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    const LONG status = RegCreateKeyExW(root, Wide(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, &key,
                                        nullptr);
    ASSERT_EQ(status, ERROR_SUCCESS) << "cannot create key " << path;
    RegCloseKey(key);
}

void SetRaw(HKEY root, const std::string& path, const std::string& name, DWORD type, const void* data,
            DWORD size) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, &key,
                                  nullptr);
    ASSERT_EQ(status, ERROR_SUCCESS) << "cannot create key " << path;
    status = RegSetValueExA(key, name.empty() ? nullptr : name.c_str(), 0, type, static_cast<const BYTE*>(data),
                            size);
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS) << "cannot set value " << name << " of " << path;
}

void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& value,
               DWORD type) {
    SetRaw(root, path, name, type, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void SetDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    SetRaw(root, path, name, REG_DWORD, &value, sizeof(value));
}

bool ValueExists(HKEY root, const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | kView, &key) != ERROR_SUCCESS) return false;
    const LONG status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::vector<std::string> SubkeyNames(HKEY root, const std::string& path, REGSAM view) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

namespace {

// Gives everyone full access to a key and everything below it again, so that
// a tree with keys that deny reading can be deleted.
void Unlock(HKEY root, const std::string& path) {
    PSECURITY_DESCRIPTOR open = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KA;;;WD)", SDDL_REVISION_1, &open, nullptr)) return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC | kView, &key) == ERROR_SUCCESS) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, open);
        RegCloseKey(key);
    }
    LocalFree(open);
    for (const std::string& name : SubkeyNames(root, path)) Unlock(root, path + "\\" + name);
}

}  // namespace

bool DenyRead(HKEY root, const std::string& path) {
    PSECURITY_DESCRIPTOR denying = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;KR;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1,
                                                              &denying, nullptr)) {
        return false;
    }
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC | kView, &key);
    if (status == ERROR_SUCCESS) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, denying);
        RegCloseKey(key);
    }
    LocalFree(denying);
    return status == ERROR_SUCCESS && !KeyExists(root, path);
}

void DeleteTree(HKEY root, const std::string& path) {
    // Never a root: test code names the keys it owns.
    if (path.empty()) return;
    if (SHDeleteKeyA(root, path.c_str()) == ERROR_ACCESS_DENIED) {
        Unlock(root, path);
        SHDeleteKeyA(root, path.c_str());
    }
}

}  // namespace reg

ScopedRegistryTree::ScopedRegistryTree(HKEY root, std::string path) : root_(root), path_(std::move(path)) {
    reg::DeleteTree(root_, path_);
}

ScopedRegistryTree::~ScopedRegistryTree() { reg::DeleteTree(root_, path_); }

}  // namespace tarnvale::test
