#include "plan/plan_run.h"

#include <windows.h>

namespace tarnvale {

// The plan run in progress. The exports run one at a time on the setup's
// thread, so plain module state serves.
struct PlanRunAccess {
    static PlanRunScope* current;

    static bool Planning() { return current != nullptr && current->planning_; }
    static std::unordered_set<std::wstring>& Keys() { return current->goneKeys_; }
    static std::unordered_set<std::wstring>& Entries() { return current->goneEntries_; }
};
PlanRunScope* PlanRunAccess::current = nullptr;

namespace {

// The environment variable that asks for a plan, and the value that does.
constexpr wchar_t kPlanVariable[] = L"TARNVALE_PLAN";
constexpr wchar_t kPlanValue[] = L"1";

bool PlanAsked() {
    wchar_t value[4] = {};
    const DWORD length = GetEnvironmentVariableW(kPlanVariable, value, 4);
    return length == 1 && value[0] == kPlanValue[0];
}

// Names are compared as the registry and the file system compare them:
// without regard to case.
std::wstring UpperCase(std::wstring name) {
    if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

// True when `name` or a name above it (a prefix ending at a backslash) is in
// `gone`.
bool NameOrParentGone(const std::unordered_set<std::wstring>& gone, const std::wstring& name) {
    if (gone.empty()) return false;
    const std::wstring upper = UpperCase(name);
    if (gone.count(upper) != 0) return true;
    for (size_t separator = upper.find(L'\\'); separator != std::wstring::npos;
         separator = upper.find(L'\\', separator + 1)) {
        if (separator > 0 && gone.count(upper.substr(0, separator)) != 0) return true;
    }
    return false;
}

}  // namespace

PlanRunScope::PlanRunScope(Exports exports) noexcept : previous_(PlanRunAccess::current) {
    planning_ = exports == Exports::MayPlan && PlanAsked();
    PlanRunAccess::current = this;
}

PlanRunScope::~PlanRunScope() { PlanRunAccess::current = previous_; }

namespace plan {

bool Active() noexcept { return PlanRunAccess::Planning(); }

void RecordKeyGone(const std::wstring& objectName) {
    if (Active()) PlanRunAccess::Keys().insert(UpperCase(objectName));
}

bool KeyGone(const std::wstring& objectName) { return Active() && NameOrParentGone(PlanRunAccess::Keys(), objectName); }

void RecordEntryGone(const std::wstring& entryId) {
    if (Active()) PlanRunAccess::Entries().insert(UpperCase(entryId));
}

bool EntryGone(const std::wstring& entryId) {
    return Active() && NameOrParentGone(PlanRunAccess::Entries(), entryId);
}

}  // namespace plan
}  // namespace tarnvale
