// tarnvale-host: a stand-in for the setup program. Loads Tarnvale.dll by the
// platform's library search, calls one export with its declared signature
// and prints its result. With --report it first records the registry keys
// and files that the library works on and afterwards lists what the call
// removed. With --log FILE the call writes its action log to FILE
// (TARNVALE_LOG is set for it).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "host/report.h"

namespace {

using NoArgumentExport = int(__stdcall*)();
using CommandLineExport = int(__stdcall*)(const char*);

struct ExportEntry {
    const char* name;
    bool takesCommandLine;
};

constexpr ExportEntry kExports[] = {
    {"CleanSIMInfo", false},      {"CleanSIMInfoSilent", false}, {"RemoveAddOns", false},
    {"ShowBetaLicense", false},   {"LaunchAppAndWait", true},    {"UninstallTivraDriver", false},
};

constexpr int kCallMade = 0;
constexpr int kUsageError = 2;

int Usage() {
    std::fprintf(stderr, "usage: tarnvale-host [--report] [--log FILE] EXPORT [COMMANDLINE]\nexports:");
    for (const ExportEntry& entry : kExports) std::fprintf(stderr, " %s", entry.name);
    std::fprintf(stderr, "\n");
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    bool report = false;
    const char* logFile = nullptr;
    while (first < argc) {
        if (std::strcmp(argv[first], "--report") == 0) {
            report = true;
            ++first;
        } else if (std::strcmp(argv[first], "--log") == 0 && first + 1 < argc) {
            logFile = argv[first + 1];
            first += 2;
        } else {
            break;
        }
    }
    if (argc <= first) return Usage();
    const char* exportName = argv[first];
    const ExportEntry* entry = nullptr;
    for (const ExportEntry& candidate : kExports) {
        if (std::strcmp(candidate.name, exportName) == 0) entry = &candidate;
    }
    if (entry == nullptr) {
        std::fprintf(stderr, "tarnvale-host: unknown export '%s'\n", exportName);
        return Usage();
    }

    // The library reads the variable at each export call.
    if (logFile != nullptr) SetEnvironmentVariableA("TARNVALE_LOG", logFile);

    HMODULE library = LoadLibraryA("Tarnvale.dll");
    if (library == nullptr) {
        std::fprintf(stderr, "tarnvale-host: cannot load Tarnvale.dll (error %lu)\n", GetLastError());
        return kUsageError;
    }
    FARPROC address = GetProcAddress(library, entry->name);
    if (address == nullptr) {
        std::fprintf(stderr, "tarnvale-host: Tarnvale.dll has no export '%s'\n", entry->name);
        FreeLibrary(library);
        return kUsageError;
    }

    tarnvale::host::LibraryTexts texts(library);
    tarnvale::host::Inventory before;
    if (report) before = tarnvale::host::TakeInventory(texts);

    int result = 0;
    if (entry->takesCommandLine) {
        const char* commandLine = argc > first + 1 ? argv[first + 1] : "";
        result = reinterpret_cast<CommandLineExport>(reinterpret_cast<void*>(address))(commandLine);
    } else {
        result = reinterpret_cast<NoArgumentExport>(reinterpret_cast<void*>(address))();
    }
    if (report) tarnvale::host::PrintRemoved(entry->name, before, tarnvale::host::TakeInventory(texts));
    std::printf("result: %d\n", result);
    std::fflush(stdout);
    FreeLibrary(library);
    return kCallMade;
}
