#include "file_fixture.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <winioctl.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace tarnvale::test {

namespace fs {

namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr, nullptr);
    return narrow;
}

// The path for the wide file API: a long absolute path gets the
// extended-length prefix (after the platform has made it full), so tests can
// build and inspect trees deeper than MAX_PATH.
std::wstring Native(const std::string& path) {
    const std::wstring wide = Widen(path);
    const bool absolute = wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\';
    if (wide.size() < 240 || !absolute) return wide;
    wchar_t full[32768];
    const DWORD length = GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
    if (length == 0 || length >= 32768) return wide;
    return L"\\\\?\\" + std::wstring(full, length);
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Native(path).c_str()); }

}  // namespace

// The unix path of a Windows path, through Wine's own export; empty outside Wine.
std::string UnixPath(const std::string& path) {
    using ToUnix = char*(__cdecl*)(const wchar_t*);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    if (toUnix == nullptr) return {};
    char* unixPath = toUnix(Widen(path).c_str());
    if (unixPath == nullptr) return {};
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

namespace {

// Runs a unix program (Wine starts those too) and waits for it; false when it
// cannot be started or an argument is empty.
bool RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::string commandLine = program;
    for (const std::string& argument : arguments) {
        if (argument.empty()) return false;
        commandLine += " \"" + argument + "\"";
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        return false;
    }
    // Wine starts a unix program without a process handle and leaves the
    // thread handle undefined: closing that value would close whatever
    // handle of this process happens to have it (its standard output, say).
    // Callers wait for the program's effect instead.
    if (started.hProcess == nullptr) return true;
    WaitForSingleObject(started.hProcess, 10000);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    return true;
}

}  // namespace

void CreateFolders(const std::string& path) {
    std::string partial;
    size_t start = 0;
    while (start <= path.size()) {
        size_t next = path.find('\\', start);
        if (next == std::string::npos) next = path.size();
        partial = path.substr(0, next);
        if (!partial.empty() && partial.back() != ':') CreateDirectoryW(Native(partial).c_str(), nullptr);
        start = next + 1;
    }
    ASSERT_TRUE(FolderExists(path)) << "cannot create folder " << path;
}

void WriteFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileW(Native(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot write " << path << " (error " << GetLastError() << ")";
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFile(const std::string& path) {
    HANDLE file = CreateFileW(Native(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string content;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) content.append(buffer, read);
    CloseHandle(file);
    return content;
}

bool FileExists(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

DWORD GetAttributes(const std::string& path) { return Attributes(path); }

bool SetAttributes(const std::string& path, DWORD attributes) {
    return SetFileAttributesW(Native(path).c_str(), attributes) != FALSE;
}

namespace {

// Waits until `condition` holds; a unix program that Wine starts cannot be
// waited for through its handle.
bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        Sleep(10);
    }
    return condition();
}

// The attributes of the entry at `path` itself, as its folder lists it: also
// for a link whose target is gone.
DWORD EntryAttributes(const std::string& path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(Native(path).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return INVALID_FILE_ATTRIBUTES;
    FindClose(search);
    return entry.dwFileAttributes;
}

void RemoveEntry(const std::string& path, DWORD attributes) {
    const std::wstring native = Native(path);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(native.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((native + L"\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") RemoveEntry(path + "\\" + Narrow(name), entry.dwFileAttributes);
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(native.c_str());
        return;
    }
    // A link to a folder goes as the link; what it points to stays. Wine
    // removes a unix symbolic link through no file API, so a unix program does.
    if (RemoveDirectoryW(native.c_str()) || DeleteFileW(native.c_str())) return;
    if (RunUnixProgram("/bin/rm", {UnixPath(path)})) {
        WaitFor([&] { return EntryAttributes(path) == INVALID_FILE_ATTRIBUTES; });
    }
}

// Removes every link in the tree first, while their targets still exist:
// Wine no longer shows a unix link whose target is gone.
void RemoveLinks(const std::string& path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((Native(path) + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L".." || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        const std::string child = path + "\\" + Narrow(name);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            RemoveEntry(child, entry.dwFileAttributes);
        } else {
            RemoveLinks(child);
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

}  // namespace

void RemoveTree(const std::string& path) {
    const DWORD attributes = EntryAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) RemoveLinks(path);
    RemoveEntry(path, attributes);
    // What Wine cannot show any more (a unix link left dangling by an aborted
    // run) goes through a unix program, below the test root only.
    const std::string root = kTestRoot;
    if (Exists(path) && _strnicmp(path.c_str(), root.c_str(), root.size()) == 0 && path.size() > root.size() &&
        RunUnixProgram("/bin/rm", {"-rf", UnixPath(path)})) {
        WaitFor([&] { return !Exists(path); });
    }
}

namespace {
void ListInto(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    WIN32_FIND_DATAW entry;
    const std::string folder = relative.empty() ? root : root + "\\" + relative;
    HANDLE search = FindFirstFileW((Native(folder) + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = Narrow(entry.cFileName);
        if (name == "." || name == "..") continue;
        const std::string child = relative.empty() ? name : relative + "\\" + name;
        const bool folderEntry = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.push_back(folderEntry ? child + "\\" : child);
        if (folderEntry && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListInto(root, child, out);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}
}  // namespace

std::vector<std::string> ListTree(const std::string& path) {
    std::vector<std::string> entries;
    ListInto(path, "", entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::string CurrentDirectory() {
    char buffer[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof(buffer), buffer);
    return buffer;
}

std::string WindowsFolder() {
    char path[MAX_PATH] = {};
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

std::string ProfilesFolder() {
    PWSTR path = nullptr;
    std::string result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_UserProfiles, 0, nullptr, &path))) {
        for (const wchar_t* c = path; *c != L'\0'; ++c) result += static_cast<char>(*c);
    }
    CoTaskMemFree(path);
    return result;
}

bool CreateJunction(const std::string& link, const std::string& target) {
    if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
    HANDLE handle = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        RemoveDirectoryA(link.c_str());
        return false;
    }
    // A mount-point reparse buffer: tag, sizes, then the NT target and the
    // printable name, both UTF-16 and NUL-terminated.
    std::wstring substitute = L"\\??\\";
    for (char c : target) substitute += static_cast<wchar_t>(c);
    std::wstring printable(substitute.begin() + 4, substitute.end());
    const size_t substituteBytes = substitute.size() * sizeof(wchar_t);
    const size_t printableBytes = printable.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(8 + 8 + substituteBytes + 2 + printableBytes + 2, 0);
    auto put16 = [&](size_t offset, size_t value) {
        buffer[offset] = static_cast<BYTE>(value & 0xff);
        buffer[offset + 1] = static_cast<BYTE>((value >> 8) & 0xff);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(buffer.data(), &tag, sizeof(tag));
    put16(4, buffer.size() - 8);
    put16(8, 0);
    put16(10, substituteBytes);
    put16(12, substituteBytes + 2);
    put16(14, printableBytes);
    memcpy(buffer.data() + 16, substitute.data(), substituteBytes);
    memcpy(buffer.data() + 16 + substituteBytes + 2, printable.data(), printableBytes);
    DWORD returned = 0;
    const BOOL made = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                      static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    CloseHandle(handle);
    if (!made) RemoveDirectoryA(link.c_str());
    return made != FALSE;
}


bool CreateFolderLink(const std::string& link, const std::string& target) {
    if (CreateJunction(link, target)) return true;
    // Wine cannot make junctions, but it runs unix programs and shows a unix
    // symbolic link as a folder with the reparse-point attribute.
    if (!RunUnixProgram("/bin/ln", {"-s", UnixPath(target), UnixPath(link)})) return false;
    return WaitFor([&] {
        const DWORD attributes = Attributes(link);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    });
}

bool CreateFileLink(const std::string& link, const std::string& target) {
    // Wine's CreateSymbolicLinkW reports success and makes nothing.
    if (CreateSymbolicLinkW(Native(link).c_str(), Native(target).c_str(), 0) && FileExists(link)) return true;
    if (!RunUnixProgram("/bin/ln", {"-s", UnixPath(target), UnixPath(link)})) return false;
    return WaitFor([&] { return FileExists(link); });
}

bool StartUnixShell(const std::string& command) { return RunUnixProgram("/bin/sh", {"-c", command}); }

bool RenameLink(const std::string& from, const std::string& to) {
    if (!RunUnixProgram("/bin/mv", {"-T", UnixPath(from), UnixPath(to)})) return false;
    return WaitFor([&] { return Attributes(to) != INVALID_FILE_ATTRIBUTES && Attributes(from) == INVALID_FILE_ATTRIBUTES; });
}

}  // namespace fs

ScopedFolder::ScopedFolder(std::string path, bool create) : path_(std::move(path)) {
    fs::RemoveTree(path_);
    if (create) fs::CreateFolders(path_);
}

ScopedFolder::~ScopedFolder() { fs::RemoveTree(path_); }

ScopedFileCopy::ScopedFileCopy(const std::string& source, std::string target) : target_(std::move(target)) {
    if (!CopyFileA(source.c_str(), target_.c_str(), FALSE)) {
        ADD_FAILURE() << "cannot copy " << source << " to " << target_ << " (error " << GetLastError() << ")";
    }
}

ScopedFileCopy::~ScopedFileCopy() {
    SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(target_.c_str());
}

ScopedDriveLetter::ScopedDriveLetter(char letter, const std::string& folder) : drive_{letter, ':'} {
    const std::string root = drive_ + "\\";
    if (fs::Exists(root)) return;  // a drive of the machine: never replaced
    if (DefineDosDeviceA(0, drive_.c_str(), folder.c_str())) {
        // Wine accepts the definition but its file system does not see it.
        if (fs::FolderExists(root)) {
            defined_ = mapped_ = true;
            return;
        }
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive_.c_str(), nullptr);
    }
    // Under Wine a drive is a link in the prefix's "dosdevices" folder, beside "drive_c".
    // Wine names C:\ either by its "drive_c" folder or by its "dosdevices" link.
    std::string driveC = fs::UnixPath("C:\\");
    while (!driveC.empty() && driveC.back() == '/') driveC.pop_back();
    const size_t slash = driveC.rfind('/');
    if (slash == std::string::npos) return;
    std::string dosDevices = driveC.substr(0, slash);
    if (dosDevices.size() < 11 || dosDevices.compare(dosDevices.size() - 11, 11, "/dosdevices") != 0) {
        dosDevices += "/dosdevices";
    }
    unixLink_ = dosDevices + "/" + static_cast<char>(tolower(letter)) + ":";
    if (!fs::RunUnixProgram("/bin/ln", {"-s", fs::UnixPath(folder), unixLink_})) return;
    mapped_ = fs::WaitFor([&] { return fs::FolderExists(root); });
}

ScopedDriveLetter::~ScopedDriveLetter() {
    if (defined_) DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive_.c_str(), nullptr);
    if (!unixLink_.empty() && fs::RunUnixProgram("/bin/rm", {"-f", unixLink_})) {
        fs::WaitFor([&] { return !fs::Exists(drive_ + "\\"); });
    }
}

ScopedHeldFile::ScopedHeldFile(const std::string& path)
    : handle_(CreateFileW(fs::Native(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {
    if (handle_ == INVALID_HANDLE_VALUE) ADD_FAILURE() << "cannot hold " << path << " (error " << GetLastError() << ")";
}

ScopedHeldFile::~ScopedHeldFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::string& path) : previous_(fs::CurrentDirectory()) {
    if (!SetCurrentDirectoryA(path.c_str())) ADD_FAILURE() << "cannot enter " << path;
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() { SetCurrentDirectoryA(previous_.c_str()); }

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value) : name_(std::move(name)) {
    char buffer[32768];
    const DWORD length = GetEnvironmentVariableA(name_.c_str(), buffer, sizeof(buffer));
    hadValue_ = length > 0 && length < sizeof(buffer);
    if (hadValue_) previous_.assign(buffer, length);
    SetEnvironmentVariableA(name_.c_str(), value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironmentVariableA(name_.c_str(), hadValue_ ? previous_.c_str() : nullptr);
}

std::string HostFolder() {
    char path[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

}  // namespace tarnvale::test
