#include "host/report.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace tarnvale::host {
namespace {

// String IDs of the library's registry paths and folder names.
constexpr UINT kSimsKey = 1;
constexpr UINT kProductKey = 6;
constexpr UINT kProductFolderKey = 9;
constexpr UINT kUninstallKey = 11;
constexpr UINT kDsimsKey = 22;

// Maker keys are named in the library's code, not in its texts.
constexpr const char* kMakerKeys[] = {"SOFTWARE\\Nortavo Inc.", "SOFTWARE\\Veltrane"};

bool LoadText(HMODULE module, UINT id, std::string& text) {
    const wchar_t* resource = nullptr;
    const int length = module != nullptr ? LoadStringW(module, id, reinterpret_cast<LPWSTR>(&resource), 0) : 0;
    if (length <= 0) return false;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, resource, length, nullptr, 0, nullptr, nullptr);
    text.assign(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, resource, length, &text[0], bytes, nullptr, nullptr);
    return true;
}

// A key's name where it really lives: a 32-bit process on 64-bit Windows
// sees HKLM\SOFTWARE through the 32-bit registry view, which is
// HKLM\SOFTWARE\WOW6432Node (SOFTWARE\Classes is shared by both views).
std::string KeyName(HKEY root, const std::string& path) {
    if (root == HKEY_CLASSES_ROOT) return "HKCR\\" + path;
    static const bool redirected = [] {
        BOOL wow64 = FALSE;
        return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
    }();
    constexpr char kSoftware[] = "SOFTWARE\\";
    constexpr char kClasses[] = "SOFTWARE\\Classes";
    constexpr size_t kSoftwareLength = sizeof(kSoftware) - 1;
    constexpr size_t kClassesLength = sizeof(kClasses) - 1;
    const bool belowClasses = _strnicmp(path.c_str(), kClasses, kClassesLength) == 0 &&
                              (path.size() == kClassesLength || path[kClassesLength] == '\\');
    const bool belowSoftware = path.size() > kSoftwareLength &&
                               _strnicmp(path.c_str(), kSoftware, kSoftwareLength) == 0 && !belowClasses;
    if (!redirected || !belowSoftware) return "HKLM\\" + path;
    return "HKLM\\" + path.substr(0, kSoftwareLength) + "WOW6432Node\\" + path.substr(kSoftwareLength);
}

void AddKeyTree(HKEY root, const std::string& path, std::set<std::string>& keys) {
    if (path.empty()) return;  // never a whole root
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    keys.insert(KeyName(root, path));
    std::vector<std::string> subkeys;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const std::string& subkey : subkeys) AddKeyTree(root, path + "\\" + subkey, keys);
}

std::string ReadValue(HKEY root, const std::string& path, const char* name) {
    char buffer[MAX_PATH] = {};
    DWORD size = sizeof(buffer) - 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    const LONG status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(buffer) : std::string();
}

void AddFolderTree(const std::string& folder, bool recursive, Inventory& inventory) {
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    inventory.folders.insert(folder);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "\\" + name;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            inventory.files.insert(path);
        } else if (recursive) {
            AddFolderTree(path, true, inventory);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

// A folder text as a path without trailing separators, so that the same
// folder is recorded once however the registry spells it.
std::string WithoutTrailingSeparator(std::string folder) {
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

// True when `path` lies below `parent` in a set of removed paths.
bool ParentRemoved(const std::string& path, const std::set<std::string>& removedFolders) {
    for (size_t cut = path.rfind('\\'); cut != std::string::npos && cut > 0; cut = path.rfind('\\', cut - 1)) {
        if (removedFolders.count(path.substr(0, cut)) != 0) return true;
    }
    return false;
}

std::set<std::string> Gone(const std::set<std::string>& before, const std::set<std::string>& after) {
    std::set<std::string> gone;
    for (const std::string& item : before) {
        if (after.count(item) == 0) gone.insert(item);
    }
    return gone;
}

}  // namespace

LibraryTexts::LibraryTexts(HMODULE library)
    : library_(library),
      resourceLibrary_(LoadLibraryExA("TarnvaleRes.dll", nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}

LibraryTexts::~LibraryTexts() {
    if (resourceLibrary_ != nullptr) FreeLibrary(resourceLibrary_);
}

std::string LibraryTexts::Get(UINT id) const {
    std::string text;
    if (LoadText(resourceLibrary_, id, text) || LoadText(library_, id, text)) return text;
    return {};
}

Inventory TakeInventory(const LibraryTexts& texts) {
    Inventory inventory;
    AddKeyTree(HKEY_LOCAL_MACHINE, texts.Get(kSimsKey), inventory.keys);
    AddKeyTree(HKEY_LOCAL_MACHINE, texts.Get(kDsimsKey), inventory.keys);
    AddKeyTree(HKEY_CLASSES_ROOT, texts.Get(kProductKey), inventory.keys);
    for (const char* maker : kMakerKeys) AddKeyTree(HKEY_LOCAL_MACHINE, maker, inventory.keys);

    const std::string uninstall = texts.Get(kUninstallKey);
    std::set<std::string> entries;
    AddKeyTree(HKEY_LOCAL_MACHINE, uninstall, entries);
    for (const std::string& entry : entries) {
        inventory.keys.insert(entry);
        // Each entry's log folder: the files directly in it.
        const std::string path = entry.substr(5);
        const std::string logFile = ReadValue(HKEY_LOCAL_MACHINE, path, "LogFile");
        const size_t separator = logFile.find_last_of("\\/");
        if (separator != std::string::npos && separator >= 2) {
            AddFolderTree(WithoutTrailingSeparator(logFile.substr(0, separator)), false, inventory);
        }
    }

    const std::string productFolder = ReadValue(HKEY_CLASSES_ROOT, texts.Get(kProductFolderKey), "");
    if (productFolder.size() > 3) AddFolderTree(WithoutTrailingSeparator(productFolder), true, inventory);
    return inventory;
}

void PrintRemoved(const char* exportName, const Inventory& before, const Inventory& after) {
    const std::set<std::string> keys = Gone(before.keys, after.keys);
    const std::set<std::string> folders = Gone(before.folders, after.folders);
    const std::set<std::string> files = Gone(before.files, after.files);

    std::printf("What %s removed:\n", exportName);
    int lines = 0;
    for (const std::string& key : keys) {
        if (ParentRemoved(key, keys)) continue;
        std::printf("  key     %s\n", key.c_str());
        ++lines;
    }
    for (const std::string& folder : folders) {
        if (ParentRemoved(folder, folders)) continue;
        int contained = 0;
        for (const std::string& file : files) {
            if (file.compare(0, folder.size() + 1, folder + "\\") == 0) ++contained;
        }
        std::printf("  folder  %s%s\n", folder.c_str(),
                    contained == 0 ? "" : (" (with " + std::to_string(contained) + " file" +
                                           (contained == 1 ? ")" : "s)")).c_str());
        ++lines;
    }
    for (const std::string& file : files) {
        if (ParentRemoved(file, folders)) continue;
        std::printf("  file    %s\n", file.c_str());
        ++lines;
    }
    if (lines == 0) std::printf("  nothing\n");
}

}  // namespace tarnvale::host
