#include "process/program_lookup.h"

#include <vector>

namespace tarnvale {
namespace {

// True when `name` is found as a file, the way CreateProcess looks it up.
bool FindsProgram(const std::string& name) {
    if (name.empty()) return false;
    std::vector<char> found(MAX_PATH);
    DWORD length = SearchPathA(nullptr, name.c_str(), ".exe", static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length >= found.size()) {
        found.resize(length + 1);
        length = SearchPathA(nullptr, name.c_str(), ".exe", static_cast<DWORD>(found.size()), found.data(), nullptr);
    }
    if (length == 0 || length >= found.size()) return false;
    const DWORD attributes = GetFileAttributesA(found.data());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

DWORD ProgramLookupError(const std::string& commandLine) {
    if (!commandLine.empty() && commandLine.front() == '"') {
        const size_t closingQuote = commandLine.find('"', 1);
        if (closingQuote != std::string::npos) {
            return FindsProgram(commandLine.substr(1, closingQuote - 1)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        }
    }
    // Unquoted, each text that ends at a blank or tab is tried in turn, the
    // shortest first, and then the whole line.
    for (size_t end = commandLine.find_first_of(" \t");; end = commandLine.find_first_of(" \t", end + 1)) {
        if (FindsProgram(commandLine.substr(0, end))) return ERROR_SUCCESS;
        if (end == std::string::npos) return ERROR_FILE_NOT_FOUND;
    }
}

}  // namespace tarnvale
