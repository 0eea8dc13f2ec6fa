// Path tests and conversions shared by the file steps. Paths are joined by
// plain concatenation where they are built; these helpers only judge and
// convert them.
#pragma once

#include <string>

namespace tarnvale {

// The prefix of an extended-length path ("\\?\C:\..." or "\\?\UNC\...").
inline constexpr wchar_t kExtendedPathPrefix[] = L"\\\\?\\";

// A backslash or a forward slash: the file API takes both.
inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// True for a path that names one fixed place: a drive letter with a
// separator ("C:\..."), or a UNC path ("\\server\share..."). An empty path,
// a path relative to the current directory ("Quenta") or to the current
// drive ("\Quenta", "C:Quenta") is not absolute.
bool IsAbsolutePath(const std::string& path);

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
