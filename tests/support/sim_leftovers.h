// A realistic state that earlier SIM installations leave behind: for each
// SIM its registration with a GUID, its Uninstall entry with a log folder and
// a display name, the maker key that name leads to, its folder below
// "<product>\Sims" with read-only files, and "<SIM>Uninst.isu" in the
// product folder; and the shared "SIMUninstall.dll". Used by the end-to-end
// test, the demo and the cleanup benchmark.
#pragma once

#include <string>
#include <vector>

namespace tarnvale::test {

struct SimLeftover {
    std::string name;                 // registration name and SIM folder name
    const char* parentKey;            // simkeys::kSims or simkeys::kDsims
    std::string guid;                 // the registration's "GUID" value
    std::string entryName;            // the Uninstall entry: the GUID or "Borelle SIM " + GUID
    std::string displayName;          // the entry's "DisplayName"
    std::string makerKey;             // the maker key below HKEY_LOCAL_MACHINE that the name leads to
    std::string logFolder;            // the folder of the entry's "LogFile", trailing backslash kept
    std::vector<std::string> files;   // in the SIM folder
    bool readOnlyFiles = false;       // all files but the first read-only
};

// Alarm and Trend below SIMS, Recipe below DSIMS, covering the entry-name
// forms and the three kinds of maker key; log folders below `logRoot`.
std::vector<SimLeftover> ThreeSims(const std::string& logRoot);

// `count` SIMs below SIMS, each with a GUID entry, a log folder and a maker
// key, and `filesPerSim` files in its SIM folder.
std::vector<SimLeftover> ManySims(size_t count, const std::string& logRoot, size_t filesPerSim);

// Writes the state into the registry and the file system; the product key
// itself is not written.
void SeedSimLeftovers(const std::string& productFolder, const std::vector<SimLeftover>& sims);

// What a SIM cleanup removes of that state, as machine-snapshot entries
// ("HKLM\key\", "C:\folder\", "C:\file").
std::vector<std::string> SimLeftoverEntries(const std::string& productFolder, const std::vector<SimLeftover>& sims);

// Removes whatever is left of the state.
void ClearSimLeftovers(const std::string& productFolder, const std::vector<SimLeftover>& sims);

}  // namespace tarnvale::test
