#include "machine_snapshot.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string_view>
#include <thread>

#include "common/unique_handle.h"
#include "file_fixture.h"

namespace tarnvale::test {
namespace {

std::string Narrow(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], bytes, nullptr, nullptr);
    return out;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Turns on a privilege of the process token (RegSaveKey needs the backup
// privilege).
void EnablePrivilege(const char* name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

// The key path of a "[path] time" line, with the file's doubled backslashes
// made single.
std::string KeyPathOf(std::string_view line) {
    const size_t close = line.rfind(']');
    const std::string_view escaped = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    std::string path;
    path.reserve(escaped.size());
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '\\' && i + 1 < escaped.size() && escaped[i + 1] == '\\') ++i;
        path += escaped[i];
    }
    return path;
}

// The end of a quoted value name ("name" with backslash escapes).
size_t EndOfQuotedName(std::string_view line) {
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '\\') {
            ++i;
        } else if (line[i] == '"') {
            return i;
        }
    }
    return line.size();
}

// Saves a key with everything below it as the registry's own text (one call
// to the registry, where walking the keys one by one takes seconds) and reads
// the text into entries: every key, every key above one, every value.
// The registry's own text of a key with everything below it; empty when it
// cannot be saved.
std::string SavedRegistryText(HKEY root) {
    static const bool privileged = (EnablePrivilege("SeBackupPrivilege"), true);
    (void)privileged;
    const std::string file = HostFolder() + "\\snapshot-" + std::to_string(GetCurrentProcessId()) + ".reg";
    DeleteFileA(file.c_str());
    if (RegSaveKeyA(root, file.c_str(), nullptr) != ERROR_SUCCESS) return {};
    std::string text = fs::ReadFile(file);
    DeleteFileA(file.c_str());
    return text;
}

void AddRegistryTree(const std::string& text, const std::string& prefix, MachineSnapshot::Entries& entries) {
    if (text.empty()) {
        entries.emplace(prefix + ":unreadable", std::string());
        return;
    }
    std::string key;      // prefix and path of the current key, with a trailing backslash
    std::string pending;  // a value line continued with a trailing backslash
    std::string name;
    std::string_view rest(text);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        if (!pending.empty() || (!line.empty() && (line[0] == '"' || line[0] == '@'))) {
            if (!line.empty() && line.back() == '\\') {
                pending.append(line.substr(0, line.size() - 1));
                continue;
            }
            if (!pending.empty()) {
                pending.append(line);
                line = pending;
            }
            const size_t nameEnd = line[0] == '@' ? 0 : EndOfQuotedName(line);
            name = key;
            name += ':';
            if (line[0] == '@') {
                name += '@';
            } else {
                name.append(line.substr(1, nameEnd - 1));
            }
            const size_t equals = line.find('=', nameEnd);
            entries[name] = equals == std::string_view::npos ? std::string() : std::string(line.substr(equals + 1));
            pending.clear();
        } else if (!line.empty() && line[0] == '[') {
            key = prefix + KeyPathOf(line) + "\\";
            // The file lists only keys with values or without subkeys: every
            // key above a listed one exists too. From the key itself
            // upwards; once a key is there, the keys above it are too.
            for (size_t cut = key.size() - 1; cut >= prefix.size() && cut != std::string::npos;
                 cut = key.rfind('\\', cut - 1)) {
                if (!entries.emplace(key.substr(0, cut + 1), std::string()).second) break;
                if (cut == 0) break;
            }
        }
    }
}

// The attributes a run could take away or leave changed (a read-only file
// made writable and not made read-only again), as an entry's data. The
// search hands them over with the name, so they cost nothing to record.
std::string AttributesData(DWORD attributes) {
    const DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    std::string data;
    if (kept & FILE_ATTRIBUTE_READONLY) data += "read-only ";
    if (kept & FILE_ATTRIBUTE_HIDDEN) data += "hidden ";
    if (kept & FILE_ATTRIBUTE_SYSTEM) data += "system ";
    if (!data.empty()) data.pop_back();
    return data;
}

void WalkFolder(const std::wstring& folder, const std::string& path, MachineSnapshot::Entries& entries) {
    WIN32_FIND_DATAW entry;
    // No short names, fetched in large batches: the walk covers all of C:.
    HANDLE search = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::string child = path + Narrow(name.data(), name.size());
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            entries.emplace(child + "\\", AttributesData(entry.dwFileAttributes));
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                WalkFolder(folder + L"\\" + name, child + "\\", entries);
            }
        } else {
            entries.emplace(child, AttributesData(entry.dwFileAttributes));
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

// What Wine writes on its own while a test runs; only these exact kinds of
// change are excused, anything else that comes, goes or changes is reported.
// Its display driver writes the display adapter's driver data again whenever
// a process first sets up the display (the first window of a test): a
// changed value.
bool IsChangedByWine(const std::string& entry) {
    static const char* const kRewrittenByWine[] = {
        "hklm\\system\\currentcontrolset\\control\\class\\{4d36e968-e325-11ce-bfc1-08002be10318}\\",
    };
    const std::string lower = Lower(entry);
    for (const char* prefix : kRewrittenByWine) {
        if (lower.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

// Wine's shell stores the profiles folder in this value the first time any
// program of the prefix asks for it (the folder guard does): a value added
// once, in each registry view.
bool IsAddedByWine(const std::string& entry) {
    const std::string lower = Lower(entry);
    return lower == "hklm\\software\\microsoft\\windows\\currentversion\\:users" ||
           lower == "hklm\\software\\wow6432node\\microsoft\\windows\\currentversion\\:users";
}

// True in a 32-bit process on 64-bit Windows.
bool IsWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Turns off the file system redirection of a 32-bit process (System32 to
// SysWOW64) for as long as it lives, so the walk sees the real folders.
class FileSystemRedirectionOff {
public:
    FileSystemRedirectionOff() : off_(IsWow64() && Wow64DisableWow64FsRedirection(&previous_)) {}
    ~FileSystemRedirectionOff() {
        if (off_) Wow64RevertWow64FsRedirection(previous_);
    }
    FileSystemRedirectionOff(const FileSystemRedirectionOff&) = delete;
    FileSystemRedirectionOff& operator=(const FileSystemRedirectionOff&) = delete;

private:
    void* previous_ = nullptr;
    bool off_;
};

// An entry's data for a report line: registry data can run to kilobytes.
std::string Shortened(const std::string& data) {
    constexpr size_t kShown = 80;
    if (data.empty()) return "nothing";
    return data.size() <= kShown ? data : data.substr(0, kShown) + "...";
}

}  // namespace

std::string MachineKey(const std::string& path) {
    static const bool redirected = IsWow64();
    const std::string kSoftware = "software\\";
    const std::string kClasses = "software\\classes";
    const std::string lower = Lower(path);
    // SOFTWARE\Classes is shared by both views.
    const bool belowClasses =
        lower.rfind(kClasses, 0) == 0 && (lower.size() == kClasses.size() || lower[kClasses.size()] == '\\');
    const bool belowSoftware = lower.size() > kSoftware.size() && lower.rfind(kSoftware, 0) == 0 && !belowClasses;
    if (!redirected || !belowSoftware) return "HKLM\\" + path + "\\";
    return "HKLM\\" + path.substr(0, kSoftware.size()) + "WOW6432Node\\" + path.substr(kSoftware.size()) + "\\";
}

namespace {

// The saved text of the registry a snapshot covers: HKLM, whose save holds
// both views whatever the caller's view and HKEY_CLASSES_ROOT's machine part
// (HKLM\SOFTWARE\Classes), then the user's own classes.
std::pair<std::string, std::string> SavedRegistryTexts() {
    std::pair<std::string, std::string> texts;
    texts.first = SavedRegistryText(HKEY_LOCAL_MACHINE);
    UniqueKey userClasses;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, KEY_READ, userClasses.put()) == ERROR_SUCCESS) {
        texts.second = SavedRegistryText(userClasses.get());
    }
    return texts;
}

// Walks drive C: on a thread of its own while the calling thread reads the
// registry: the walk waits mostly on the file system.
class DriveWalk {
public:
    DriveWalk()
        : thread_([this] {
              files_.reserve(1 << 15);
              files_.emplace("C:\\", std::string());
              const FileSystemRedirectionOff realFolders;  // for this thread
              WalkFolder(L"C:", "C:\\", files_);
          }) {}
    ~DriveWalk() {
        if (thread_.joinable()) thread_.join();
    }
    DriveWalk(const DriveWalk&) = delete;
    DriveWalk& operator=(const DriveWalk&) = delete;

    MachineSnapshot::Entries& Finished() {
        thread_.join();
        return files_;
    }

private:
    MachineSnapshot::Entries files_;
    std::thread thread_;
};

}  // namespace

MachineSnapshot MachineSnapshot::Take() {
    DriveWalk walk;
    const auto [machineText, userClassesText] = SavedRegistryTexts();
    auto entries = std::make_shared<Entries>();
    entries->reserve(1 << 17);
    AddRegistryTree(machineText, "HKLM\\", *entries);
    if (!userClassesText.empty()) AddRegistryTree(userClassesText, "HKCU\\Software\\Classes\\", *entries);
    Entries& files = walk.Finished();
    MachineSnapshot snapshot;
    snapshot.fileEntries_ = files.size();
    entries->merge(files);
    snapshot.entries_ = std::move(entries);
    snapshot.registryText_ = std::make_shared<std::string>(machineText + userClassesText);
    return snapshot;
}

bool MachineSnapshot::StillTrue() const {
    DriveWalk walk;
    const auto [machineText, userClassesText] = SavedRegistryTexts();
    const bool registrySame = machineText.size() + userClassesText.size() == registryText_->size() &&
                              registryText_->compare(0, machineText.size(), machineText) == 0 &&
                              registryText_->compare(machineText.size(), std::string::npos, userClassesText) == 0;
    const Entries& files = walk.Finished();
    if (!registrySame || files.size() != fileEntries_) return false;
    for (const auto& [entry, data] : files) {
        const auto found = entries_->find(entry);
        if (found == entries_->end() || found->second != data) return false;
    }
    return true;
}

MachineDifference Compare(const MachineSnapshot& before, const MachineSnapshot& after) {
    MachineDifference difference;
    if (&before.entries() == &after.entries()) return difference;  // copies of one picture
    for (const auto& [entry, data] : before.entries()) {
        const auto found = after.entries().find(entry);
        if (found == after.entries().end()) {
            difference.removed.push_back(entry);
        } else if (found->second != data) {
            difference.changed.push_back(entry);
        }
    }
    for (const auto& [entry, data] : after.entries()) {
        if (before.entries().count(entry) == 0) difference.added.push_back(entry);
    }
    for (std::vector<std::string>* list : {&difference.removed, &difference.added, &difference.changed}) {
        std::sort(list->begin(), list->end());
    }
    return difference;
}

std::string DescribeUnexpectedChanges(const MachineSnapshot& before, const MachineSnapshot& after,
                                      const std::vector<std::string>& expectedRemoved) {
    const MachineDifference difference = Compare(before, after);
    std::vector<std::string> expected;
    for (const std::string& name : expectedRemoved) expected.push_back(Lower(name));

    auto coveredBy = [](const std::string& entry, const std::string& name) {
        // A key or folder (trailing backslash) covers everything below it,
        // its values included; anything else names one entry.
        if (!name.empty() && name.back() == '\\') return entry.rfind(name, 0) == 0;
        return entry == name;
    };

    std::string report;
    std::set<std::string> matched;
    for (const std::string& entry : difference.removed) {
        const std::string lower = Lower(entry);
        bool isExpected = false;
        for (const std::string& name : expected) {
            if (coveredBy(lower, name)) {
                isExpected = true;
                matched.insert(name);
            }
        }
        if (!isExpected) report += "  removed unexpectedly: " + entry + "\n";
    }
    for (const std::string& name : expected) {
        if (matched.count(name) == 0) report += "  expected to be removed but still there: " + name + "\n";
    }
    for (const std::string& entry : difference.added) {
        if (!IsAddedByWine(entry)) report += "  added: " + entry + "\n";
    }
    for (const std::string& entry : difference.changed) {
        if (!IsChangedByWine(entry)) {
            report += "  changed: " + entry + " (" + Shortened(before.entries().at(entry)) + " -> " +
                      Shortened(after.entries().at(entry)) + ")\n";
        }
    }
    return report;
}

}  // namespace tarnvale::test
