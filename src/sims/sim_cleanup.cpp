#include "sims/sim_cleanup.h"

#include <optional>
#include <string>

#include "common/product_folder.h"
#include "common/string_list.h"
#include "dialogs/status_dialog.h"
#include "frame/build_form.h"
#include "frame/resource_library.h"
#include "frame/resource_lookup.h"
#include "guard/folder_guard.h"
#include "log/action_log.h"
#include "resources/resource.h"
#include "sims/compact_steps.h"
#include "sims/registry_sweep.h"
#include "sims/sim_files.h"
#include "sims/uninstall_entries.h"

namespace tarnvale {
namespace {

// Shows "Cleaning up Sims..." and closes the window again at once: no
// message loop runs while it exists, and whether it could be created does
// not matter to the run.
void ShowCleaningStatus() {
    CStatusDlg status(nullptr);
    status.Open();
    const std::string text = ResourceString(IDS_CLEANING_SIMS);
    status.m_status.SetText(text);
    actionlog::WindowShown("status window", text);
}

}  // namespace

int RunSimCleanup(int silent) {
    // The compact form has no texts of its own: it holds the resource
    // library for the whole run and lets go of it with force on every way
    // out, so the library is unloaded when the run ends.
    std::optional<ResourceLibraryScope> resources;
    if constexpr (kCompactForm) resources.emplace(ResourceLibraryRelease::Forced);

    StringList simList;
    StringList guidList;  // the full form looks the Uninstall entries up by GUID
    std::string productFolder;
    if constexpr (kCompactForm) {
        // Without the product nothing at all is swept or deleted.
        if (FindProductFolder(productFolder) == 0) {
            actionlog::ProductFolderMissing();
            return 0;
        }
        compact::SweepSimRegistry(simList);
    } else {
        // The registrations go even when the product folder is not found.
        SweepSimRegistry(simList, guidList);
        if (FindProductFolder(productFolder) == 0) {
            actionlog::ProductFolderMissing();
            return 0;
        }
    }

    if (silent == 0) ShowCleaningStatus();

    // One question to the platform about protected folders serves every
    // folder removal of this run; the product folder is protected too, so
    // that a log folder named there never clears the product's own files.
    ProtectedFoldersScope protectedFolders(productFolder);
    RemoveSimFolders(productFolder);
    // The SIM list decides, not the GUID list.
    if (!simList.empty()) {
        if constexpr (kCompactForm) {
            compact::RemoveSimUninstallEntries(simList);  // upper-cases the names in simList
        } else {
            RemoveSimUninstallEntries(guidList);
        }
        DeleteSimUninstallLogs(productFolder, simList);
        DeleteSimUninstaller(productFolder);
    }
    return 1;
}

}  // namespace tarnvale
