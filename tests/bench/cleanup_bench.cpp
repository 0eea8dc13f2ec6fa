// Measures CleanSIMInfoSilent on a large leftover state (by default 1,000 SIM
// registrations, each with a GUID, an Uninstall entry with a log folder and a
// maker key, and a SIM folder of 10 files) next to a plain loop that makes
// the same registry and file deletions directly through the API, knowing
// every name. Both run on freshly seeded states in the same process,
// alternating; the cleanup runs twice a round, without the action log file and
// with it (TARNVALE_LOG). The ratios to the plain loop are given for the best
// round of each side (the one least disturbed by other work on the machine)
// and for the medians.
//   cleanup_bench [SIMS [FILES_PER_SIM [ROUNDS]]]
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "file_fixture.h"
#include "registry_fixture.h"
#include "sim_leftovers.h"
#include "sim_world.h"
#include "test_paths.h"

namespace {

using namespace tarnvale::test;

using CleanExport = int(__stdcall*)();

double NowMs() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The same deletions as the cleanup, straight through the API with the names known.
void PlainDeletions(const std::string& productFolder, const std::vector<SimLeftover>& sims) {
    const std::string uninstall = simkeys::kUninstall;
    for (const SimLeftover& sim : sims) {
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(sim.parentKey) + "\\" + sim.name).c_str());
        const std::string simFolder = productFolder + "\\Sims\\" + sim.name;
        for (const std::string& file : sim.files) DeleteFileA((simFolder + "\\" + file).c_str());
        RemoveDirectoryA(simFolder.c_str());
        DeleteFileA((sim.logFolder + "Uninst.isu").c_str());
        RemoveDirectoryA(sim.logFolder.c_str());
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, sim.makerKey.c_str());
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, (uninstall + "\\" + sim.entryName).c_str());
        DeleteFileA((productFolder + "\\" + sim.name + "Uninst.isu").c_str());
    }
    RemoveDirectoryA((productFolder + "\\Sims").c_str());
    DeleteFileA((productFolder + "\\SIMUninstall.dll").c_str());
}

// What of the state is still there, in a few words; empty when all is gone.
std::string Leftovers(const std::string& productFolder, const std::vector<SimLeftover>& sims) {
    size_t keys = reg::SubkeyNames(HKEY_LOCAL_MACHINE, simkeys::kSims).size();
    size_t entries = 0, makers = 0, logs = 0;
    for (const SimLeftover& sim : sims) {
        entries += reg::KeyExists(HKEY_LOCAL_MACHINE, std::string(simkeys::kUninstall) + "\\" + sim.entryName);
        makers += reg::KeyExists(HKEY_LOCAL_MACHINE, sim.makerKey);
        logs += fs::Exists(sim.logFolder);
    }
    const size_t files = fs::ListTree(productFolder).size();
    if (keys + entries + makers + logs + files == 0) return {};
    return std::to_string(keys) + " registrations, " + std::to_string(entries) + " entries, " +
           std::to_string(makers) + " maker keys, " + std::to_string(logs) + " log folders, " +
           std::to_string(files) + " product folder entries left";
}

}  // namespace

int main(int argc, char** argv) {
    const size_t simCount = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
    const size_t filesPerSim = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;

    // TARNVALE_BENCH_LIBRARY names another build of the library to time
    // (an earlier one, for a comparison); the full form of this tree otherwise.
    char otherLibrary[MAX_PATH] = {};
    const DWORD otherLength = GetEnvironmentVariableA("TARNVALE_BENCH_LIBRARY", otherLibrary, MAX_PATH);
    const char* libraryPath = otherLength > 0 && otherLength < MAX_PATH ? otherLibrary : kFullLibraryPath;
    HMODULE library = LoadLibraryA(libraryPath);
    auto clean = library != nullptr
                     ? reinterpret_cast<CleanExport>(reinterpret_cast<void*>(GetProcAddress(library, "CleanSIMInfoSilent")))
                     : nullptr;
    if (clean == nullptr) {
        std::printf("cannot load CleanSIMInfoSilent from %s\n", libraryPath);
        return 1;
    }

    const std::string root = std::string(fs::kTestRoot) + "\\bench";
    const std::string productFolder = root + "\\Quenta";
    const std::vector<SimLeftover> sims = ManySims(simCount, root + "\\Logs", filesPerSim);
    fs::RemoveTree(root);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, simkeys::kNortavoComma);
    reg::SetString(HKEY_CLASSES_ROOT, simkeys::kProductFolder, "", productFolder);
    reg::CreateKey(HKEY_LOCAL_MACHINE, simkeys::kSims);

    std::printf("%s\n", libraryPath);
    std::printf("SIM cleanup on %zu SIM registrations, each with a GUID, an Uninstall entry with a log folder\n"
                "and a maker key, and a SIM folder of %zu files; %d rounds, each on a freshly seeded state:\n",
                simCount, filesPerSim, rounds);
    std::vector<double> libraryMs, loggedMs, plainMs;
    bool complete = true;
    const std::string logFile = root + "\\bench.log";
    auto timeLibrary = [&](bool withLog) {
        fs::CreateFolders(productFolder);
        SeedSimLeftovers(productFolder, sims);
        DeleteFileA(logFile.c_str());
        SetEnvironmentVariableA("TARNVALE_LOG", withLog ? logFile.c_str() : nullptr);
        const double start = NowMs();
        const int result = clean();
        (withLog ? loggedMs : libraryMs).push_back(NowMs() - start);
        SetEnvironmentVariableA("TARNVALE_LOG", nullptr);
        if (withLog && !fs::FileExists(logFile)) {
            std::printf("  no log file written\n");
            complete = false;
        }
        const std::string left = Leftovers(productFolder, sims);
        if (result != 1 || !left.empty()) {
            std::printf("  CleanSIMInfoSilent returned %d; %s\n", result, left.c_str());
            complete = false;
        }
    };
    auto timePlain = [&] {
        fs::CreateFolders(productFolder);
        SeedSimLeftovers(productFolder, sims);
        const double start = NowMs();
        PlainDeletions(productFolder, sims);
        plainMs.push_back(NowMs() - start);
        const std::string left = Leftovers(productFolder, sims);
        if (!left.empty()) std::printf("  plain loop: %s\n", left.c_str());
    };
    for (int round = 1; round <= rounds; ++round) {
        // Which side runs first turns, so none always meets a colder or
        // warmer machine.
        for (int side = 0; side < 3; ++side) {
            switch ((round + side) % 3) {
                case 0: timeLibrary(false); break;
                case 1: timePlain(); break;
                default: timeLibrary(true); break;
            }
        }
        std::printf("  round %d: CleanSIMInfoSilent %8.1f ms (ratio %.2f), with the log file %8.1f ms (ratio %.2f),"
                    "   plain loop %8.1f ms\n",
                    round, libraryMs.back(), libraryMs.back() / plainMs.back(), loggedMs.back(),
                    loggedMs.back() / plainMs.back(), plainMs.back());
    }
    const double bestLibrary = *std::min_element(libraryMs.begin(), libraryMs.end());
    const double bestPlain = *std::min_element(plainMs.begin(), plainMs.end());
    std::printf("best:   CleanSIMInfoSilent %8.1f ms   plain loop %8.1f ms   ratio %.2f (to stay at or below 1.3)\n",
                bestLibrary, bestPlain, bestLibrary / bestPlain);
    std::printf("median: CleanSIMInfoSilent %8.1f ms   plain loop %8.1f ms   ratio %.2f\n", Median(libraryMs),
                Median(plainMs), Median(libraryMs) / Median(plainMs));
    const double bestLogged = *std::min_element(loggedMs.begin(), loggedMs.end());
    std::printf("with the action log file (TARNVALE_LOG):\n");
    std::printf("best:   CleanSIMInfoSilent %8.1f ms   plain loop %8.1f ms   ratio %.2f\n", bestLogged, bestPlain,
                bestLogged / bestPlain);
    std::printf("median: CleanSIMInfoSilent %8.1f ms   plain loop %8.1f ms   ratio %.2f\n", Median(loggedMs),
                Median(plainMs), Median(loggedMs) / Median(plainMs));

    reg::DeleteTree(HKEY_CLASSES_ROOT, simkeys::kProduct);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, simkeys::kNortavoComma);
    ClearSimLeftovers(productFolder, sims);
    fs::RemoveTree(root);
    FreeLibrary(library);
    return complete ? 0 : 1;
}
