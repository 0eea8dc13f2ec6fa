#include "sims/sim_cleanup.h"

#include <string>

#include "common/product_folder.h"
#include "common/string_list.h"
#include "dialogs/status_dialog.h"
#include "frame/resource_lookup.h"
#include "resources/resource.h"
#include "sims/folder_guard.h"
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
    status.m_status.SetText(ResourceString(IDS_CLEANING_SIMS));
}

}  // namespace

int RunSimCleanup(int silent) {
    StringList simList;
    StringList guidList;
    SweepSimRegistry(simList, guidList);

    std::string productFolder;
    if (FindProductFolder(productFolder) == 0) return 0;

    if (silent == 0) ShowCleaningStatus();

    // One question to the platform about protected folders serves every
    // folder removal of this run.
    ProtectedFoldersScope protectedFolders;
    RemoveSimFolders(productFolder);
    // The SIM list decides, not the GUID list.
    if (!simList.empty()) {
        RemoveSimUninstallEntries(guidList);
        DeleteSimUninstallLogs(productFolder, simList);
        DeleteSimUninstaller(productFolder);
    }
    return 1;
}

}  // namespace tarnvale
