#include "plan_check.h"

#include <windows.h>

#include <set>

#include "file_fixture.h"

namespace tarnvale::test {
namespace {

constexpr char kPlannedMark[] = "planned: ";

// The log of one run, beside the test executable; gone before the run.
std::string FreshLogPath(const char* kind) {
    const std::string path = HostFolder() + "\\" + kind + "-" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(path.c_str());
    return path;
}

std::vector<LogLine> RunWithLog(const std::function<int()>& call, bool plan, int& result) {
    const std::string path = FreshLogPath(plan ? "plan" : "real");
    {
        ScopedEnvironment log("TARNVALE_LOG", path);
        ScopedEnvironment planVariable("TARNVALE_PLAN", plan ? "1" : "");
        result = call();
    }
    std::vector<LogLine> lines = ReadLog(path);
    DeleteFileA(path.c_str());
    return lines;
}

// A line as both runs can tell it: a command's process id, exit code and
// time are left out.
std::string Comparable(std::string action) {
    if (action.rfind("started command ", 0) == 0) {
        const size_t process = action.rfind(" as process ");
        if (process != std::string::npos) action.erase(process);
    } else if (action.rfind("command ended: ", 0) == 0) {
        action = "command ended";
    }
    return action;
}

std::string Listed(const std::vector<LogLine>& lines, size_t from) {
    std::string text;
    for (size_t index = from; index < lines.size() && index < from + 5; ++index) {
        text += "    " + lines[index].action + "\n";
    }
    return text;
}

}  // namespace

PlanAndRealRun PlanThenRun(const MachineSnapshot& beforePlan, const std::function<int()>& call) {
    return PlanThenRun(beforePlan, call, call);
}

PlanAndRealRun PlanThenRun(const MachineSnapshot& beforePlan, const std::function<int()>& planCall,
                           const std::function<int()>& realCall) {
    PlanAndRealRun run;
    run.planLines = RunWithLog(planCall, true, run.planResult);
    // A plan changes nothing: that is told cheaply, and the picture taken
    // before it serves the real run. Anything else gets a picture of its own,
    // which PlanDifferences compares.
    run.afterPlan = beforePlan.StillTrue() ? beforePlan : MachineSnapshot::Take();
    run.realLines = RunWithLog(realCall, false, run.realResult);
    run.afterReal = MachineSnapshot::Take();
    return run;
}

std::string PlanDifferences(const MachineSnapshot& beforePlan, const PlanAndRealRun& run) {
    std::string report;
    const std::string changed = DescribeUnexpectedChanges(beforePlan, run.afterPlan, {});
    if (!changed.empty()) report += "the plan run changed the machine:\n" + changed;
    if (run.planResult != run.realResult) {
        report += "the plan returned " + std::to_string(run.planResult) + ", the real run " +
                  std::to_string(run.realResult) + "\n";
    }

    // Line for line, each plan line marked.
    for (size_t index = 0; index < run.planLines.size() || index < run.realLines.size(); ++index) {
        if (index >= run.planLines.size() || index >= run.realLines.size()) {
            report += "the plan has " + std::to_string(run.planLines.size()) + " lines, the real run " +
                      std::to_string(run.realLines.size()) + "; from line " + std::to_string(index + 1) +
                      ":\n  plan:\n" + Listed(run.planLines, index) + "  real run:\n" + Listed(run.realLines, index);
            break;
        }
        const std::string& planned = run.planLines[index].action;
        if (planned.rfind(kPlannedMark, 0) != 0) {
            report += "a plan line not marked planned: " + planned + "\n";
            break;
        }
        if (Comparable(planned.substr(sizeof(kPlannedMark) - 1)) != Comparable(run.realLines[index].action)) {
            report += "line " + std::to_string(index + 1) + " differs:\n  plan:\n" + Listed(run.planLines, index) +
                      "  real run:\n" + Listed(run.realLines, index);
            break;
        }
    }

    // What the plan lists is what the machine lost, no more and no less.
    const std::set<std::string> planned = LoggedDeletions(run.planLines, kPlannedMark);
    const std::string deletions = DescribeUnexpectedChanges(
        run.afterPlan, run.afterReal, std::vector<std::string>(planned.begin(), planned.end()));
    if (!deletions.empty()) report += "the plan's deletions are not what the real run removed:\n" + deletions;
    return report;
}

}  // namespace tarnvale::test
