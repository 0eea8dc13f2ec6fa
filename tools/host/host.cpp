// tarnvale-host: a stand-in for the setup program. Loads Tarnvale.dll by the
// platform's library search, calls one export with its declared signature
// and prints its result.
#include <windows.h>

#include <cstdio>
#include <cstring>

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
    std::fprintf(stderr, "usage: tarnvale-host EXPORT [COMMANDLINE]\nexports:");
    for (const ExportEntry& entry : kExports) std::fprintf(stderr, " %s", entry.name);
    std::fprintf(stderr, "\n");
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const char* exportName = argv[1];
    const ExportEntry* entry = nullptr;
    for (const ExportEntry& candidate : kExports) {
        if (std::strcmp(candidate.name, exportName) == 0) entry = &candidate;
    }
    if (entry == nullptr) {
        std::fprintf(stderr, "tarnvale-host: unknown export '%s'\n", exportName);
        return Usage();
    }

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

    int result = 0;
    if (entry->takesCommandLine) {
        const char* commandLine = argc > 2 ? argv[2] : "";
        result = reinterpret_cast<CommandLineExport>(reinterpret_cast<void*>(address))(commandLine);
    } else {
        result = reinterpret_cast<NoArgumentExport>(reinterpret_cast<void*>(address))();
    }
    std::printf("result: %d\n", result);
    std::fflush(stdout);
    FreeLibrary(library);
    return kCallMade;
}
