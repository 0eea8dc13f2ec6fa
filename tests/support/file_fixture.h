// Folders, files, the current directory and the environment for tests.
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
// Removes a tree; a reparse point inside it is removed itself, never entered.
void RemoveTree(const std::string& path);
// Every file and folder below `path`, as paths relative to it, sorted.
std::vector<std::string> ListTree(const std::string& path);
std::string CurrentDirectory();
// A junction at `link` that points to the folder `target`; false where the
// platform cannot make one.
bool CreateJunction(const std::string& link, const std::string& target);

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
