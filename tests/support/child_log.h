// What the test child recorded: which children ran, with which command line
// and in which order.
#pragma once

#include <string>
#include <vector>

#include "file_fixture.h"

namespace tarnvale::test {

class ChildLog {
public:
    struct Entry {
        bool start;               // "start" or "end"
        unsigned long processId;
        std::string commandLine;  // for start entries
        std::string program;      // for start entries: the child's own program file
    };

    // Makes children started from now on record into a fresh log file.
    explicit ChildLog(const std::string& path);
    ~ChildLog();
    ChildLog(const ChildLog&) = delete;
    ChildLog& operator=(const ChildLog&) = delete;

    std::vector<Entry> Read() const;
    // The command lines of the children that started, in order.
    std::vector<std::string> StartedCommandLines() const;
    // The program files of the children that started, in order.
    std::vector<std::string> StartedPrograms() const;

private:
    std::string path_;
    ScopedEnvironment environment_;
};

// A command line that starts the test child with these options.
std::string ChildCommand(const std::string& options = {});

// The error that process creation itself reports for this command line (0
// when it starts after all; the child is then ended at once).
unsigned long CreateProcessError(const std::string& commandLine);

}  // namespace tarnvale::test
