#include "sims/sim_cleanup.h"

#include <string>

#include "common/product_folder.h"
#include "common/string_list.h"
#include "sims/folder_guard.h"
#include "sims/registry_sweep.h"
#include "sims/sim_files.h"

namespace tarnvale {

int RunSimCleanup(int /*silent*/) {
    StringList simList;
    StringList guidList;
    SweepSimRegistry(simList, guidList);

    std::string productFolder;
    if (FindProductFolder(productFolder) == 0) return 0;

    // One question to the platform about protected folders serves every
    // folder removal of this run.
    ProtectedFoldersScope protectedFolders;
    RemoveSimFolders(productFolder);
    if (!simList.empty()) {
        DeleteSimUninstallLogs(productFolder, simList);
        DeleteSimUninstaller(productFolder);
    }
    return 1;
}

}  // namespace tarnvale
