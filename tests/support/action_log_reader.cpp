#include "action_log_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>

#include "file_fixture.h"
#include "machine_snapshot.h"

namespace tarnvale::test {
namespace {

// "YYYY-MM-DD hh:mm:ss.mmm pid N Export: action"
const std::regex kLine(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} pid (\d+) (\w+): (.*)$)");

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

const char* ViewName() { return sizeof(void*) == 8 ? "64-bit view" : "32-bit view"; }

std::vector<LogLine> LogLinesIn(const std::string& text) {
    std::vector<LogLine> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::smatch match;
        if (std::regex_match(line, match, kLine)) lines.push_back({std::stoul(match[1]), match[2], match[3]});
        start = end + 1;
    }
    return lines;
}

std::vector<LogLine> ReadLog(const std::string& path) {
    std::vector<LogLine> lines;
    const std::string content = fs::ReadFile(path);
    size_t start = 0;
    while (start < content.size()) {
        const size_t end = content.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "the log's last line has no line end";
        if (end == std::string::npos) break;
        const std::string text = content.substr(start, end - start);
        std::smatch match;
        if (std::regex_match(text, match, kLine)) {
            lines.push_back({std::stoul(match[1]), match[2], match[3]});
        } else {
            ADD_FAILURE() << "not a log line: " << text;
        }
        start = end + 2;
    }
    return lines;
}

std::string Actions(const std::vector<LogLine>& lines) {
    std::string text;
    for (const LogLine& line : lines) text += "  " + line.action + "\n";
    return text;
}

bool HasAction(const std::vector<LogLine>& lines, const std::function<bool(const std::string&)>& test) {
    return std::any_of(lines.begin(), lines.end(), [&](const LogLine& line) { return test(line.action); });
}

std::set<std::string> LoggedDeletions(const std::vector<LogLine>& lines, const std::string& mark) {
    std::set<std::string> deleted;
    const std::string view = std::string(" (") + ViewName();
    for (const LogLine& line : lines) {
        std::string action = line.action;
        if (!mark.empty() && action.rfind(mark, 0) == 0) action.erase(0, mark.size());
        if (action.rfind("deleted key HKLM\\", 0) == 0) {
            const size_t viewAt = action.rfind(view);
            EXPECT_NE(viewAt, std::string::npos) << "no registry view in: " << action;
            deleted.insert(Lower(MachineKey(action.substr(17, viewAt - 17))));
        } else if (action.rfind("deleted file ", 0) == 0) {
            deleted.insert(Lower(action.substr(13)));
        } else if (action.rfind("deleted folder ", 0) == 0) {
            deleted.insert(Lower(action.substr(15)) + "\\");
        } else {
            EXPECT_NE(action.rfind("deleted", 0), 0u) << "a deletion of an unknown kind: " << action;
        }
    }
    return deleted;
}

}  // namespace tarnvale::test
