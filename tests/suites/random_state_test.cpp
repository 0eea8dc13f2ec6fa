// Randomised SIM leftovers: hundreds of random states of the SIMS and DSIMS
// registrations, Uninstall entries, maker keys, log folders and the product
// folder, each run through CleanSIMInfoSilent and compared, over the whole
// machine, with a small reference model of what the run must remove (the
// full form), and with the plan run made right before it (both forms).
//
// The model below is written from the rules of the SIM cleanup (the order of
// the run, the sweep, the entry lookup, the log folder and maker key of an
// entry, the SIM folders and the per-SIM files), not from the library.
//
// The states come from a fixed seed, so every run tries the same cases. A
// failing case prints its seed; TARNVALE_RANDOM_SEED=<seed> with
// TARNVALE_RANDOM_CASES=1 runs exactly that case again.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "library_form.h"
#include "machine_snapshot.h"
#include "plan_check.h"
#include "sim_world.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;

constexpr unsigned long kDefaultSeed = 20240611;
// States a run tries: the full form's against the model and its plan, the
// compact form's against its plan. The 32-bit suites try fewer, as they may
// run under emulation.
constexpr bool k64Bit = sizeof(void*) == 8;
constexpr unsigned long kDefaultCases = k64Bit ? 500 : 200;
constexpr unsigned long kDefaultCompactCases = k64Bit ? 100 : 50;

const char* const kSimNames[] = {"Alarm", "Trend", "Recipe", "Batch", "Report", "Audit"};
const char* const kGuids[] = {"{6A1C2F10-0001}", "{6A1C2F10-0002}", "{6A1C2F10-0003}", "{6A1C2F10-0004}"};
const char* const kOtherEntries[] = {"Acme Viewer", "{0FF1CE00-0001}"};
constexpr char kPrefix[] = "Borelle SIM ";
constexpr int kLogFolders = 4;

unsigned long EnvironmentNumber(const char* name, unsigned long fallback) {
    char value[64];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    if (length == 0 || length >= sizeof(value)) return fallback;
    return std::strtoul(value, nullptr, 10);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// ---- the state ----

struct Registration {
    const char* parent = nullptr;  // simkeys::kSims or kDsims
    std::string name;
    bool hasGuid = false;
    std::string guid;    // "" for an empty value
    bool hasSubkey = false;
    bool unreadable = false;  // denies reading: listed without a GUID text
};

struct Entry {
    std::string name;
    bool hasLogFile = false;
    std::string logFile;
    bool hasDisplayName = false;
    std::string displayName;
    bool hasSubkey = false;
    bool unreadable = false;  // denies reading: cannot be opened, so never found
};

enum class Product { Registered, NoProductKey, NoFolderValue };

// Files and folders by full path (folders without a trailing backslash).
struct Tree {
    std::set<std::string> folders;
    std::set<std::string> files;

    std::vector<std::string> FilesIn(const std::string& folder) const {
        std::vector<std::string> found;
        for (const std::string& file : files) {
            if (Lower(file.substr(0, file.rfind('\\'))) == Lower(folder)) found.push_back(file);
        }
        return found;
    }
    std::vector<std::string> FoldersIn(const std::string& folder) const {
        std::vector<std::string> found;
        for (const std::string& sub : folders) {
            const size_t cut = sub.rfind('\\');
            if (cut != std::string::npos && Lower(sub.substr(0, cut)) == Lower(folder)) found.push_back(sub);
        }
        return found;
    }
    bool HasFolder(const std::string& folder) const {
        for (const std::string& known : folders) {
            if (Lower(known) == Lower(folder)) return true;
        }
        return false;
    }
    // Deletes the files directly in `folder`, then the folder if it is empty.
    void ClearFolder(const std::string& folder) {
        for (const std::string& file : FilesIn(folder)) files.erase(file);
        if (FoldersIn(folder).empty()) {
            for (auto it = folders.begin(); it != folders.end(); ++it) {
                if (Lower(*it) == Lower(folder)) {
                    folders.erase(it);
                    break;
                }
            }
        }
    }
};

struct State {
    Product product = Product::Registered;
    bool simsKey = true;
    bool dsimsKey = true;
    std::vector<Registration> registrations;
    std::vector<Entry> entries;
    std::set<std::string> makerKeys;  // paths below HKEY_LOCAL_MACHINE
    Tree tree;
    std::set<std::string> readOnly;

    std::string Describe() const;
};

std::string State::Describe() const {
    std::ostringstream out;
    out << "product: "
        << (product == Product::Registered ? "registered" : product == Product::NoProductKey ? "no product key"
                                                                                             : "no folder value")
        << ", SIMS key " << (simsKey ? "yes" : "no") << ", DSIMS key " << (dsimsKey ? "yes" : "no") << "\n";
    for (const Registration& r : registrations) {
        out << "  registration " << (r.parent == simkeys::kSims ? "SIMS\\" : "DSIMS\\") << r.name;
        if (r.hasGuid) out << " GUID=\"" << r.guid << "\"";
        if (r.hasSubkey) out << " +subkey";
        if (r.unreadable) out << " (unreadable)";
        out << "\n";
    }
    for (const Entry& e : entries) {
        out << "  entry \"" << e.name << "\"";
        if (e.hasLogFile) out << " LogFile=\"" << e.logFile << "\"";
        if (e.hasDisplayName) out << " DisplayName=\"" << e.displayName << "\"";
        if (e.hasSubkey) out << " +subkey";
        if (e.unreadable) out << " (unreadable)";
        out << "\n";
    }
    for (const std::string& key : makerKeys) out << "  maker key " << key << "\n";
    for (const std::string& folder : tree.folders) out << "  folder " << folder << "\n";
    for (const std::string& file : tree.files) {
        out << "  file " << file << (readOnly.count(file) ? " (read-only)" : "") << "\n";
    }
    return out.str();
}

// ---- random states ----

class StateMaker {
public:
    StateMaker(unsigned long seed, const SimWorld& world)
        : random_(static_cast<std::mt19937::result_type>(seed)),
          product_(world.productFolder()),
          logs_(world.root() + "\\Logs") {}

    State Make() {
        State state;
        const int productDraw = Number(20);
        state.product = productDraw == 0 ? Product::NoProductKey : productDraw == 1 ? Product::NoFolderValue
                                                                                    : Product::Registered;
        state.simsKey = Chance(0.9);
        state.dsimsKey = Chance(0.7);
        if (state.simsKey) AddRegistrations(state, simkeys::kSims, 0.4);
        if (state.dsimsKey) AddRegistrations(state, simkeys::kDsims, 0.25);
        AddEntries(state);
        AddMakerKeys(state);
        AddLogFolders(state);
        AddProductFolder(state);
        return state;
    }

private:
    bool Chance(double probability) { return std::uniform_real_distribution<double>(0, 1)(random_) < probability; }
    int Number(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }
    template <typename T, size_t N>
    const T& Pick(const T (&items)[N]) { return items[Number(static_cast<int>(N))]; }

    void AddRegistrations(State& state, const char* parent, double probability) {
        for (const char* name : kSimNames) {
            if (!Chance(probability)) continue;
            Registration r;
            r.parent = parent;
            r.name = name;
            const int guidDraw = Number(10);
            if (guidDraw >= 3) {
                r.hasGuid = true;
                r.guid = guidDraw == 3 ? "" : Pick(kGuids);
            }
            r.hasSubkey = Chance(0.2);
            r.unreadable = Chance(0.05);
            state.registrations.push_back(r);
        }
    }

    std::string LogFolder(int index) const { return logs_ + "\\L" + std::to_string(index); }

    void AddEntries(State& state) {
        std::vector<std::string> texts(std::begin(kGuids), std::end(kGuids));
        texts.insert(texts.end(), std::begin(kSimNames), std::end(kSimNames));
        texts.insert(texts.end(), std::begin(kOtherEntries), std::end(kOtherEntries));
        for (const std::string& text : texts) {
            for (const std::string& name : {text, kPrefix + text}) {
                if (!Chance(0.3)) continue;
                Entry e;
                e.name = name;
                const int logDraw = Number(20);
                if (logDraw >= 8) {
                    e.hasLogFile = true;
                    if (logDraw < 16) {
                        e.logFile = LogFolder(Number(kLogFolders)) + "\\Uninst.isu";
                    } else if (logDraw < 18) {
                        e.logFile = product_ + "\\Sims\\" + Pick(kSimNames) + "\\Uninst.isu";
                    } else if (logDraw < 19) {
                        e.logFile = "Uninst.isu";  // a bare name: no folder
                    } else {
                        e.logFile = product_ + "\\" + Pick(kSimNames) + "Uninst.isu";  // the product folder
                    }
                }
                const int nameDraw = Number(20);
                const std::string sim = Pick(kSimNames);
                if (nameDraw >= 5) {
                    e.hasDisplayName = true;
                    if (nameDraw == 5) {
                        e.displayName = "";
                    } else if (nameDraw < 10) {
                        e.displayName = std::string("Borelle SIM ") + sim;
                    } else if (nameDraw < 15) {
                        e.displayName = std::string("Quenta SIM ") + sim;
                    } else {
                        e.displayName = sim + std::string(" Tool");
                    }
                }
                e.hasSubkey = Chance(0.2);
                e.unreadable = Chance(0.05);
                state.entries.push_back(e);
            }
        }
    }

    void AddMakerKeys(State& state) {
        for (const char* sim : kSimNames) {
            for (const std::string& key :
                 {std::string(simkeys::kNortavoMaker) + "\\Borelle SIM " + sim,
                  std::string(simkeys::kNortavoMaker) + "\\Quenta SIM" + sim,
                  std::string(simkeys::kNortavoMaker) + "\\Quenta SIM " + sim,
                  std::string(simkeys::kVeltraneMaker) + "\\" + sim + " Tool"}) {
                if (Chance(0.4)) state.makerKeys.insert(key);
            }
        }
    }

    void AddFiles(State& state, const std::string& folder, int most) {
        const int count = Number(most + 1);
        for (int i = 0; i < count; ++i) {
            const std::string file = folder + "\\file" + std::to_string(i) + ".dat";
            state.tree.files.insert(file);
            if (Chance(0.3)) state.readOnly.insert(file);
        }
    }

    // A folder with files, sometimes with a sub-folder (which keeps it) or
    // a file directly in it.
    void AddFolder(State& state, const std::string& folder, int mostFiles) {
        state.tree.folders.insert(folder);
        AddFiles(state, folder, mostFiles);
        if (Chance(0.15)) {
            state.tree.folders.insert(folder + "\\Sub");
            state.tree.files.insert(folder + "\\Sub\\inner.dat");
        }
    }

    void AddLogFolders(State& state) {
        state.tree.folders.insert(logs_);
        for (int i = 0; i < kLogFolders; ++i) {
            if (Chance(0.8)) AddFolder(state, LogFolder(i), 3);
        }
    }

    void AddProductFolder(State& state) {
        state.tree.folders.insert(product_);
        state.tree.files.insert(product_ + "\\Quenta.exe");
        if (Chance(0.85)) {
            const std::string sims = product_ + "\\Sims";
            state.tree.folders.insert(sims);
            for (const char* name : kSimNames) {
                if (Chance(0.4)) AddFolder(state, sims + "\\" + name, 3);
            }
            if (Chance(0.3)) AddFolder(state, sims + "\\Extra", 2);
            if (Chance(0.15)) state.tree.files.insert(sims + "\\loose.txt");
        }
        for (const std::string& name : {std::string("Alarm"), std::string("Trend"), std::string("Recipe"),
                                        std::string("Batch"), std::string("Report"), std::string("Audit"),
                                        std::string("Extra")}) {
            if (Chance(0.4)) AddProductFile(state, product_ + "\\" + name + "Uninst.isu");
        }
        if (Chance(0.6)) AddProductFile(state, product_ + "\\SIMUninstall.dll");
    }

    // A per-SIM file or the shared library, sometimes read-only: only the
    // folder clearing makes files writable, so such a file stays.
    void AddProductFile(State& state, const std::string& file) {
        state.tree.files.insert(file);
        if (Chance(0.15)) state.readOnly.insert(file);
    }

    std::mt19937 random_;
    std::string product_;
    std::string logs_;
};

// ---- the reference model ----

struct Expected {
    int result = 1;
    std::vector<std::string> removed;  // machine-snapshot entries
};

std::string MakerKeyOf(const std::string& displayName) {
    if (Contains(displayName, "Borelle SIM")) return std::string(simkeys::kNortavoMaker) + "\\" + displayName;
    if (Contains(displayName, "Quenta SIM")) {
        std::string name = displayName;
        for (size_t at = name.find("Quenta SIM "); at != std::string::npos; at = name.find("Quenta SIM ", at)) {
            name.erase(at + 10, 1);
        }
        return std::string(simkeys::kNortavoMaker) + "\\" + name;
    }
    return std::string(simkeys::kVeltraneMaker) + "\\" + displayName;
}

// The folder part of a log file path, without its trailing backslash; empty
// for a bare name.
std::string FolderOf(const std::string& path) {
    const size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

Expected Model(const State& state, const SimWorld& world) {
    Expected expected;
    const std::string product = world.productFolder();
    Tree tree = state.tree;
    std::map<std::string, const Entry*> entries;  // still present, by lower-case name
    for (const Entry& e : state.entries) {
        if (!e.unreadable) entries[Lower(e.name)] = &e;  // one that cannot be opened is never found
    }
    std::set<std::string> makerKeys = state.makerKeys;

    // The sweep: nothing without the SIMS key; the SIMS registrations, then
    // the DSIMS ones, all listed and deleted.
    std::vector<std::string> simList;
    std::vector<std::string> guidList;
    if (state.simsKey) {
        for (const char* parent : {simkeys::kSims, simkeys::kDsims}) {
            if (parent == simkeys::kDsims && !state.dsimsKey) break;
            for (const Registration& r : state.registrations) {
                if (r.parent != parent) continue;
                simList.push_back(r.name);
                if (!r.unreadable) guidList.push_back(r.hasGuid && !r.guid.empty() ? r.guid : r.name);
                // A registration that denies reading can be deleted only
                // while it has no subkeys: the subtree cannot be walked.
                if (!r.unreadable || !r.hasSubkey) {
                    expected.removed.push_back(MachineKey(std::string(parent) + "\\" + r.name));
                }
            }
        }
    }
    if (state.product != Product::Registered) {
        expected.result = 0;
        return expected;
    }

    // The SIM folders below "Sims", then "Sims" itself when empty.
    const std::string sims = product + "\\Sims";
    if (tree.HasFolder(sims)) {
        for (const std::string& folder : tree.FoldersIn(sims)) tree.ClearFolder(folder);
        if (tree.FilesIn(sims).empty() && tree.FoldersIn(sims).empty()) tree.folders.erase(sims);
    }

    if (!simList.empty()) {
        for (const std::string& text : guidList) {
            auto found = entries.find(Lower(text));
            if (found == entries.end()) found = entries.find(Lower(kPrefix + text));
            if (found == entries.end()) continue;
            const Entry& e = *found->second;
            if (e.hasLogFile) {
                const std::string folder = FolderOf(e.logFile);
                // Never the product folder; a bare name names no folder.
                if (!folder.empty() && Lower(folder) != Lower(product) && tree.HasFolder(folder)) {
                    tree.ClearFolder(folder);
                }
            }
            if (e.hasDisplayName && !e.displayName.empty()) {
                const std::string maker = MakerKeyOf(e.displayName);
                if (makerKeys.erase(maker) != 0) expected.removed.push_back(MachineKey(maker));
            }
            expected.removed.push_back(MachineKey(std::string(simkeys::kUninstall) + "\\" + e.name));
            entries.erase(found);
        }
        // Read-only ones stay: only the folder clearing makes files writable.
        auto deleteFile = [&](const std::string& file) {
            if (state.readOnly.count(file) == 0) tree.files.erase(file);
        };
        for (const std::string& name : simList) deleteFile(product + "\\" + name + "Uninst.isu");
        deleteFile(product + "\\SIMUninstall.dll");
    }

    for (const std::string& file : state.tree.files) {
        if (tree.files.count(file) == 0) expected.removed.push_back(file);
    }
    for (const std::string& folder : state.tree.folders) {
        if (tree.folders.count(folder) == 0) expected.removed.push_back(folder + "\\");
    }
    return expected;
}

// ---- seeding and clearing ----

void Seed(const State& state, SimWorld& world) {
    if (state.product == Product::Registered) {
        world.RegisterProduct();
    } else if (state.product == Product::NoFolderValue) {
        reg::CreateKey(HKEY_CLASSES_ROOT, simkeys::kProductFolder);
    }
    if (state.simsKey) reg::CreateKey(kMachine, simkeys::kSims);
    if (state.dsimsKey) reg::CreateKey(kMachine, simkeys::kDsims);
    for (const Registration& r : state.registrations) {
        const std::string path = std::string(r.parent) + "\\" + r.name;
        reg::CreateKey(kMachine, path);
        if (r.hasGuid) reg::SetString(kMachine, path, "GUID", r.guid);
        if (r.hasSubkey) reg::SetString(kMachine, path + "\\Settings", "Version", "5.1");
        if (r.unreadable) reg::DenyRead(kMachine, path);
    }
    for (const Entry& e : state.entries) {
        const std::string path = std::string(simkeys::kUninstall) + "\\" + e.name;
        reg::CreateKey(kMachine, path);
        if (e.hasLogFile) reg::SetString(kMachine, path, "LogFile", e.logFile);
        if (e.hasDisplayName) reg::SetString(kMachine, path, "DisplayName", e.displayName);
        if (e.hasSubkey) reg::SetString(kMachine, path + "\\Details", "Size", "1");
        if (e.unreadable) reg::DenyRead(kMachine, path);
    }
    for (const std::string& key : state.makerKeys) {
        reg::SetString(kMachine, key, "InstallDir", "C:\\Somewhere");
        reg::SetString(kMachine, key + "\\Options", "Language", "1033");
    }
    for (const std::string& folder : state.tree.folders) fs::CreateFolders(folder);
    for (const std::string& file : state.tree.files) {
        fs::WriteFile(file, file);
        if (state.readOnly.count(file)) fs::SetAttributes(file, FILE_ATTRIBUTE_READONLY);
    }
}

// Removes whatever a case may have left, so the next starts from nothing.
void Clear(SimWorld& world) {
    reg::DeleteTree(kMachine, simkeys::kSims);
    reg::DeleteTree(kMachine, simkeys::kDsims);
    std::vector<std::string> texts(std::begin(kGuids), std::end(kGuids));
    texts.insert(texts.end(), std::begin(kSimNames), std::end(kSimNames));
    texts.insert(texts.end(), std::begin(kOtherEntries), std::end(kOtherEntries));
    for (const std::string& text : texts) {
        reg::DeleteTree(kMachine, std::string(simkeys::kUninstall) + "\\" + text);
        reg::DeleteTree(kMachine, std::string(simkeys::kUninstall) + "\\" + kPrefix + text);
    }
    for (const char* sim : kSimNames) {
        reg::DeleteTree(kMachine, std::string(simkeys::kNortavoMaker) + "\\Borelle SIM " + sim);
        reg::DeleteTree(kMachine, std::string(simkeys::kNortavoMaker) + "\\Quenta SIM" + sim);
        reg::DeleteTree(kMachine, std::string(simkeys::kNortavoMaker) + "\\Quenta SIM " + sim);
        reg::DeleteTree(kMachine, std::string(simkeys::kVeltraneMaker) + "\\" + sim + " Tool");
    }
    reg::DeleteTree(HKEY_CLASSES_ROOT, simkeys::kProduct);
    fs::RemoveTree(world.productFolder());
    fs::RemoveTree(world.root() + "\\Logs");
}

class RandomStates : public SimCleanupTest, public ::testing::WithParamInterface<LibraryForm> {
protected:
    RandomStates() : SimCleanupTest(GetParam()) {}
};

// The full form against the model; both forms against their own plan: each
// state runs as a plan first, which must change nothing on the machine and
// list exactly what the real run right after it removes.
TEST_P(RandomStates, EachRunRemovesWhatTheModelAndItsPlanSay) {
    const bool withModel = !GetParam().compact;  // the model is the full form's
    const unsigned long seed = EnvironmentNumber("TARNVALE_RANDOM_SEED", kDefaultSeed);
    const unsigned long cases =
        EnvironmentNumber("TARNVALE_RANDOM_CASES", withModel ? kDefaultCases : kDefaultCompactCases);
    std::map<std::string, int> tally;  // what the cases covered
    const auto started = std::chrono::steady_clock::now();

    UiSession robot;  // no window may appear in any case
    unsigned long tried = 0;
    for (unsigned long index = 0; index < cases; ++index, ++tried) {
        const unsigned long caseSeed = seed + index;
        Clear(world_);
        const State state = StateMaker(caseSeed, world_).Make();
        Seed(state, world_);
        const Expected expected = Model(state, world_);
        const MachineSnapshot before = MachineSnapshot::Take();

        const PlanAndRealRun run = PlanThenRun(before, [&] {
            robot.NextCall();
            return CleanSilently();
        });

        const std::string planDifferences = PlanDifferences(before, run);
        const std::string modelDifferences =
            withModel ? DescribeUnexpectedChanges(run.afterPlan, run.afterReal, expected.removed) : "";
        const bool resultDiffers = withModel && run.realResult != expected.result;
        if (resultDiffers || !modelDifferences.empty() || !planDifferences.empty() || HasFailure()) {
            ADD_FAILURE() << "case " << index << " of seed " << seed << " differs"
                          << " (run it alone with TARNVALE_RANDOM_SEED=" << caseSeed << " TARNVALE_RANDOM_CASES=1)\n"
                          << "result " << run.realResult << (withModel ? ", model " + std::to_string(expected.result) : "")
                          << "\n"
                          << (modelDifferences.empty() ? "" : "against the model:\n" + modelDifferences)
                          << (planDifferences.empty() ? "" : "against the plan:\n" + planDifferences) << "state:\n"
                          << state.Describe();
            break;
        }
        ++tally[run.realResult == 0 ? "product not found" : "product found"];
        tally["keys and files removed"] += static_cast<int>(LoggedDeletions(run.realLines).size());
        if (!state.simsKey) ++tally["no SIMS key"];
    }
    robot.Finish();
    Clear(world_);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s form, seed %lu, %lu cases in %.1f s:", GetParam().name, seed, tried, seconds);
    for (const auto& [what, count] : tally) std::printf(" %s %d;", what.c_str(), count);
    std::printf("\n");
}

INSTANTIATE_TEST_SUITE_P(Forms, RandomStates, BothForms(), FormName);

}  // namespace
}  // namespace tarnvale::test
