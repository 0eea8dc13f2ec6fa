// The action log: one line for each thing an export does or passes by, so
// that a support engineer can tell afterwards what the library did on a
// machine and why it left something alone. Every line goes to the debug
// output (OutputDebugStringA) whenever a debugger or a debug-output viewer
// takes it (a viewer started during a call sees the next call), and, when the environment variable
// TARNVALE_LOG names a usable file, is appended to that file as UTF-8:
//
//   2026-12-10 12:33:36.123 pid 1234 CleanSIMInfo: deleted file C:\Quenta\Sims\Alarm\alarm.dat
//
// The file is opened once per export call and written line by line with
// WriteFile, nothing buffered here, so a crash loses at most the line being
// written. It gets the protection of the deletions: never written through a
// link, never in a protected folder; an empty, relative or too long name, or
// one that is no plain file, is ignored. A log that cannot be written never
// changes what the export does: every function here is noexcept and ignores
// its own failures. The texts are the library's own English ones, whatever
// resource library is loaded; only quoted data (a window's text, a command
// line, a path) is given as it is.
#pragma once

#include <windows.h>

#include <string>

#include "common/unique_handle.h"

namespace tarnvale {

// The log of one export call: opened by RunExport before the export's body
// runs, closed on every way out. Lines written while none is open go to the
// debug output only, without an export name.
class ActionLogScope {
public:
    explicit ActionLogScope(const char* exportName) noexcept;
    ~ActionLogScope();
    ActionLogScope(const ActionLogScope&) = delete;
    ActionLogScope& operator=(const ActionLogScope&) = delete;

    // Writes one line of this call's log.
    void Write(const std::wstring& action) noexcept;

    // True when a line of this call goes anywhere: to the log file, or to a
    // debugger or debug-output viewer.
    bool Taken() const noexcept;

private:
    const char* exportName_;
    UniqueFile file_;  // the log file, when one is usable
    bool debugOutput_ = false;  // a debug-output viewer listened when the call began
    ActionLogScope* previous_;
};

namespace actionlog {

// True when a line written now goes anywhere: a log file, a debugger or a
// debug-output viewer. Callers that must ask the platform for a line's text
// (a key's full name, a folder's final path) ask only then.
bool Taken() noexcept;

// Registry keys. `fullPath` as "HKLM\SOFTWARE\...", in the library's view.
void KeyDeleted(const std::wstring& fullPath, bool isLink) noexcept;
void KeyNotDeleted(const std::wstring& fullPath, const char* reason) noexcept;
void KeyRefused(const std::wstring& fullPath, const char* reason) noexcept;

// Files and folders, by their full path.
void FileDeleted(const std::wstring& path) noexcept;
void FileNotDeleted(const std::wstring& path, DWORD error) noexcept;
void FolderDeleted(const std::wstring& path) noexcept;
void FolderRefused(const std::wstring& path, const char* reason) noexcept;

// Commands.
// A plan run gives no process id (0) and ends with CommandEndAwaited.
void CommandStarted(const std::string& commandLine, DWORD processId) noexcept;
void CommandNotStarted(const std::string& commandLine, DWORD error) noexcept;
void CommandEnded(DWORD exitCode, DWORD milliseconds) noexcept;
void CommandWaitFailed(DWORD error) noexcept;
void CommandEndAwaited() noexcept;

// Windows, by what they are, with the text they show as shown.
void WindowShown(const char* window, const std::string& text) noexcept;

// The resource library.
void ResourceLibraryLoaded(HMODULE library) noexcept;
void ResourceLibraryMissing(DWORD error) noexcept;
void ResourceLibraryReleased() noexcept;

// What a SIM cleanup passed by.
void RegistrationWithoutGuid(const std::string& name) noexcept;
void UninstallEntryMissing(const std::string& guidOrName) noexcept;
void ProductFolderMissing() noexcept;

// The end of the call.
void UnexpectedFailure() noexcept;
void Result(int result) noexcept;

}  // namespace actionlog

// The full path of an open registry key as "HKLM\SOFTWARE\..." in the
// library's registry view; empty when the platform cannot tell.
std::wstring KeyDisplayPath(HKEY key) noexcept;

// The path of a file or folder for the log: a final or extended path of a
// drive or share without its "\\?\" prefix; a volume or device path, which
// names nothing without it, as it is.
std::wstring DisplayPath(const std::wstring& path);

}  // namespace tarnvale
