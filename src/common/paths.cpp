#include "common/paths.h"

#include <windows.h>

#include <vector>

namespace tarnvale {
namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

std::wstring ToWide(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

namespace {

bool IsAbsoluteWide(const std::wstring& path) {
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsPathSeparator(path[2])) return true;
    // "\\server\share": two separators and a server name.
    return path.size() >= 3 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) && !IsPathSeparator(path[2]);
}

}  // namespace

bool IsAbsolutePath(const std::string& path) { return IsAbsoluteWide(ToWide(path)); }

std::string DriveAndDirectory(const std::string& path) {
    size_t directoryStart = 0;
    if (path.size() >= 2 && path[1] == ':') directoryStart = 2;
    const size_t lastSeparator = path.find_last_of("\\/");
    if (lastSeparator == std::string::npos || lastSeparator < directoryStart) return path.substr(0, directoryStart);
    return path.substr(0, lastSeparator + 1);
}

std::wstring ExtendedPath(const std::wstring& path) {
    const std::wstring prefix = kExtendedPathPrefix;
    if (path.compare(0, prefix.size(), prefix) == 0) return path;
    if (!IsAbsoluteWide(path)) return {};
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::vector<wchar_t> buffer(needed + 1, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) return {};
    std::wstring full(buffer.data(), length);
    if (full.size() >= 2 && IsPathSeparator(full[0]) && IsPathSeparator(full[1])) {
        return prefix + L"UNC\\" + full.substr(2);  // \\server\share -> \\?\UNC\server\share
    }
    return prefix + full;
}

std::wstring ExtendedPath(const std::string& path) { return ExtendedPath(ToWide(path)); }

bool SamePath(const std::wstring& left, const std::wstring& right) {
    return CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace tarnvale
