#include "guard/key_guard.h"

#include <utility>

#include "common/paths.h"
#include "common/registry.h"
#include "common/string_list.h"
#include "log/action_log.h"
#include "plan/plan_run.h"

namespace tarnvale {
namespace {

// A registry link is a key that holds its target's path in this REG_LINK value.
constexpr wchar_t kLinkValue[] = L"SymbolicLinkValue";

// What a key to delete is opened with: the right to delete it, and to list
// and read it so that it can be walked and told from a link.
constexpr REGSAM kDeleteAccess = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | kRegistryView;
// A key that denies reading can still be deleted when it has no subkeys.
constexpr REGSAM kDeleteOnlyAccess = DELETE | kRegistryView;
// A key on the way only needs to be told from a link.
constexpr REGSAM kWayAccess = KEY_QUERY_VALUE | kRegistryView;

// The key named `name` (one component) below `parent` itself: a link is opened
// as the link, never as its target.
// A key that the plan run in progress has deleted already counts as missing.
// `status` gets the platform's answer (ERROR_FILE_NOT_FOUND for a key the
// plan has deleted).
UniqueKey OpenOwnKey(HKEY parent, const std::string& name, REGSAM access, LSTATUS* status = nullptr) {
    UniqueKey key;
    LSTATUS result = RegOpenKeyExA(parent, name.c_str(), REG_OPTION_OPEN_LINK, access, key.put());
    if (result != ERROR_SUCCESS) key.reset();
    if (key && plan::Active() && plan::KeyGone(KeyObjectName(key.get()))) {
        key.reset();
        result = ERROR_FILE_NOT_FOUND;
    }
    if (status != nullptr) *status = result;
    return key;
}

bool IsLink(HKEY ownKey) {
    DWORD type = REG_NONE;
    return RegQueryValueExW(ownKey, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

struct OwnKey {
    UniqueKey key;
    bool isLink = false;        // the last key of the path is a link
    bool linkOnTheWay = false;  // a key before it is a link: nothing was opened
    LSTATUS status = ERROR_SUCCESS;  // the platform's answer to the last open
};

// Opens `path` below `root` one component at a time, each as the key itself.
// The keys on the way must be real keys; the last one is opened with
// `access` and given as it is, link or not. Empty when the path is not well
// formed, a key is missing, or a key on the way is a link.
OwnKey OpenOwnPath(HKEY root, const std::string& path, REGSAM access, REGSAM view = kRegistryView) {
    if (!IsWellFormedKeyPath(path)) return {};
    UniqueKey way;
    HKEY parent = root;
    for (size_t start = 0;;) {
        const size_t end = path.find('\\', start);
        const bool last = end == std::string::npos;
        const std::string name = path.substr(start, last ? std::string::npos : end - start);
        LSTATUS status = ERROR_SUCCESS;
        UniqueKey key = OpenOwnKey(parent, name, last ? access : (kWayAccess | view), &status);
        if (!key) return {UniqueKey(), false, false, status};
        const bool isLink = IsLink(key.get());
        if (last) return {std::move(key), isLink, false, ERROR_SUCCESS};
        if (isLink) return {UniqueKey(), false, true, ERROR_SUCCESS};
        way = std::move(key);
        parent = way.get();
        start = end + 1;
    }
}

// True when a plan run sees subkeys below an open key: the platform's count,
// less the subkeys the plan has deleted. The key is opened again to be
// listed, as a key opened only to be deleted may not be. A key that denies
// listing its subkeys counts every one it has; where the platform gives not
// even the count (Windows asks for the right to read the key), the key is
// taken to have none.
bool HasSubkeysLeft(HKEY key) {
    UniqueKey listable;
    if (RegOpenKeyExW(key, L"", 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | kRegistryView, listable.put()) !=
        ERROR_SUCCESS) {
        listable.reset();
    }
    const HKEY asked = listable ? listable.get() : key;
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(asked, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    if (subkeys == 0) return false;
    if (SubkeyNames(asked).size() < subkeys) return true;  // not all listed: those not listed are there
    return !ListSubkeys(asked).empty();
}

// Deletes the key an open handle stands for: the key itself, a link as the
// link. The platform refuses a key that still has subkeys. A plan run
// deletes nothing: it refuses as the platform would and notes the key gone.
bool DeleteOpenKey(HKEY key) {
    if (plan::Active()) {
        if (HasSubkeysLeft(key)) return false;
        plan::RecordKeyGone(KeyObjectName(key));
        return true;
    }
    using DeleteKeyFunction = LONG(WINAPI*)(HANDLE);
    static const auto deleteKey = reinterpret_cast<DeleteKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    return deleteKey != nullptr && deleteKey(key) == 0;
}

// Logs that the key `path` below `root` is not read because a registry link
// is on the way to it or is the key itself.
void LogLinkRefusal(HKEY root, const std::string& path, const OwnKey& opened) {
    if (!opened.isLink && !opened.linkOnTheWay) return;
    if (!actionlog::Taken()) return;
    actionlog::KeyRefused(KeyDisplayPath(root) + L"\\" + ToWide(path),
                          opened.isLink ? "registry link" : "registry link on the way");
}

// Deletes an open key and logs it by its full path, taken before it goes:
// asked of the platform only when the log line goes anywhere.
bool DeleteAndLog(HKEY key, bool isLink) {
    const std::wstring path = actionlog::Taken() ? KeyDisplayPath(key) : std::wstring();
    if (!DeleteOpenKey(key)) {
        actionlog::KeyNotDeleted(path, "the platform refused it (subkeys left, or no right to delete it)");
        return false;
    }
    actionlog::KeyDeleted(path, isLink);
    return true;
}

void DeleteSubkeys(HKEY key);

// Deletes the key named `name` below `parent` with its subtree: a link as the
// link, a real key after its subkeys, never descending into a link.
bool DeleteOwnKey(HKEY parent, const std::string& name) {
    UniqueKey key = OpenOwnKey(parent, name, kDeleteAccess);
    if (!key) {
        // A key that cannot be walked: deleted when it has no subkeys.
        key = OpenOwnKey(parent, name, kDeleteOnlyAccess);
        return key && DeleteAndLog(key.get(), false);
    }
    const bool isLink = IsLink(key.get());
    if (!isLink) DeleteSubkeys(key.get());
    return DeleteAndLog(key.get(), isLink);
}

// Deletes the subkeys of an open real key, each with its subtree.
void DeleteSubkeys(HKEY key) {
    // All names first: deleting while enumerating would shift the indexes.
    for (const std::string& subkey : ListSubkeys(key)) DeleteOwnKey(key, subkey);
}

// Logs why the key `path` below `parent` could not be reached to be
// deleted: a path with an empty component, or a registry link on the way.
// A key that is simply missing is not logged.
void LogUnreachable(HKEY parent, const std::string& path) {
    const std::wstring fullPath = KeyDisplayPath(parent) + L"\\" + ToWide(path);
    if (!IsWellFormedKeyPath(path)) {
        actionlog::KeyRefused(fullPath, "empty path component");
        return;
    }
    for (size_t end = path.find('\\'); end != std::string::npos; end = path.find('\\', end + 1)) {
        const OwnKey way = OpenOwnPath(parent, path.substr(0, end), kWayAccess);
        if (!way.key) return;
        if (way.isLink) {
            actionlog::KeyRefused(fullPath, "registry link on the way");
            return;
        }
    }
}

// The key that holds the last component of `path`, opened through real keys
// only (`parent` itself for a path of one component), and that component.
// Empty key when the path is refused.
UniqueKey OpenDirectParent(HKEY parent, const std::string& path, std::string& name, HKEY& directParent) {
    UniqueKey holder;
    directParent = nullptr;
    if (!IsWellFormedKeyPath(path)) return holder;
    const size_t lastSeparator = path.rfind('\\');
    if (lastSeparator == std::string::npos) {
        name = path;
        directParent = parent;
        return holder;
    }
    OwnKey way = OpenOwnPath(parent, path.substr(0, lastSeparator), kWayAccess);
    if (!way.key || way.isLink) return holder;
    name = path.substr(lastSeparator + 1);
    holder = std::move(way.key);
    directParent = holder.get();
    return holder;
}

// The key `path` below `root` as opened, to be read: logged and dropped
// when it is a link or a link is on the way.
UniqueKey KeyToRead(HKEY root, const std::string& path, OwnKey opened) {
    LogLinkRefusal(root, path, opened);
    if (opened.isLink) opened.key.reset();
    return std::move(opened.key);
}

// The key `path` below `root` opened for reading (empty when it is a link),
// and `isLink` set when it is one. A key that cannot be read may still be
// told from a link with less access.
UniqueKey OpenKeyForReading(HKEY root, const std::string& path, bool& isLink) {
    OwnKey opened = OpenOwnPath(root, path, kReadAccess);
    isLink = opened.isLink;
    UniqueKey key = KeyToRead(root, path, std::move(opened));
    if (!key && !isLink) isLink = OpenOwnPath(root, path, kWayAccess).isLink;
    return key;
}

}  // namespace

StringList ListSubkeys(HKEY key) {
    StringList names = SubkeyNames(key);
    if (!plan::Active() || names.empty()) return names;
    const std::wstring keyName = KeyObjectName(key);
    StringList remaining;
    for (std::string& name : names) {
        if (!plan::KeyGone(keyName + L"\\" + ToWide(name))) remaining.push_back(std::move(name));
    }
    return remaining;
}

bool IsWellFormedKeyPath(const std::string& path) {
    if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
    return path.find("\\\\") == std::string::npos;
}

UniqueKey OpenKeyForReading(HKEY root, const std::string& path) {
    return KeyToRead(root, path, OpenOwnPath(root, path, kReadAccess));
}

UniqueKey OpenMachineKeyForReading(HKEY root, const std::string& path) {
    constexpr REGSAM kNativeView = KEY_WOW64_64KEY;
    return KeyToRead(root, path, OpenOwnPath(root, path, KEY_READ | kNativeView, kNativeView));
}

int ReadRegistryString(HKEY root, const std::string& path, const std::string& name, std::string& out) {
    const UniqueKey key = OpenKeyForReading(root, path);
    if (!key) return 0;
    return ReadStringValue(key.get(), name, out) ? 1 : 0;
}

bool DeleteKeyTree(HKEY parent, const std::string& path) {
    std::string name;
    HKEY directParent = nullptr;
    const UniqueKey holder = OpenDirectParent(parent, path, name, directParent);
    if (directParent == nullptr) {
        LogUnreachable(parent, path);
        return false;
    }
    return DeleteOwnKey(directParent, name);
}

KeyToReadAndDelete OpenKeyToReadAndDelete(HKEY parent, const std::string& name) {
    KeyToReadAndDelete opened;
    opened.parent = parent;
    opened.name = name;
    OwnKey own = OpenOwnPath(parent, name, kReadAccess | DELETE);
    if (!own.key && !own.linkOnTheWay && own.status != ERROR_FILE_NOT_FOUND) {
        // There, but not to be deleted (or not even read) by this process:
        // read without the right to delete it, and deleted by name.
        opened.key = OpenKeyForReading(parent, name, opened.isLink);
        return opened;
    }
    opened.isLink = own.isLink;
    opened.key = KeyToRead(parent, name, std::move(own));
    opened.deletable = static_cast<bool>(opened.key);
    return opened;
}

bool DeleteKeyTree(KeyToReadAndDelete& opened) {
    if (!opened.deletable) {
        opened.key.reset();
        return DeleteKeyTree(opened.parent, opened.name);
    }
    DeleteSubkeys(opened.key.get());
    const bool deleted = DeleteAndLog(opened.key.get(), false);
    opened.key.reset();
    return deleted;
}

KeyWays::KeyWays(HKEY root) noexcept : root_(root) {}

bool KeyWays::DeleteKeyTree(const std::string& path) {
    const size_t lastSeparator = path.rfind('\\');
    if (!IsWellFormedKeyPath(path) || lastSeparator == std::string::npos) return tarnvale::DeleteKeyTree(root_, path);
    const std::string wayPath = path.substr(0, lastSeparator);
    auto held = held_.find(wayPath);
    if (held == held_.end()) {
        OwnKey way = OpenOwnPath(root_, wayPath, kWayAccess);
        // A way that is refused or missing is not held: the deletion says why.
        if (!way.key || way.isLink) return tarnvale::DeleteKeyTree(root_, path);
        held = held_.emplace(wayPath, std::move(way.key)).first;
    }
    return DeleteOwnKey(held->second.get(), path.substr(lastSeparator + 1));
}

bool DeleteKeyWithoutSubkeys(HKEY parent, const std::string& path) {
    std::string name;
    HKEY directParent = nullptr;
    const UniqueKey holder = OpenDirectParent(parent, path, name, directParent);
    if (directParent == nullptr) {
        LogUnreachable(parent, path);
        return false;
    }
    const UniqueKey key = OpenOwnKey(directParent, name, kDeleteOnlyAccess);
    if (!key) return false;
    const UniqueKey own = OpenOwnKey(directParent, name, kWayAccess);
    return DeleteAndLog(key.get(), own && IsLink(own.get()));
}

}  // namespace tarnvale
