// The plan run. With TARNVALE_PLAN=1 in the environment, an export that
// deletes or starts something changes nothing, starts nothing and shows no
// window. It goes through the same steps as a real run and logs what it
// would do, each line marked "planned: ", and returns what a real run would
// return.
//
// The plan follows a real run's order exactly: a key, file or folder that
// an earlier step of the run would have deleted is gone for every later step.
// The run keeps a list of them, and the guards ask it wherever they open,
// list or delete something (plan::KeyGone, plan::EntryGone). So a folder is
// removed in the plan when its files were planned to go, and a registration's
// subkeys go with it.
#pragma once

#include <string>
#include <unordered_set>

namespace tarnvale {

// The plan run of one export call, opened by RunExport before the export's
// body runs: a plan when the export may plan and TARNVALE_PLAN is "1", a
// real run otherwise.
class PlanRunScope {
public:
    enum class Exports { MayPlan, NeverPlan };

    explicit PlanRunScope(Exports exports) noexcept;
    ~PlanRunScope();
    PlanRunScope(const PlanRunScope&) = delete;
    PlanRunScope& operator=(const PlanRunScope&) = delete;

private:
    friend struct PlanRunAccess;
    bool planning_ = false;
    std::unordered_set<std::wstring> goneKeys_;     // object names, upper case
    std::unordered_set<std::wstring> goneEntries_;  // entry ids, upper case
    PlanRunScope* previous_;
};

namespace plan {

// True while the export in progress only plans.
bool Active() noexcept;

// Registry keys, by the name of the key object ("\REGISTRY\MACHINE\...").
// KeyGone is true for a key that the plan deleted, and for the keys below it.
void RecordKeyGone(const std::wstring& objectName);
bool KeyGone(const std::wstring& objectName);

// Files and folders, by an id that names the entry on its volume (see
// PinnedFolder). EntryGone is true for an entry the plan deleted, and for
// the entries below a folder it removed.
void RecordEntryGone(const std::wstring& entryId);
bool EntryGone(const std::wstring& entryId);

}  // namespace plan
}  // namespace tarnvale
