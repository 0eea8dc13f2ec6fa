#include "guard/pinned_folder.h"

#include <winternl.h>

#include <utility>

#include "common/paths.h"
#include "log/action_log.h"
#include "plan/plan_run.h"

namespace tarnvale {
namespace {

// Create options of the native file API, which alone opens a name relative
// to a held folder.
constexpr ULONG kOpenExisting = 1;              // FILE_OPEN
constexpr ULONG kOpenOrCreate = 3;              // FILE_OPEN_IF
constexpr ULONG kDirectoryOnly = 0x1;           // FILE_DIRECTORY_FILE
constexpr ULONG kSynchronous = 0x20;            // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kNonDirectoryOnly = 0x40;       // FILE_NON_DIRECTORY_FILE
constexpr ULONG kBackupIntent = 0x4000;         // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kEntryItself = 0x200000;        // FILE_OPEN_REPARSE_POINT
constexpr ULONG kCaseInsensitive = 0x40;        // OBJ_CASE_INSENSITIVE

// Held folders let others read and write, never delete or rename.
constexpr DWORD kPinSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kAllSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK kPinAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// Opens the entry `name` of the held folder `folder`, the entry itself where
// the platform can tell a link from its target. `status` gets the platform's
// answer (an NTSTATUS, 0 on success).
UniqueFile OpenInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG sharing,
                        ULONG options, ULONG disposition = kOpenExisting, LONG* status = nullptr) {
    using CreateFileFunction = LONG(WINAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                             PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
    static const auto createFile = reinterpret_cast<CreateFileFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
    constexpr size_t kLongestName = 0x7FFF;
    constexpr LONG kInvalidParameter = static_cast<LONG>(0xC000000D);  // STATUS_INVALID_PARAMETER
    if (status != nullptr) *status = kInvalidParameter;
    if (createFile == nullptr || name.empty() || name.size() > kLongestName) return {};
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.RootDirectory = folder;
    attributes.ObjectName = &objectName;
    attributes.Attributes = kCaseInsensitive;
    IO_STATUS_BLOCK ioStatus = {};
    HANDLE handle = nullptr;
    const LONG result = createFile(&handle, access | SYNCHRONIZE, &attributes, &ioStatus, nullptr, 0, sharing,
                                   disposition, options | kSynchronous, nullptr, 0);
    if (status != nullptr) *status = result;
    if (result != 0) return {};
    return UniqueFile(handle);
}

// The path of an open file or folder below its volume ("\Quenta\Sims"), as
// the platform knows the open object; empty when it cannot tell.
std::wstring NameOnVolume(HANDLE handle) {
    struct NameBuffer {
        FILE_NAME_INFO info;
        wchar_t rest[MAX_PATH * 2];
    } small;
    if (GetFileInformationByHandleEx(handle, FileNameInfo, &small, sizeof(small))) {
        return std::wstring(small.info.FileName, small.info.FileNameLength / sizeof(wchar_t));
    }
    if (GetLastError() != ERROR_MORE_DATA) return {};
    std::vector<LONGLONG> large((sizeof(FILE_NAME_INFO) + 0x8000 * sizeof(wchar_t)) / sizeof(LONGLONG) + 1);
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(large.data());
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, static_cast<DWORD>(large.size() * sizeof(LONGLONG)))) {
        return {};
    }
    return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

// The platform's name of an open file or folder (on Windows
// "\Device\HarddiskVolume1\Quenta\Sims\a.dll", under Wine "\??\C:\Quenta\Sims\a.dll"),
// where a link the platform followed shows as its target's name; empty when
// it cannot tell. One question to the platform, where the name below the
// volume (NameOnVolume) takes two under Wine: the file's descriptor first.
std::wstring ObjectName(HANDLE handle) {
    using QueryObjectFunction = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    static const auto queryObject = reinterpret_cast<QueryObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    if (queryObject == nullptr) return {};
    constexpr int kObjectNameInformation = 1;
    // OBJECT_NAME_INFORMATION: a UNICODE_STRING, then the name it points to.
    // Most names fit the small buffer; a longer one gets what it needs.
    LONGLONG small[(sizeof(UNICODE_STRING) + MAX_PATH * 2 * sizeof(wchar_t)) / sizeof(LONGLONG) + 1];
    std::vector<LONGLONG> large;
    void* buffer = small;
    ULONG needed = 0;
    LONG status = queryObject(handle, kObjectNameInformation, small, sizeof(small), &needed);
    if (status != 0 && needed > sizeof(small)) {
        large.resize(needed / sizeof(LONGLONG) + 1);
        buffer = large.data();
        status = queryObject(handle, kObjectNameInformation, buffer, static_cast<ULONG>(large.size() * sizeof(LONGLONG)),
                             &needed);
    }
    if (status != 0) return {};
    const auto* name = static_cast<const UNICODE_STRING*>(buffer);
    if (name->Buffer == nullptr) return {};
    return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && IsPathSeparator(folder.back())) return folder + name;
    return folder + L"\\" + name;
}

// The final path of an open folder in extended form; `fallback` where the
// platform cannot tell (Wine answers only for paths up to MAX_PATH, and not
// for volume paths).
std::wstring FinalPath(HANDLE handle, const std::wstring& fallback) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                       VOLUME_NAME_DOS);
        if (length == 0) return fallback;
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

// The system error code of an NTSTATUS, for the log.
DWORD ErrorOfStatus(LONG status) {
    using ConvertFunction = ULONG(WINAPI*)(LONG);
    static const auto convert = reinterpret_cast<ConvertFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    return convert != nullptr ? convert(status) : static_cast<DWORD>(status);
}

// A name that is not there: nothing to delete, nothing to report.
bool IsMissing(LONG status) {
    constexpr LONG kNameNotFound = static_cast<LONG>(0xC0000034);  // STATUS_OBJECT_NAME_NOT_FOUND
    constexpr LONG kPathNotFound = static_cast<LONG>(0xC000003A);  // STATUS_OBJECT_PATH_NOT_FOUND
    return status == kNameNotFound || status == kPathNotFound;
}

bool IsDotEntry(const std::wstring& name) { return name == L"." || name == L".."; }

// The attributes of an open file or folder (INVALID_FILE_ATTRIBUTES when the
// platform cannot tell).
DWORD Attributes(HANDLE handle) {
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic))) return INVALID_FILE_ATTRIBUTES;
    return basic.FileAttributes;
}

bool SetDisposition(HANDLE handle, bool deleteIt) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = deleteIt ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool SetAttributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic = {};  // times of zero are left as they are
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

// The entries directly in the folder that `folder` stands for (without "."
// and ".."), listed through the handle. An error ends the list there.
std::vector<PinnedFolder::Entry> ListEntries(HANDLE folder) {
    std::vector<PinnedFolder::Entry> entries;
    std::vector<LONGLONG> buffer(0x10000 / sizeof(LONGLONG));
    const DWORD bufferSize = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    // ERROR_NO_MORE_FILES is the normal end; another error ends the list too.
    while (GetFileInformationByHandleEx(folder, kind, buffer.data(), bufferSize)) {
        kind = FileIdBothDirectoryInfo;
        const BYTE* position = reinterpret_cast<const BYTE*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(position);
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (!IsDotEntry(name)) entries.push_back({std::move(name), entry->FileAttributes});
            if (entry->NextEntryOffset == 0) break;
            position += entry->NextEntryOffset;
        }
    }
    return entries;
}

// What names an entry for a plan run: its volume's serial number and its
// path below the volume, as the platform knows the open entry.
std::wstring VolumeSerial(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(handle, &information)) return L"?";
    return std::to_wstring(information.dwVolumeSerialNumber);
}

std::wstring EntryIdOf(HANDLE handle) { return VolumeSerial(handle) + L":" + NameOnVolume(handle); }

// True when a plan run has deleted the open entry already.
bool PlannedAway(HANDLE handle) { return plan::Active() && plan::EntryGone(EntryIdOf(handle)); }

}  // namespace

DWORD EntryAttributes(const std::wstring& extendedPath) {
    const DWORD attributes = GetFileAttributesW(extendedPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !plan::Active()) return attributes;
    const UniqueFile entry(CreateFileW(extendedPath.c_str(), FILE_READ_ATTRIBUTES, kAllSharing, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return entry && PlannedAway(entry.get()) ? INVALID_FILE_ATTRIBUTES : attributes;
}

PinnedFolder PinnedFolder::Open(const std::wstring& extendedPath, LastLink lastLink) {
    PinnedFolder folder;
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (lastLink == LastLink::AsItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    folder.handle_.reset(
        CreateFileW(extendedPath.c_str(), kPinAccess, kPinSharing, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!folder.handle_ || PlannedAway(folder.handle_.get())) return PinnedFolder();
    folder.namedPath_ = extendedPath;
    return folder;
}

PinnedFolder PinnedFolder::Subfolder(const std::wstring& name, Removal removal) const {
    PinnedFolder folder;
    if (!handle_ || objectName().empty() || IsDotEntry(name)) return folder;
    constexpr ULONG kOptions = kDirectoryOnly | kBackupIntent | kEntryItself;
    if (removal == Removal::WhenEmpty) {
        folder.handle_ = OpenInFolder(handle_.get(), name, kPinAccess | DELETE, kPinSharing, kOptions);
        folder.mayRemove_ = static_cast<bool>(folder.handle_);
    }
    // A folder that may not be deleted can still be cleared.
    if (!folder.handle_) folder.handle_ = OpenInFolder(handle_.get(), name, kPinAccess, kPinSharing, kOptions);
    if (!folder.handle_ || PlannedAway(folder.handle_.get())) return PinnedFolder();
    // This folder's own entry of that name, not where a link leads.
    folder.objectName_ = ObjectName(folder.handle_.get());
    if (!SamePath(folder.objectName_, Joined(objectName(), name))) return PinnedFolder();
    folder.attributes_ = Attributes(folder.handle_.get());
    folder.namedPath_ = Joined(namedPath_, name);
    // Its final path is this folder's with the entry's name as the platform
    // spells it: the name check above shows it is no link.
    folder.finalPath_ = Joined(finalPath(), folder.objectName_.substr(folder.objectName_.size() - name.size()));
    return folder;
}

const std::wstring& PinnedFolder::objectName() const {
    if (objectName_.empty() && handle_) objectName_ = ObjectName(handle_.get());
    return objectName_;
}

const std::wstring& PinnedFolder::nameOnVolume() const {
    if (nameOnVolume_.empty() && handle_) nameOnVolume_ = NameOnVolume(handle_.get());
    return nameOnVolume_;
}

const std::wstring& PinnedFolder::finalPath() const {
    if (finalPath_.empty() && handle_) finalPath_ = FinalPath(handle_.get(), namedPath_);
    return finalPath_;
}

bool PinnedFolder::IsPlainFolder() const {
    if (attributes_ == INVALID_FILE_ATTRIBUTES && handle_) attributes_ = Attributes(handle_.get());
    return attributes_ != INVALID_FILE_ATTRIBUTES && (attributes_ & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes_ & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::vector<PinnedFolder::Entry> PinnedFolder::Entries() const {
    if (!handle_) return {};
    std::vector<Entry> entries = ListEntries(handle_.get());
    if (plan::Active()) {
        // What the plan has deleted already is no longer there.
        std::vector<Entry> remaining;
        for (Entry& entry : entries) {
            if (!plan::EntryGone(EntryId(entry.name))) remaining.push_back(std::move(entry));
        }
        entries = std::move(remaining);
    }
    return entries;
}

std::wstring PinnedFolder::EntryId(const std::wstring& name) const {
    if (volumeSerial_.empty()) volumeSerial_ = VolumeSerial(handle_.get());
    return volumeSerial_ + L":" + Joined(nameOnVolume(), name);
}

bool PinnedFolder::DeleteFileEntry(const std::wstring& name, DWORD attributes, bool readOnlyToo) const {
    if (!handle_ || objectName().empty()) return false;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !readOnlyToo) return false;
    LONG status = 0;
    const UniqueFile file = OpenInFolder(handle_.get(), name, DELETE | FILE_WRITE_ATTRIBUTES, kAllSharing,
                                         kNonDirectoryOnly | kEntryItself, kOpenExisting, &status);
    if (!file) {
        if (!IsMissing(status)) actionlog::FileNotDeleted(Joined(finalPath(), name), ErrorOfStatus(status));
        return false;
    }
    // Where the platform follows a link anyway, the open file is its target,
    // known by another name: passed by.
    if (objectName().empty() || !SamePath(ObjectName(file.get()), Joined(objectName(), name))) {
        actionlog::FileNotDeleted(Joined(finalPath(), name), ERROR_CANT_ACCESS_FILE);
        return false;
    }
    if (plan::Active()) {
        // The file opened for deletion as a real run opens it: it would go,
        // unless it is read-only and would not be made writable first.
        if (plan::EntryGone(EntryId(name))) return false;
        const DWORD actual = Attributes(file.get());
        if (!readOnly && actual != INVALID_FILE_ATTRIBUTES && (actual & FILE_ATTRIBUTE_READONLY)) {
            actionlog::FileNotDeleted(Joined(finalPath(), name), ERROR_ACCESS_DENIED);
            return false;
        }
        plan::RecordEntryGone(EntryId(name));
        actionlog::FileDeleted(Joined(finalPath(), name));
        return true;
    }
    if (readOnly && !SetAttributes(file.get(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        actionlog::FileNotDeleted(Joined(finalPath(), name), GetLastError());
        return false;
    }
    if (SetDisposition(file.get(), true)) {
        actionlog::FileDeleted(Joined(finalPath(), name));
        return true;
    }
    actionlog::FileNotDeleted(Joined(finalPath(), name), GetLastError());
    if (readOnly) SetAttributes(file.get(), attributes);
    return false;
}

bool PinnedFolder::RemoveIfEmpty() {
    if (!handle_ || !mayRemove_) return false;
    if (plan::Active()) {
        // It would go when every entry in it is planned gone by now.
        if (!Entries().empty()) return false;
        plan::RecordEntryGone(EntryIdOf(handle_.get()));
    } else if (!SetDisposition(handle_.get(), true)) {
        return false;  // refused while it holds anything
    }
    if (actionlog::Taken()) actionlog::FolderDeleted(finalPath());
    handle_.reset();  // the folder goes as the handle closes
    return true;
}

UniqueFile PinnedFolder::OpenOwnFileToAppend(const std::wstring& name) const {
    if (!handle_ || objectName().empty() || IsDotEntry(name)) return {};
    UniqueFile file = OpenInFolder(handle_.get(), name, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, kPinSharing,
                                   kNonDirectoryOnly | kEntryItself, kOpenOrCreate);
    if (!file) return {};
    const DWORD attributes = Attributes(file.get());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        !SamePath(ObjectName(file.get()), Joined(objectName(), name))) {
        return {};
    }
    return file;
}

}  // namespace tarnvale
