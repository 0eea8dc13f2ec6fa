#include "sims/uninstall_entries.h"

#include <string>

#include "common/paths.h"
#include "common/registry.h"
#include "frame/resource_lookup.h"
#include "guard/file_deletion.h"
#include "guard/key_guard.h"
#include "log/action_log.h"
#include "resources/resource.h"

namespace tarnvale {
namespace {

constexpr char kPrefixedEntryName[] = "Borelle SIM ";
constexpr char kLogFileValue[] = "LogFile";
constexpr char kDisplayNameValue[] = "DisplayName";

constexpr char kBorelleSim[] = "Borelle SIM";
constexpr char kQuentaSim[] = "Quenta SIM";
constexpr char kQuentaSimWithBlank[] = "Quenta SIM ";
constexpr char kNortavoMakerKey[] = "SOFTWARE\\Nortavo Inc.\\";
constexpr char kVeltraneMakerKey[] = "SOFTWARE\\Veltrane\\";

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t position = text.find(from); position != std::string::npos;
         position = text.find(from, position + to.size())) {
        text.replace(position, from.size(), to);
    }
    return text;
}

// The maker key of a display name below HKEY_LOCAL_MACHINE. The tests are
// case-sensitive and the first that matches wins.
std::string MakerKeyPath(const std::string& displayName) {
    if (displayName.find(kBorelleSim) != std::string::npos) return kNortavoMakerKey + displayName;
    if (displayName.find(kQuentaSim) != std::string::npos) {
        return kNortavoMakerKey + ReplaceAll(displayName, kQuentaSimWithBlank, kQuentaSim);
    }
    return kVeltraneMakerKey + displayName;
}

}  // namespace

void RemoveUninstallEntry(HKEY entry, KeyWays& makerKeys) {
    std::string logFile;
    if (ReadStringValue(entry, kLogFileValue, logFile)) {
        // The drive and directory of the log file, trailing backslash kept.
        // A bare file name gives an empty folder, which is left alone.
        RemoveFolderFiles(DriveAndDirectory(logFile));
    }
    std::string displayName;
    if (!ReadStringValue(entry, kDisplayNameValue, displayName) || displayName.empty()) return;
    makerKeys.DeleteKeyTree(MakerKeyPath(displayName));  // a failure is passed over
}

void RemoveSimUninstallEntries(const StringList& guidList) {
    const UniqueKey uninstall = OpenKeyForReading(HKEY_LOCAL_MACHINE, ResourceString(IDS_UNINSTALL_KEY));
    if (!uninstall) return;
    // The maker keys of many entries lie below a few keys, which are opened once.
    KeyWays makerKeys(HKEY_LOCAL_MACHINE);
    for (const std::string& text : guidList) {
        KeyToReadAndDelete entry = OpenKeyToReadAndDelete(uninstall.get(), text);
        if (!entry.key && !entry.isLink) entry = OpenKeyToReadAndDelete(uninstall.get(), kPrefixedEntryName + text);
        if (!entry.key && !entry.isLink) {
            actionlog::UninstallEntryMissing(text);
            continue;
        }
        // An entry that is a registry link names nothing to be trusted: the
        // link alone goes, nothing is read through it.
        if (entry.key) RemoveUninstallEntry(entry.key.get(), makerKeys);
        DeleteKeyTree(entry);  // a failure is passed over
    }
}

}  // namespace tarnvale
