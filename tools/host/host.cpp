// tarnvale-host: a stand-in for the setup program. Loads Tarnvale.dll by the
// platform's library search, calls one export with its declared signature
// and prints its result. With --report it first records the registry keys
// and files that the library works on and afterwards lists what the call
// removed. With --log FILE the call writes its action log to FILE
// (TARNVALE_LOG is set for it). With --plan the call is a plan run
// (TARNVALE_PLAN=1): it changes nothing and the host prints the lines it
// logged, what a real call would do.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/unique_handle.h"
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
    std::fprintf(stderr, "usage: tarnvale-host [--report] [--log FILE] [--plan] EXPORT [COMMANDLINE]\nexports:");
    for (const ExportEntry& entry : kExports) std::fprintf(stderr, " %s", entry.name);
    std::fprintf(stderr, "\n");
    return kUsageError;
}

// The size of a file, 0 when it is missing.
LONGLONG FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Prints what the log file `path` holds from byte `from` on: the lines of
// this call.
void PrintLogFrom(const std::string& path, LONGLONG from) {
    const tarnvale::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    if (!file) {
        std::printf("(no log was written: error %lu)\n", GetLastError());
        return;
    }
    LARGE_INTEGER start;
    start.QuadPart = from;
    SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        // The log's lines end with CR LF; the text stream adds the CR itself.
        for (DWORD index = 0; index < read; ++index) {
            if (buffer[index] != '\r') std::fputc(buffer[index], stdout);
        }
    }
}

// A new empty file in the temporary folder, for a plan's log when no --log
// names one.
std::string TemporaryLogFile() {
    char folder[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || GetTempFileNameA(folder, "tvp", 0, file) == 0) return {};
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    bool report = false;
    const char* logFile = nullptr;
    bool plan = false;
    while (first < argc) {
        if (std::strcmp(argv[first], "--report") == 0) {
            report = true;
            ++first;
        } else if (std::strcmp(argv[first], "--plan") == 0) {
            plan = true;
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

    // The library reads the variables at each export call. A plan is told
    // through its log: a temporary one unless --log names the file.
    std::string planLog;
    const bool temporaryLog = plan && logFile == nullptr;
    if (plan) {
        SetEnvironmentVariableA("TARNVALE_PLAN", "1");
        planLog = temporaryLog ? TemporaryLogFile() : logFile;
        if (planLog.empty()) {
            std::fprintf(stderr, "tarnvale-host: no file for the plan's log (error %lu)\n", GetLastError());
            FreeLibrary(library);
            return kUsageError;
        }
        logFile = planLog.c_str();
    }
    if (logFile != nullptr) SetEnvironmentVariableA("TARNVALE_LOG", logFile);
    const LONGLONG logSizeBefore = plan ? FileSize(planLog) : 0;

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
    if (plan) {
        std::printf("plan of %s (nothing was changed, started or shown):\n", entry->name);
        PrintLogFrom(planLog, logSizeBefore);
        if (temporaryLog) DeleteFileA(planLog.c_str());
    }
    std::printf("result: %d\n", result);
    std::fflush(stdout);
    FreeLibrary(library);
    return kCallMade;
}
