// The library's exported entry points, called by the setup program one at a
// time on its own thread. Each opens the export frame and lets no exception
// out.
#include <windows.h>

#include <string>

// The declarations that setup authors use are the definitions here.
#define TARNVALE_API
#include "tarnvale.h"

#include "dialogs/licence_dialog.h"
#include "frame/build_form.h"
#include "frame/export_frame.h"
#include "frame/resource_library.h"
#include "process/run_and_wait.h"
#include "removal/addon_removal.h"
#include "removal/driver_removal.h"
#include "sims/sim_cleanup.h"

using namespace tarnvale;

namespace {
// The result of the exports that report no outcome, whatever happens in them.
constexpr int kAlwaysOne = 1;
}  // namespace

extern "C" int __stdcall LaunchAppAndWait(const char* commandLine) {
    auto body = [commandLine] {
        std::string line = commandLine != nullptr ? commandLine : "";
        return RunAndWait(line);
    };
    if constexpr (kCompactForm) {
        return RunExportWithoutFrame("LaunchAppAndWait", body);
    } else {
        return RunExport("LaunchAppAndWait", body);
    }
}

extern "C" int __stdcall CleanSIMInfo() {
    return RunExport("CleanSIMInfo", [] { return RunSimCleanup(0); });
}

extern "C" int __stdcall CleanSIMInfoSilent() {
    return RunExport("CleanSIMInfoSilent", [] { return RunSimCleanup(1); });
}

// Always 1, also when something unexpected (memory exhausted) ends it early.
extern "C" int __stdcall UninstallTivraDriver() {
    return RunExport(
        "UninstallTivraDriver",
        [] {
            // Messages of the driver's setup run come from the resource library.
            ResourceLibraryScope resources;
            return RemoveTivraDriver();
        },
        kAlwaysOne);
}

// Always 1, also when something unexpected (memory exhausted) ends it early.
extern "C" int __stdcall RemoveAddOns() {
    return RunExport(
        "RemoveAddOns",
        [] {
            // Status texts and messages come from the resource library when present.
            ResourceLibraryScope resources;
            return RemoveLumbrookAddOns(resources);
        },
        kAlwaysOne);
}

// Shows the licence agreement page: 1 when the user accepted and pressed
// Next, 12 when the user pressed Back, 0 otherwise (also when the dialog
// cannot be created).
extern "C" int __stdcall ShowBetaLicense() {
    return RunExport("ShowBetaLicense", [] {
        // A Back of an earlier call must not decide this one.
        g_nBackRequest = 0;
        // The view's window class, held until the dialog is gone.
        const UniqueModule richEdit = InitRichEdit();
        // Template 1001 from the resource library when it has one.
        ResourceLibraryScope resources;

        CBetaLicense dialog(nullptr);
        actionlog::WindowShown("licence page", "");
        const INT_PTR closedWith = dialog.DoModal();
        resources.Release();

        if (g_nBackRequest == kBackRequested) return kBackRequested;
        return closedWith == IDOK ? 1 : 0;
    }, 0, PlanRunScope::Exports::NeverPlan);  // the page asks the user; there is nothing to plan
}
