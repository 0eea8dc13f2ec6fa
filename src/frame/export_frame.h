// The scope that every export (and every message of the library's dialogs)
// runs in: the library's module state is current and, in the full form, the
// activation context of the library's manifest is active, so its dialogs get
// version 6 of the common controls. Everything is restored on every way out.
#pragma once

#include <windows.h>

#include "frame/module_state.h"
#include "log/action_log.h"
#include "plan/plan_run.h"

namespace tarnvale {

class ExportFrame {
public:
    ExportFrame() noexcept;
    ~ExportFrame();
    ExportFrame(const ExportFrame&) = delete;
    ExportFrame& operator=(const ExportFrame&) = delete;

private:
    ModuleState* previous_;
    ULONG_PTR activationCookie_ = 0;
    bool activated_ = false;
};

// Runs the export `name`'s body inside the frame, with its action log open
// from before the body to after its result, as a plan run when TARNVALE_PLAN
// asks for one and the export may plan. No exception leaves an export: an
// unexpected failure (memory exhausted) becomes failureResult.
template <typename Body>
int RunExport(const char* name, Body&& body, int failureResult = 0,
              PlanRunScope::Exports plannable = PlanRunScope::Exports::MayPlan) noexcept {
    PlanRunScope plan(plannable);
    ActionLogScope log(name);
    int result = failureResult;
    try {
        ExportFrame frame;
        result = body();
    } catch (...) {
        actionlog::UnexpectedFailure();
    }
    actionlog::Result(result);
    return result;
}

// The same guard without the frame, for the compact form's LaunchAppAndWait,
// which runs in whatever module state its caller has current.
template <typename Body>
int RunExportWithoutFrame(const char* name, Body&& body, int failureResult = 0) noexcept {
    PlanRunScope plan(PlanRunScope::Exports::MayPlan);
    ActionLogScope log(name);
    int result = failureResult;
    try {
        result = body();
    } catch (...) {
        actionlog::UnexpectedFailure();
    }
    actionlog::Result(result);
    return result;
}

}  // namespace tarnvale
