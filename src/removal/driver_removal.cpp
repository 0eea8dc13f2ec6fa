#include "removal/driver_removal.h"

#include <windows.h>

#include <string>

#include "common/paths.h"
#include "common/product_folder.h"
#include "process/run_and_wait.h"

namespace tarnvale {
namespace {

constexpr char kDriverSetupName[] = "\\Setuptivra5.exe";
constexpr char kRemoveSwitches[] = " /SILENT /REMOVE";

// A directory entry of exactly this name, file or folder; the name is taken
// literally, never as a pattern.
bool EntryExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The program path as the first token of a command line. A path with a blank
// is quoted: unquoted, the platform would first try every shorter path that
// ends at a blank ("C:\Program.exe" for "C:\Program Files\..."), so a
// program planted there would run instead of the driver's setup.
std::string ProgramToken(const std::string& program) {
    if (program.find(' ') == std::string::npos) return program;
    return "\"" + program + "\"";
}

}  // namespace

int RemoveTivraDriver() {
    std::string productFolder;
    if (!FindProductFolder(productFolder)) return 1;
    // Only a folder that names one fixed place: an empty or relative folder
    // text would make the program path point at the current drive's root or
    // the current directory.
    if (!IsAbsolutePath(productFolder)) return 1;

    const std::string program = productFolder + kDriverSetupName;
    if (!EntryExists(program)) return 1;

    std::string commandLine = ProgramToken(program) + kRemoveSwitches;
    RunAndWait(commandLine);  // a setup that cannot start has shown message 12
    return 1;
}

}  // namespace tarnvale
