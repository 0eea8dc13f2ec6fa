#include "file_fixture.h"

#include <gtest/gtest.h>
#include <winioctl.h>

#include <algorithm>
#include <vector>

namespace tarnvale::test {

namespace fs {

void CreateFolders(const std::string& path) {
    std::string partial;
    size_t start = 0;
    while (start <= path.size()) {
        size_t next = path.find('\\', start);
        if (next == std::string::npos) next = path.size();
        partial = path.substr(0, next);
        if (!partial.empty() && partial.back() != ':') CreateDirectoryA(partial.c_str(), nullptr);
        start = next + 1;
    }
    ASSERT_TRUE(FolderExists(path)) << "cannot create folder " << path;
}

void WriteFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot write " << path << " (error " << GetLastError() << ")";
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = entry.cFileName;
                if (name != "." && name != "..") RemoveTree(path + "\\" + name);
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

namespace {
void ListInto(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    WIN32_FIND_DATAA entry;
    const std::string folder = relative.empty() ? root : root + "\\" + relative;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string child = relative.empty() ? name : relative + "\\" + name;
        const bool folderEntry = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.push_back(folderEntry ? child + "\\" : child);
        if (folderEntry && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListInto(root, child, out);
    } while (FindNextFileA(search, &entry));
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
