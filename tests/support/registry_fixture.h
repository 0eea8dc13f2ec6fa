// Seeding and reading the real (Wine) registry for tests, in the registry
// view of the test's own process, which is the view of the library under
// test: the 64-bit view for the x64 suites, the 32-bit view (below
// SOFTWARE\WOW6432Node) for the i686 suites, as a 32-bit setup writes it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tarnvale::test {

namespace reg {

constexpr REGSAM kView = 0;

bool KeyExists(HKEY root, const std::string& path);
void CreateKey(HKEY root, const std::string& path);
void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& value,
               DWORD type = REG_SZ);
// Stores exactly these bytes, with no terminator added.
void SetRaw(HKEY root, const std::string& path, const std::string& name, DWORD type, const void* data,
            DWORD size);
void SetDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
bool ValueExists(HKEY root, const std::string& path, const std::string& name);
// `view` may name the other registry view (KEY_WOW64_64KEY, KEY_WOW64_32KEY).
std::vector<std::string> SubkeyNames(HKEY root, const std::string& path, REGSAM view = kView);
// Deletes a key with everything below it, also keys that deny reading. A
// registry link in the tree is deleted as the link, never followed.
void DeleteTree(HKEY root, const std::string& path);
// A registry link at `path` to the key `target`, given as the registry's own
// path ("\Registry\Machine\Software\Victim").
void CreateLink(HKEY root, const std::string& path, const std::string& target);
// Makes the key deny KEY_READ to everyone; true when it cannot be opened for
// reading afterwards.
bool DenyRead(HKEY root, const std::string& path);

}  // namespace reg

// A registry key tree that belongs to one test: removed when the test starts
// (leftovers of an aborted run) and when it ends.
class ScopedRegistryTree {
public:
    ScopedRegistryTree(HKEY root, std::string path);
    ~ScopedRegistryTree();
    ScopedRegistryTree(const ScopedRegistryTree&) = delete;
    ScopedRegistryTree& operator=(const ScopedRegistryTree&) = delete;

private:
    HKEY root_;
    std::string path_;
};

}  // namespace tarnvale::test
