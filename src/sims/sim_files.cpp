#include "sims/sim_files.h"

#include <windows.h>

#include "common/paths.h"
#include "common/unique_handle.h"
#include "frame/resource_lookup.h"
#include "guard/file_deletion.h"
#include "guard/pinned_folder.h"
#include "log/action_log.h"
#include "resources/resource.h"

namespace tarnvale {
namespace {

constexpr char kSimUninstallLogSuffix[] = "Uninst.isu";
constexpr char kSimUninstaller[] = "SIMUninstall.dll";

// A SIM name makes a file name in the product folder only when it holds no
// separator, which would lead out of the folder, and no colon, which would
// name a stream or a drive.
bool IsPlainName(const std::string& name) { return name.find_first_of("\\/:") == std::string::npos; }

}  // namespace

void RemoveSimFolders(const std::string& productFolder) {
    // Without an absolute product folder "\Sims" would name a folder of the
    // current drive or the current directory, not one of the product.
    if (!IsAbsolutePath(productFolder)) return;
    std::string simsFolderName;
    if (!LoadResourceString(IDS_SIMS_FOLDER, simsFolderName) || simsFolderName.empty()) return;
    const std::wstring simsName = ToWide(simsFolderName);
    const std::wstring extendedProduct = ExtendedPath(productFolder);
    if (extendedProduct.empty() || simsName.find_first_of(L"\\/") != std::wstring::npos) return;
    // The product folder and "Sims" are held while the SIM folders are
    // cleared: none of them can be renamed or swapped for a link meanwhile.
    const PinnedFolder product = PinnedFolder::Open(extendedProduct, PinnedFolder::LastLink::Follow);
    if (!product) return;
    {
        PinnedFolder sims = product.Subfolder(simsName, PinnedFolder::Removal::WhenEmpty);
        if (!sims || !sims.IsPlainFolder()) {
            // A linked "Sims" is never entered.
            const std::wstring simsPath = product.finalPath() + L"\\" + simsName;
            if (sims) {
                actionlog::FolderRefused(simsPath, "reparse point");
            } else if (EntryAttributes(extendedProduct + L"\\" + simsName) != INVALID_FILE_ATTRIBUTES) {
                actionlog::FolderRefused(simsPath, "link");
            }
            return;
        }
        for (const PinnedFolder::Entry& entry : sims.Entries()) {
            const DWORD attributes = entry.attributes;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                actionlog::FolderRefused(sims.finalPath() + L"\\" + entry.name, "reparse point");
                continue;
            }
            RemoveSubfolderFiles(sims, entry.name);
        }
        sims.RemoveIfEmpty();  // only succeeds when it is empty now
    }
}

int DeleteSimUninstallLogs(const std::string& productFolder, const StringList& simList) {
    if (!IsAbsolutePath(productFolder)) return 1;
    StringList names;
    for (const std::string& simName : simList) {
        if (IsPlainName(simName)) names.push_back(simName + kSimUninstallLogSuffix);
    }
    DeleteFilesIfPresent(productFolder, names);
    return 1;
}

int DeleteSimUninstaller(const std::string& productFolder) {
    if (IsAbsolutePath(productFolder)) DeleteFilesIfPresent(productFolder, {kSimUninstaller});
    return 1;
}

}  // namespace tarnvale
