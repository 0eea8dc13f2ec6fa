// Folders, files, the current directory and the environment for tests. Paths
// longer than MAX_PATH work too.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tarnvale::test {

namespace fs {

// The folder below which tests build their trees.
constexpr char kTestRoot[] = R"(C:\TarnvaleTest)";

void CreateFolders(const std::string& path);
void WriteFile(const std::string& path, const std::string& content = "x");
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);    // a file, not a folder
bool FolderExists(const std::string& path);  // a folder, not a file
bool Exists(const std::string& path);
// The file attributes at `path` (INVALID_FILE_ATTRIBUTES when nothing is there).
DWORD GetAttributes(const std::string& path);
bool SetAttributes(const std::string& path, DWORD attributes);
// Removes a tree; a reparse point inside it is removed itself, never entered.
void RemoveTree(const std::string& path);
// Every file and folder below `path`, as paths relative to it, sorted.
std::vector<std::string> ListTree(const std::string& path);
std::string CurrentDirectory();
// The Windows folder and the folder of the users' profiles, as the platform names them.
std::string WindowsFolder();
std::string ProfilesFolder();
// A junction at `link` that points to the folder `target`; false where the
// platform cannot make one.
bool CreateJunction(const std::string& link, const std::string& target);
// A link at `link` to the folder `target` that shows as a reparse point: a
// junction where the platform makes one, otherwise (Wine) a unix symbolic
// link. False when neither can be made.
bool CreateFolderLink(const std::string& link, const std::string& target);

// A symbolic link at `link` to the file `target`: made by the platform where
// it can, otherwise (Wine) a unix symbolic link. False when neither works.
bool CreateFileLink(const std::string& link, const std::string& target);
// The unix path of a Windows path (Wine); empty elsewhere.
std::string UnixPath(const std::string& path);
// Starts a unix shell command line (Wine) and does not wait for it.
bool StartUnixShell(const std::string& command);
// Renames a link itself (never what it points to: Wine's own rename would
// move the target), through a unix program; true once the link is at `to`.
bool RenameLink(const std::string& from, const std::string& to);

}  // namespace fs

// A folder tree that belongs to one test: removed before and after it.
class ScopedFolder {
public:
    explicit ScopedFolder(std::string path, bool create = true);
    ~ScopedFolder();
    ScopedFolder(const ScopedFolder&) = delete;
    ScopedFolder& operator=(const ScopedFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// A copy of a file that exists for one test (such as a resource library
// placed beside the host).
class ScopedFileCopy {
public:
    ScopedFileCopy(const std::string& source, std::string target);
    ~ScopedFileCopy();
    ScopedFileCopy(const ScopedFileCopy&) = delete;
    ScopedFileCopy& operator=(const ScopedFileCopy&) = delete;

private:
    std::string target_;
};

// A drive letter that stands for a folder for one test: defined through the
// platform (DefineDosDeviceW) where that works, otherwise (Wine) as a link in
// the prefix's "dosdevices" folder. Removed again at the end.
class ScopedDriveLetter {
public:
    ScopedDriveLetter(char letter, const std::string& folder);
    ~ScopedDriveLetter();
    ScopedDriveLetter(const ScopedDriveLetter&) = delete;
    ScopedDriveLetter& operator=(const ScopedDriveLetter&) = delete;
    bool mapped() const { return mapped_; }

private:
    std::string drive_;  // "T:"
    std::string unixLink_;
    bool defined_ = false;
    bool mapped_ = false;
};

// A file held open without sharing for one test, so that nobody can delete it.
class ScopedHeldFile {
public:
    explicit ScopedHeldFile(const std::string& path);
    ~ScopedHeldFile();
    ScopedHeldFile(const ScopedHeldFile&) = delete;
    ScopedHeldFile& operator=(const ScopedHeldFile&) = delete;

private:
    HANDLE handle_;
};

class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::string& path);
    ~ScopedCurrentDirectory();
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::string previous_;
};

class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::string previous_;
    bool hadValue_ = false;
};

// The folder of the test executable: the first place the platform's library
// search looks, so a resource library copied here is found "beside the host".
std::string HostFolder();

}  // namespace tarnvale::test
