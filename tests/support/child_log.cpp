#include "child_log.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "test_paths.h"

namespace tarnvale::test {

ChildLog::ChildLog(const std::string& path) : path_(path), environment_("TARNVALE_CHILD_LOG", path) {
    DeleteFileA(path_.c_str());
}

ChildLog::~ChildLog() { DeleteFileA(path_.c_str()); }

std::vector<ChildLog::Entry> ChildLog::Read() const {
    std::vector<Entry> entries;
    std::istringstream lines(fs::ReadFile(path_));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Entry entry{};
        const size_t firstBlank = line.find(' ');
        const std::string kind = line.substr(0, firstBlank);
        if (kind == "image") {
            // Belongs to the start entry of the same process.
            const size_t secondBlank = line.find(' ', firstBlank + 1);
            const unsigned long processId =
                std::strtoul(line.substr(firstBlank + 1, secondBlank - firstBlank - 1).c_str(), nullptr, 10);
            for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
                if (it->start && it->processId == processId && secondBlank != std::string::npos) {
                    it->program = line.substr(secondBlank + 1);
                    break;
                }
            }
            continue;
        }
        if (kind != "start" && kind != "end") continue;
        entry.start = kind == "start";
        const size_t secondBlank = line.find(' ', firstBlank + 1);
        entry.processId = std::strtoul(line.substr(firstBlank + 1, secondBlank - firstBlank - 1).c_str(), nullptr, 10);
        if (entry.start && secondBlank != std::string::npos) entry.commandLine = line.substr(secondBlank + 1);
        entries.push_back(entry);
    }
    return entries;
}

std::vector<std::string> ChildLog::StartedCommandLines() const {
    std::vector<std::string> lines;
    for (const Entry& entry : Read()) {
        if (entry.start) lines.push_back(entry.commandLine);
    }
    return lines;
}

std::vector<std::string> ChildLog::StartedPrograms() const {
    std::vector<std::string> programs;
    for (const Entry& entry : Read()) {
        if (entry.start) programs.push_back(entry.program);
    }
    return programs;
}

std::string ChildCommand(const std::string& options) {
    std::string command = std::string("\"") + kTestChildPath + "\"";
    if (!options.empty()) command += " " + options;
    return command;
}

unsigned long CreateProcessError(const std::string& commandLine) {
    std::string buffer = commandLine;
    buffer.resize(std::max<size_t>(buffer.size() + 1, 512), '\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        TerminateProcess(info.hProcess, 0);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        return 0;
    }
    return GetLastError();
}

}  // namespace tarnvale::test
