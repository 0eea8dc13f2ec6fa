// Path tests and conversions shared by the file steps. Paths are joined by
// plain concatenation where they are built; these helpers only judge and
// convert them.
#pragma once

#include <string>

namespace tarnvale {

// True for a path that names one fixed place: a drive letter with a
// separator ("C:\..."), or a UNC path ("\\server\share..."). An empty path,
// a path relative to the current directory ("Quenta") or to the current
// drive ("\Quenta", "C:Quenta") is not absolute.
bool IsAbsolutePath(const std::string& path);

// `folder` and `name` with one backslash between them, added only where the
// folder does not already end with a separator.
std::string JoinFolderAndName(const std::string& folder, const std::string& name);

// The drive and directory part of a file path, as the runtime's path
// splitting gives them: "C:\Sims\Alarm\Uninst.isu" gives "C:\Sims\Alarm\"
// (trailing separator kept), a bare file name gives "".
std::string DriveAndDirectory(const std::string& path);

// An absolute path for the wide file API: made full (".", ".." and doubled
// separators resolved) and given the extended-length prefix, so paths longer
// than MAX_PATH work where the platform allows. Empty when the path is not
// absolute or cannot be converted.
std::wstring ExtendedPath(const std::string& path);

// The same for a wide path from the platform (a known folder, a final path).
std::wstring ExtendedPath(const std::wstring& path);

// The text in the wide form of the ANSI code page.
std::wstring ToWide(const std::string& text);

// Case-insensitive comparison of two paths, as the file system compares names.
bool SamePath(const std::wstring& left, const std::wstring& right);

}  // namespace tarnvale
