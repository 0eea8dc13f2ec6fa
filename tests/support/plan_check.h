// The plan run against the real run: one call made on one state first as a
// plan (TARNVALE_PLAN=1) and then for real, each with its own action log,
// with the whole machine pictured before, between and after.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "action_log_reader.h"
#include "machine_snapshot.h"

namespace tarnvale::test {

struct PlanAndRealRun {
    int planResult = -1;
    int realResult = -1;
    std::vector<LogLine> planLines;
    std::vector<LogLine> realLines;
    MachineSnapshot afterPlan;  // the machine between the two runs (the picture before the plan when it is still true)
    MachineSnapshot afterReal;
};

// Makes `call` as a plan run and then as a real run, on a machine pictured
// as `beforePlan`. The logs lie beside the test executable, outside drive
// C:, where no snapshot looks.
PlanAndRealRun PlanThenRun(const MachineSnapshot& beforePlan, const std::function<int()>& call);
// The same with a call of its own for each run (a real run may need a robot
// to answer its windows).
PlanAndRealRun PlanThenRun(const MachineSnapshot& beforePlan, const std::function<int()>& planCall,
                           const std::function<int()>& realCall);

// Every way in which the plan was not exact, empty when it was: the plan
// changed the machine (against `beforePlan`), returned another result than
// the real run, its lines are not the real run's lines one for one, each
// marked "planned: " (a command's process id, exit code and time are known
// only when it runs), or the deletions it lists are not exactly what the
// real run removed from the machine.
std::string PlanDifferences(const MachineSnapshot& beforePlan, const PlanAndRealRun& run);

}  // namespace tarnvale::test
