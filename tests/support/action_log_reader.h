// Reading the library's action log (TARNVALE_LOG) in tests: its lines taken
// apart, and what its "deleted" lines name as machine-snapshot entries.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tarnvale::test {

// The registry view the library under test works in, as the log names it.
const char* ViewName();

// One line of the log file, taken apart.
struct LogLine {
    unsigned long processId;
    std::string exportName;
    std::string action;
};

// Every line of the log file at `path`; a line that does not have the form
// "YYYY-MM-DD hh:mm:ss.mmm pid N Export: action" fails the test.
std::vector<LogLine> ReadLog(const std::string& path);

// The log lines among other text (a program's output); other lines are
// passed over.
std::vector<LogLine> LogLinesIn(const std::string& text);

// The actions, one per line, for failure messages.
std::string Actions(const std::vector<LogLine>& lines);

bool HasAction(const std::vector<LogLine>& lines, const std::function<bool(const std::string&)>& test);

// What the log's "deleted" lines name, as machine-snapshot entries in lower
// case: "hklm\key\", "c:\folder\", "c:\file". Each action may start with
// `mark` (a plan's "planned: "), which is passed over.
std::set<std::string> LoggedDeletions(const std::vector<LogLine>& lines, const std::string& mark = "");

}  // namespace tarnvale::test
