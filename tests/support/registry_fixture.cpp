#include "registry_fixture.h"

#include <gtest/gtest.h>
#include <sddl.h>

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

namespace {

// Opens the key itself: a registry link as the link, never its target.
HKEY OpenOwnKey(HKEY root, const std::string& path, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, Wide(path).c_str(), REG_OPTION_OPEN_LINK, access | kView, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

bool IsLink(HKEY key) {
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

// Deletes the key an open handle stands for (a link as the link).
bool DeleteOpenKey(HKEY key) {
    using DeleteKeyFunction = LONG(WINAPI*)(HANDLE);
    const auto deleteKey = reinterpret_cast<DeleteKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    return deleteKey != nullptr && deleteKey(key) == 0;
}

// Deletes a tree without ever following a registry link in it.
void DeleteOwnTree(HKEY root, const std::string& path) {
    HKEY key = OpenOwnKey(root, path, KEY_READ | DELETE);
    if (key == nullptr) return;
    if (!IsLink(key)) {
        for (const std::string& name : SubkeyNames(root, path)) DeleteOwnTree(root, path + "\\" + name);
    }
    DeleteOpenKey(key);
    RegCloseKey(key);
}

}  // namespace

void DeleteTree(HKEY root, const std::string& path) {
    // Never a root: test code names the keys it owns.
    if (path.empty()) return;
    DeleteOwnTree(root, path);
    // A key in the tree that denies reading stopped the deletion: open the
    // tree up and delete it again.
    if (HKEY left = OpenOwnKey(root, path, 0)) {
        RegCloseKey(left);
        Unlock(root, path);
        DeleteOwnTree(root, path);
    }
}

void CreateLink(HKEY root, const std::string& path, const std::string& target) {
    HKEY link = nullptr;
    LONG status = RegCreateKeyExW(root, Wide(path).c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK | kView, nullptr, &link, nullptr);
    ASSERT_EQ(status, ERROR_SUCCESS) << "cannot create the link " << path;
    const std::wstring wideTarget = Wide(target);
    status = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(wideTarget.data()),
                            static_cast<DWORD>(wideTarget.size() * sizeof(wchar_t)));
    RegCloseKey(link);
    ASSERT_EQ(status, ERROR_SUCCESS) << "cannot point the link " << path << " to " << target;
}

}  // namespace reg

ScopedRegistryTree::ScopedRegistryTree(HKEY root, std::string path) : root_(root), path_(std::move(path)) {
    reg::DeleteTree(root_, path_);
}

ScopedRegistryTree::~ScopedRegistryTree() { reg::DeleteTree(root_, path_); }

}  // namespace tarnvale::test
