#include "log/action_log.h"

#include <cstdio>
#include <vector>

#include "common/paths.h"
#include "common/registry.h"
#include "common/unique_handle.h"
#include "guard/folder_guard.h"
#include "guard/pinned_folder.h"
#include "plan/plan_run.h"

namespace tarnvale {
namespace {

// The log of the export call in progress. The exports run one at a time on
// the setup's thread, so plain module state serves.
ActionLogScope* g_currentLog = nullptr;

// The environment variable that names the log file.
constexpr wchar_t kLogVariable[] = L"TARNVALE_LOG";
// The longest log file name taken: what the plain file API takes.
constexpr DWORD kLongestLogName = MAX_PATH - 1;

#if defined(_WIN64)
constexpr wchar_t kViewName[] = L"64-bit view";
#else
constexpr wchar_t kViewName[] = L"32-bit view";
#endif

std::wstring Widened(const char* text) { return ToWide(text != nullptr ? text : ""); }

std::wstring Number(unsigned long value) { return std::to_wstring(value); }

std::wstring Quoted(const std::string& text) { return L"\"" + ToWide(text) + L"\""; }

std::string Converted(const std::wstring& text, UINT codePage) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0) return {};
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &result[0], length, nullptr,
                        nullptr);
    return result;
}

// "2026-12-10 12:33:36.123 pid 1234 "
std::wstring LinePrefix() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t prefix[64] = {};
    swprintf(prefix, sizeof(prefix) / sizeof(prefix[0]), L"%04u-%02u-%02u %02u:%02u:%02u.%03u pid %lu ",
             now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
             GetCurrentProcessId());
    return prefix;
}

// The log file that TARNVALE_LOG names, opened to append, or an empty
// handle when there is none to be written: the name is empty, relative or
// longer than kLongestLogName; its folder cannot be held or is protected;
// the file is a link (also one the platform follows anyway), a reparse
// point or a folder, or cannot be opened (held by another process).
UniqueFile OpenLogFile() {
    wchar_t name[kLongestLogName + 1] = {};
    const DWORD length = GetEnvironmentVariableW(kLogVariable, name, kLongestLogName + 1);
    if (length == 0 || length > kLongestLogName) return {};
    const std::wstring extended = ExtendedPath(std::wstring(name, length));
    if (extended.empty()) return {};
    const size_t lastSeparator = extended.find_last_of(L"\\/");
    if (lastSeparator == std::wstring::npos || lastSeparator + 1 >= extended.size()) return {};
    // The folder is held while it is judged and the file opened in it.
    const PinnedFolder folder =
        PinnedFolder::Open(extended.substr(0, lastSeparator + 1), PinnedFolder::LastLink::Follow);
    if (!folder || !folder.IsPlainFolder()) return {};
    if (ProtectedFolders::Query().Protects(folder.finalPath())) return {};
    return folder.OpenOwnFileToAppend(extended.substr(lastSeparator + 1));
}

// True when something takes the debug output: a debugger, or a debug-output
// viewer, which waits on this event of its session or of the global
// namespace. OutputDebugStringA costs dozens of microseconds under Wine even
// when nobody listens, too much for one call per deleted file, so it is
// called only then.
bool DebugOutputListened() {
    if (IsDebuggerPresent()) return true;
    for (const wchar_t* name : {L"DBWIN_BUFFER_READY", L"Global\\DBWIN_BUFFER_READY"}) {
        if (UniqueHandleKernel(OpenEventW(SYNCHRONIZE, FALSE, name))) return true;
    }
    return false;
}

// Writes a line that someone takes (actionlog::Taken).
void Write(const std::wstring& action) noexcept {
    if (g_currentLog != nullptr) {
        g_currentLog->Write(action);
        return;
    }
    try {
        OutputDebugStringA(Converted(LinePrefix() + action + L"\n", CP_ACP).c_str());
    } catch (...) {
    }
}

// What marks each line of a plan run: the line a real run would write follows.
constexpr wchar_t kPlannedMark[] = L"planned: ";

// One action makes one line: a control character of quoted data (a message
// text ends with a line break) is written as an escape, "\n", "\r", "\t"
// or "\x" with two hex digits.
std::wstring OneLine(const std::wstring& action) {
    std::wstring line;
    line.reserve(action.size());
    for (const wchar_t character : action) {
        if (character >= L' ' && character != 0x7F) {
            line += character;
        } else if (character == L'\n') {
            line += L"\\n";
        } else if (character == L'\r') {
            line += L"\\r";
        } else if (character == L'\t') {
            line += L"\\t";
        } else {
            const wchar_t* const kHexDigits = L"0123456789ABCDEF";
            line += L"\\x";
            line += kHexDigits[(character >> 4) & 0xF];
            line += kHexDigits[character & 0xF];
        }
    }
    return line;
}

// Builds the line's text, only when someone takes it; a failure (memory
// exhausted) loses the line only.
template <typename Text>
void Log(Text&& text) noexcept {
    try {
        if (actionlog::Taken()) Write(OneLine(plan::Active() ? kPlannedMark + text() : text()));
    } catch (...) {
    }
}

}  // namespace

ActionLogScope::ActionLogScope(const char* exportName) noexcept
    : exportName_(exportName), previous_(g_currentLog) {
    debugOutput_ = DebugOutputListened();
    try {
        file_ = OpenLogFile();
    } catch (...) {
        file_.reset();
    }
    g_currentLog = this;
}

ActionLogScope::~ActionLogScope() {
    g_currentLog = previous_;
}

bool ActionLogScope::Taken() const noexcept {
    // A debugger attached during the call is seen at once.
    return file_ || debugOutput_ || IsDebuggerPresent();
}

void ActionLogScope::Write(const std::wstring& action) noexcept {
    try {
        const std::wstring line = LinePrefix() + Widened(exportName_) + L": " + action;
        // A debugger attached during the call is seen at once.
        if (debugOutput_ || IsDebuggerPresent()) OutputDebugStringA(Converted(line + L"\n", CP_ACP).c_str());
        if (!file_) return;
        const std::string bytes = Converted(line + L"\r\n", CP_UTF8);
        DWORD written = 0;
        // One WriteFile per line; a line that cannot be written is lost.
        WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    } catch (...) {
    }
}

std::wstring DisplayPath(const std::wstring& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    // Only a drive path reads the same without the prefix; a volume
    // ("\\?\Volume{...}\") or device ("\\?\GLOBALROOT\...") path needs it.
    const wchar_t letter = path.size() >= 6 ? path[4] : L'\0';
    const bool drivePath = ((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z')) &&
                           path[5] == L':' && (path.size() == 6 || IsPathSeparator(path[6]));
    if (drivePath && path.compare(0, 4, kExtendedPathPrefix) == 0) return path.substr(4);
    return path;
}

std::wstring KeyDisplayPath(HKEY key) noexcept {
    try {
        if (key == HKEY_LOCAL_MACHINE) return L"HKLM";
        if (key == HKEY_CLASSES_ROOT) return L"HKCR";
        const std::wstring name = KeyObjectName(key);
        if (name.empty()) return {};
        std::wstring path = name;
        const wchar_t kMachine[] = L"\\REGISTRY\\MACHINE\\";
        const wchar_t kUsers[] = L"\\REGISTRY\\USER\\";
        const size_t machineLength = wcslen(kMachine);
        const size_t usersLength = wcslen(kUsers);
        if (name.size() >= machineLength &&
            CompareStringOrdinal(name.data(), static_cast<int>(machineLength), kMachine,
                                 static_cast<int>(machineLength), TRUE) == CSTR_EQUAL) {
            path = L"HKLM\\" + name.substr(machineLength);
        } else if (name.size() >= usersLength &&
                   CompareStringOrdinal(name.data(), static_cast<int>(usersLength), kUsers,
                                        static_cast<int>(usersLength), TRUE) == CSTR_EQUAL) {
            path = L"HKU\\" + name.substr(usersLength);
        }
#if !defined(_WIN64)
        // The 32-bit view's keys below SOFTWARE live in SOFTWARE\WOW6432Node;
        // the log names them as the view does.
        const wchar_t kRedirected[] = L"HKLM\\SOFTWARE\\WOW6432Node";
        const size_t redirectedLength = wcslen(kRedirected);
        if (path.size() >= redirectedLength &&
            CompareStringOrdinal(path.data(), static_cast<int>(redirectedLength), kRedirected,
                                 static_cast<int>(redirectedLength), TRUE) == CSTR_EQUAL &&
            (path.size() == redirectedLength || path[redirectedLength] == L'\\')) {
            path = path.substr(0, 13) + path.substr(redirectedLength);
        }
#endif
        return path;
    } catch (...) {
        return {};
    }
}

namespace actionlog {

bool Taken() noexcept {
    if (g_currentLog != nullptr) return g_currentLog->Taken();
    return DebugOutputListened();
}

void KeyDeleted(const std::wstring& fullPath, bool isLink) noexcept {
    Log([&] {
        return L"deleted key " + fullPath + L" (" + kViewName + (isLink ? L", a registry link: the link alone" : L"") +
               L")";
    });
}

void KeyNotDeleted(const std::wstring& fullPath, const char* reason) noexcept {
    Log([&] { return L"key not deleted: " + fullPath + L" (" + kViewName + L"): " + Widened(reason); });
}

void KeyRefused(const std::wstring& fullPath, const char* reason) noexcept {
    Log([&] { return L"key refused by the key guard: " + fullPath + L" (" + kViewName + L"): " + Widened(reason); });
}

void FileDeleted(const std::wstring& path) noexcept { Log([&] { return L"deleted file " + DisplayPath(path); }); }

void FileNotDeleted(const std::wstring& path, DWORD error) noexcept {
    Log([&] { return L"file not deleted: " + DisplayPath(path) + L": error " + Number(error); });
}

void FolderDeleted(const std::wstring& path) noexcept {
    Log([&] { return L"deleted folder " + DisplayPath(path); });
}

void FolderRefused(const std::wstring& path, const char* reason) noexcept {
    Log([&] { return L"folder refused by the folder guard: " + DisplayPath(path) + L": " + Widened(reason); });
}

void CommandStarted(const std::string& commandLine, DWORD processId) noexcept {
    Log([&] {
        return L"started command " + Quoted(commandLine) +
               (processId != 0 ? L" as process " + Number(processId) : std::wstring());
    });
}

void CommandNotStarted(const std::string& commandLine, DWORD error) noexcept {
    Log([&] { return L"command not started: " + Quoted(commandLine) + L": error " + Number(error); });
}

void CommandEnded(DWORD exitCode, DWORD milliseconds) noexcept {
    Log([&] { return L"command ended: exit code " + Number(exitCode) + L" after " + Number(milliseconds) + L" ms"; });
}

void CommandEndAwaited() noexcept {
    Log([] { return std::wstring(L"command ended: its exit code and time are known only when it runs"); });
}

void CommandWaitFailed(DWORD error) noexcept {
    Log([&] { return L"command's end not known: error " + Number(error); });
}

void WindowShown(const char* window, const std::string& text) noexcept {
    Log([&] { return L"shown " + Widened(window) + (text.empty() ? std::wstring() : L": " + Quoted(text)); });
}

void ResourceLibraryLoaded(HMODULE library) noexcept {
    Log([&] {
        std::vector<wchar_t> path(0x8000);
        const DWORD length = GetModuleFileNameW(library, path.data(), static_cast<DWORD>(path.size()));
        return L"loaded resource library " + std::wstring(path.data(), length < path.size() ? length : 0);
    });
}

void ResourceLibraryMissing(DWORD error) noexcept {
    Log([&] { return L"no resource library loaded: error " + Number(error) + L"; the library's own texts serve"; });
}

void ResourceLibraryReleased() noexcept { Log([] { return std::wstring(L"released resource library"); }); }

void RegistrationWithoutGuid(const std::string& name) noexcept {
    Log([&] {
        return L"registration without GUID: " + Quoted(name) + L"; its Uninstall entry is looked up by its name";
    });
}

void UninstallEntryMissing(const std::string& guidOrName) noexcept {
    Log([&] { return L"no Uninstall entry for " + Quoted(guidOrName) + L" (nor \"Borelle SIM \" with it)"; });
}

void ProductFolderMissing() noexcept {
    Log([] { return std::wstring(L"product folder not found: no file is looked at"); });
}

void UnexpectedFailure() noexcept {
    Log([] { return std::wstring(L"ended early by an unexpected failure (memory exhausted)"); });
}

void Result(int result) noexcept { Log([&] { return L"returned " + std::to_wstring(result); }); }

}  // namespace actionlog
}  // namespace tarnvale
