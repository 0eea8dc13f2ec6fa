#include "removal/addon_removal.h"

#include <windows.h>

#include <string>

#include "dialogs/message_box.h"
#include "dialogs/status_dialog.h"
#include "frame/resource_library.h"
#include "frame/resource_lookup.h"
#include "guard/key_guard.h"
#include "log/action_log.h"
#include "process/run_and_wait.h"
#include "resources/resource.h"

namespace tarnvale {
namespace {

constexpr char kUninstallStringValue[] = "UninstallString";
constexpr char kUninstallArguments[] = " -a";

struct AddOn {
    UINT displayNameId;  // the name of its entry below the Uninstall key
    UINT statusId;       // shown while its uninstaller runs
    UINT failedId;       // shown when its uninstaller cannot be started
};

constexpr AddOn kAddOns[] = {
    {IDS_QUILLET_NAME, IDS_UNINSTALLING_QUILLET, IDS_QUILLET_REMOVE_FAILED},
    {IDS_MARLOWE_NAME, IDS_UNINSTALLING_MARLOWE, IDS_MARLOWE_REMOVE_FAILED},
};

// Runs one add-on's uninstaller when its entry holds an uninstall command;
// an add-on without one counts as not installed.
void RemoveAddOn(const std::string& uninstallRoot, const AddOn& addOn, CStatusDlg& status) {
    const std::string entryKey = uninstallRoot + "\\" + ResourceString(addOn.displayNameId);
    std::string commandLine;
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, entryKey, kUninstallStringValue, commandLine) == 0) return;

    // The stored command is used as it is: no quotes added, nothing trimmed,
    // environment references not expanded.
    commandLine += kUninstallArguments;
    const std::string statusText = ResourceString(addOn.statusId);
    status.m_status.SetText(statusText);
    actionlog::WindowShown("status window", statusText);
    if (RunAndWait(commandLine) == 0) ShowMessage(ResourceString(addOn.failedId));
}

}  // namespace

int RemoveLumbrookAddOns(ResourceLibraryScope& resources) {
    const std::string uninstallRoot = ResourceString(IDS_UNINSTALL_KEY);

    // The status window does not have to exist for the removal to go on.
    CStatusDlg status(nullptr);
    status.Open();
    const std::string checkingText = ResourceString(IDS_CHECKING_ADDONS);
    status.m_status.SetText(checkingText);
    actionlog::WindowShown("status window", checkingText);

    // One after the other: the second entry is read only once the first
    // add-on's uninstaller has ended.
    for (const AddOn& addOn : kAddOns) RemoveAddOn(uninstallRoot, addOn, status);

    resources.Release();
    return 1;
}

}  // namespace tarnvale
