#include "sims/sim_files.h"

#include <windows.h>

#include "common/paths.h"
#include "common/unique_handle.h"
#include "frame/resource_lookup.h"
#include "resources/resource.h"
#include "sims/folder_guard.h"

namespace tarnvale {
namespace {

constexpr char kSimUninstallLogSuffix[] = "Uninst.isu";
constexpr char kSimUninstaller[] = "\\SIMUninstall.dll";

bool IsDotEntry(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// The wide name in the ANSI code page; false when it has no exact ANSI form.
bool ToAnsi(const wchar_t* name, std::string& ansi) {
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, nullptr, 0, nullptr, &lossy);
    if (length <= 1 || lossy) return false;
    ansi.assign(static_cast<size_t>(length - 1), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, &ansi[0], length, nullptr, nullptr);
    return true;
}

// A SIM name makes a file name in the product folder only when it holds no
// separator, which would lead out of the folder, and no colon, which would
// name a stream or a drive.
bool IsPlainName(const std::string& name) { return name.find_first_of("\\/:") == std::string::npos; }

// Deletes the file at `path` if one is there. A file that cannot be deleted
// (read-only, in use, access denied) is passed by.
void DeleteFileIfPresent(const std::string& path) {
    const std::wstring extended = ExtendedPath(path);
    if (extended.empty()) return;
    const DWORD attributes = GetFileAttributesW(extended.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    DeleteFileW(extended.c_str());
}

// Deletes one file found in a folder being cleared; a read-only file is made
// writable first and gets its attribute back if it still cannot go.
void DeleteFolderFile(const std::wstring& path, DWORD attributes) {
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (!DeleteFileW(path.c_str()) && readOnly) SetFileAttributesW(path.c_str(), attributes);
}

}  // namespace

void RemoveSimFolders(const std::string& productFolder) {
    // Without an absolute product folder "\Sims" would name a folder of the
    // current drive or the current directory, not one of the product.
    if (!IsAbsolutePath(productFolder)) return;
    std::string simsFolderName;
    if (!LoadResourceString(IDS_SIMS_FOLDER, simsFolderName) || simsFolderName.empty()) return;
    const std::string simsFolder = productFolder + "\\" + simsFolderName;
    const std::wstring extendedSimsFolder = ExtendedPath(simsFolder);
    if (extendedSimsFolder.empty() || IsReparsePoint(extendedSimsFolder)) return;

    StringList subfolders;
    CollectSubfolders(simsFolder, subfolders);
    for (const std::string& subfolder : subfolders) RemoveFolderFiles(subfolder);
    RemoveDirectoryW(extendedSimsFolder.c_str());  // only succeeds when it is empty now
}

int DeleteSimUninstallLogs(const std::string& productFolder, const StringList& simList) {
    if (!IsAbsolutePath(productFolder)) return 1;
    for (const std::string& simName : simList) {
        if (IsPlainName(simName)) DeleteFileIfPresent(productFolder + "\\" + simName + kSimUninstallLogSuffix);
    }
    return 1;
}

int DeleteSimUninstaller(const std::string& productFolder) {
    if (IsAbsolutePath(productFolder)) DeleteFileIfPresent(productFolder + kSimUninstaller);
    return 1;
}

int RemoveFolderFiles(const std::string& folder) {
    const std::wstring target = FolderToClear(folder);
    if (target.empty()) return 0;

    WIN32_FIND_DATAW entry;
    UniqueFind search(FindFirstFileW((target + L"\\*.*").c_str(), &entry));
    if (!search) return 0;
    do {
        // ".", ".." and every sub-folder (links included) are passed by:
        // sub-folders are never entered.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        DeleteFolderFile(target + L"\\" + entry.cFileName, entry.dwFileAttributes);
    } while (FindNextFileW(search.get(), &entry));
    // ERROR_NO_MORE_FILES is the normal end; any other error ends the search
    // too, with the files found so far handled.
    search.reset();
    RemoveDirectoryW(target.c_str());  // only succeeds when it is empty now
    return 1;
}

int CollectSubfolders(const std::string& folder, StringList& subfolders) {
    if (folder.empty()) return 0;
    subfolders.clear();
    // A relative path names no fixed place, and a linked folder is never entered.
    const std::wstring extended = ExtendedPath(folder);
    if (extended.empty() || IsReparsePoint(extended)) return 1;

    WIN32_FIND_DATAW entry;
    UniqueFind search(FindFirstFileW((extended + L"\\*.*").c_str(), &entry));
    if (!search) return 1;  // no such folder: no sub-folders
    do {
        const DWORD attributes = entry.dwFileAttributes;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (IsDotEntry(entry.cFileName)) continue;
        // A name without an ANSI form could not be named again in the list.
        std::string name;
        if (ToAnsi(entry.cFileName, name)) subfolders.push_back(folder + "\\" + name);
    } while (FindNextFileW(search.get(), &entry));
    // ERROR_NO_MORE_FILES is the normal end; another error leaves the list as far as it got.
    return 1;
}

}  // namespace tarnvale
