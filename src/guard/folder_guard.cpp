#include "guard/folder_guard.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <utility>
#include <vector>

#include "common/paths.h"
#include "common/registry.h"
#include "common/unique_handle.h"
#include "guard/key_guard.h"
#include "log/action_log.h"

namespace tarnvale {
namespace {

// The scope of the run in progress. The exports run one at a time on the
// setup's thread, so plain module state serves.
ProtectedFoldersScope* g_currentScope = nullptr;

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

std::wstring WithoutTrailingSeparator(std::wstring path) {
    while (!path.empty() && IsPathSeparator(path.back())) path.pop_back();
    return path;
}

// The path as the file system resolves it: links on the way followed, short
// names made long, in extended form. Where the platform cannot tell (Wine
// answers only for paths up to MAX_PATH), the full path stands in for it.
// Empty when nothing can be opened there.
std::wstring ResolvedPath(const std::wstring& extendedPath) {
    UniqueFile handle(CreateFileW(extendedPath.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return {};
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handle.get(), buffer.data(),
                                                       static_cast<DWORD>(buffer.size()), VOLUME_NAME_DOS);
        if (length == 0) return extendedPath;
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

// The ways a protected folder is compared: its full path and its final path
// (where that differs, both), in extended form without a trailing separator.
// None for an empty or relative path.
std::vector<std::wstring> Spellings(const std::wstring& folder) {
    std::vector<std::wstring> spellings;
    const std::wstring extended = ExtendedPath(folder);
    if (extended.empty()) return spellings;
    spellings.push_back(WithoutTrailingSeparator(extended));
    const std::wstring resolved = ResolvedPath(extended);
    if (!resolved.empty()) spellings.push_back(WithoutTrailingSeparator(resolved));
    return spellings;
}

void Append(std::vector<std::wstring>& list, const std::vector<std::wstring>& more) {
    list.insert(list.end(), more.begin(), more.end());
}

bool StartsWithIgnoringCase(const std::wstring& text, const wchar_t* prefix) {
    const size_t length = wcslen(prefix);
    return text.size() >= length && CompareStringOrdinal(text.data(), static_cast<int>(length), prefix,
                                                         static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

// The rule of roots: true for the root of a drive ("\\?\C:\", "C:\"), of a
// share ("\\?\UNC\server\share", "\\server\share"), of a volume
// ("\\?\Volume{...}\", also of a volume without a drive letter) or of a
// device ("\\?\GLOBALROOT\Device\HarddiskVolume2\", a share below
// "\\?\GLOBALROOT\Device\Mup\"), with or without the extended ("\\?\"),
// device ("\\.\") or object-manager ("\??\") prefix, and for anything
// shorter. Every form of path that the platform's final paths take is one of these.
bool IsRoot(const std::wstring& path) {
    std::wstring rest = path;
    size_t componentsOfRoot = 1;  // a drive letter or a volume name
    bool prefixed = false;
    for (const wchar_t* prefix : {L"\\\\?\\", L"\\\\.\\", L"\\?" L"?\\"}) {
        if (StartsWith(rest, prefix)) {
            rest = rest.substr(wcslen(prefix));
            prefixed = true;
            break;
        }
    }
    if (!prefixed && rest.size() >= 2 && IsPathSeparator(rest[0]) && IsPathSeparator(rest[1])) {
        rest = rest.substr(2);
        componentsOfRoot = 2;  // server and share
    } else if (prefixed && StartsWithIgnoringCase(rest, L"UNC\\")) {
        rest = rest.substr(4);
        componentsOfRoot = 2;  // server and share
    } else if (prefixed && StartsWithIgnoringCase(rest, L"GLOBALROOT\\")) {
        rest = rest.substr(11);
        // "Device\HarddiskVolume2", or "Device\Mup\server\share" for a share.
        componentsOfRoot = StartsWithIgnoringCase(rest, L"Device\\Mup\\") ? 4 : 2;
    }
    size_t components = 0;
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = rest.size();
        if (end > start) ++components;
        start = end + 1;
    }
    return components <= componentsOfRoot;
}

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return path;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path != nullptr) result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring EnvironmentFolder(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

// A folder from the registry, with its environment strings expanded.
std::wstring ExpandedFolder(const std::string& text) {
    char expanded[MAX_PATH * 2] = {};
    const DWORD length = ExpandEnvironmentStringsA(text.c_str(), expanded, sizeof(expanded));
    if (length == 0 || length > sizeof(expanded)) return {};
    return ToWide(expanded);
}

template <typename Folder>
std::wstring SystemFolder(Folder query) {
    wchar_t path[MAX_PATH] = {};
    const UINT length = query(path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

}  // namespace

void ProtectedFolders::Add(const std::wstring& folder) { Append(folders_, Spellings(folder)); }

void ProtectedFolders::AddProfilesFolder(const std::wstring& folder) {
    const std::vector<std::wstring> spellings = Spellings(folder);
    Append(folders_, spellings);
    Append(profilesFolders_, spellings);
}

ProtectedFolders ProtectedFolders::Query() {
    ProtectedFolders result;
    result.Add(SystemFolder([](wchar_t* p, UINT n) { return GetWindowsDirectoryW(p, n); }));
    result.Add(SystemFolder([](wchar_t* p, UINT n) { return GetSystemWindowsDirectoryW(p, n); }));
    result.Add(SystemFolder([](wchar_t* p, UINT n) { return GetSystemDirectoryW(p, n); }));
    result.Add(SystemFolder([](wchar_t* p, UINT n) { return GetSystemWow64DirectoryW(p, n); }));
    for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
                      CSIDL_COMMON_APPDATA, CSIDL_PROFILE}) {
        result.Add(ShellFolder(csidl));
    }
    // The 64-bit Program Files folder, which a 32-bit process is not told
    // of by the shell.
    result.Add(EnvironmentFolder(L"ProgramW6432"));

    result.AddProfilesFolder(KnownFolder(FOLDERID_UserProfiles));
    // The machine's profile list, which the 32-bit view of a 64-bit machine
    // does not hold itself.
    const std::string profileList = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    if (UniqueKey profiles = OpenMachineKeyForReading(HKEY_LOCAL_MACHINE, profileList)) {
        std::string profilesDirectory;
        if (ReadStringValue(profiles.get(), "ProfilesDirectory", profilesDirectory)) {
            result.AddProfilesFolder(ExpandedFolder(profilesDirectory));
        }
        // Profiles that live outside the profiles folder are listed here too.
        for (const std::string& profile : SubkeyNames(profiles.get())) {
            std::string imagePath;
            if (ReadRegistryString(profiles.get(), profile, "ProfileImagePath", imagePath) != 0) {
                result.Add(ExpandedFolder(imagePath));
            }
        }
    }
    return result;
}

void ProtectedFolders::AddWithParents(const std::string& folder) {
    Append(withParents_, Spellings(ToWide(folder)));
}

bool ProtectedFolders::Protects(const std::wstring& finalPath) const {
    if (IsRoot(finalPath)) return true;
    const std::wstring folder = WithoutTrailingSeparator(finalPath);
    for (const std::wstring& protectedFolder : folders_) {
        if (SamePath(folder, protectedFolder)) return true;
    }
    for (const std::wstring& protectedFolder : withParents_) {
        // The folder itself, or one above it: its path followed by a separator.
        if (SamePath(folder, protectedFolder)) return true;
        if (protectedFolder.size() > folder.size() && IsPathSeparator(protectedFolder[folder.size()]) &&
            SamePath(folder, protectedFolder.substr(0, folder.size()))) {
            return true;
        }
    }
    const size_t lastSeparator = folder.find_last_of(L"\\/");
    if (lastSeparator == std::wstring::npos) return false;
    const std::wstring parent = folder.substr(0, lastSeparator);
    for (const std::wstring& profilesFolder : profilesFolders_) {
        if (SamePath(parent, profilesFolder)) return true;
    }
    return false;
}

ProtectedFoldersScope::ProtectedFoldersScope() noexcept : previous_(g_currentScope) { g_currentScope = this; }

ProtectedFoldersScope::ProtectedFoldersScope(std::string productFolder) noexcept
    : productFolder_(std::move(productFolder)), previous_(g_currentScope) {
    g_currentScope = this;
}

ProtectedFoldersScope::~ProtectedFoldersScope() { g_currentScope = previous_; }

const ProtectedFolders& ProtectedFoldersScope::folders() {
    if (!folders_) {
        folders_ = ProtectedFolders::Query();
        folders_->AddWithParents(productFolder_);
    }
    return *folders_;
}

namespace {

bool IsProtected(const std::wstring& finalPath) {
    if (g_currentScope != nullptr) return g_currentScope->folders().Protects(finalPath);
    return ProtectedFolders::Query().Protects(finalPath);
}

// Why a folder that could not be held as a plain folder of its parent was
// left alone, for the log; null for a folder that is simply not there.
const char* ReasonNotHeld(const std::wstring& extendedPath) {
    const DWORD attributes = EntryAttributes(extendedPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) return nullptr;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "reparse point";
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return "not a folder";
    // A folder that the platform reaches by another name: a link.
    return "link";
}

// A held folder that a removal may clear: a plain folder that is not
// protected, judged by where it really is. `namedPath` is the path it was
// asked for by, for the log.
bool MayClear(const PinnedFolder& folder, const std::wstring& namedPath) {
    if (!folder) {
        if (const char* reason = ReasonNotHeld(namedPath)) actionlog::FolderRefused(namedPath, reason);
        return false;
    }
    if (!folder.IsPlainFolder()) {
        actionlog::FolderRefused(namedPath, "reparse point");
        return false;
    }
    if (IsProtected(folder.finalPath())) {
        actionlog::FolderRefused(folder.finalPath(), IsRoot(folder.finalPath()) ? "root" : "protected folder");
        return false;
    }
    return true;
}

}  // namespace

PinnedFolder FolderToClear(const std::string& folder) {
    // An empty or relative path names no fixed place.
    const std::wstring extended = ExtendedPath(folder);
    if (extended.empty()) {
        actionlog::FolderRefused(ToWide(folder), folder.empty() ? "empty path" : "relative path");
        return {};
    }
    // A root as named (a drive letter mapped to a folder is a root too).
    if (IsRoot(extended)) {
        actionlog::FolderRefused(extended, "root");
        return {};
    }
    const std::wstring entry = WithoutTrailingSeparator(extended);
    const size_t lastSeparator = entry.find_last_of(L"\\/");
    PinnedFolder parent;
    if (lastSeparator != std::wstring::npos && lastSeparator + 1 < entry.size()) {
        // Links on the way are followed; the folder itself is its parent's
        // own entry or nothing.
        parent = PinnedFolder::Open(entry.substr(0, lastSeparator + 1), PinnedFolder::LastLink::Follow);
    }
    PinnedFolder held;
    if (parent) {
        held = parent.Subfolder(entry.substr(lastSeparator + 1), PinnedFolder::Removal::WhenEmpty);
    } else {
        // A folder whose parent cannot be held (a share or volume root) is
        // held as itself.
        held = PinnedFolder::Open(extended, PinnedFolder::LastLink::AsItself);
    }
    if (!MayClear(held, entry)) return {};
    return held;
}

PinnedFolder SubfolderToClear(const PinnedFolder& parent, const std::wstring& name) {
    PinnedFolder held = parent.Subfolder(name, PinnedFolder::Removal::WhenEmpty);
    if (!MayClear(held, parent.finalPath() + L"\\" + name)) return {};
    return held;
}

}  // namespace tarnvale
