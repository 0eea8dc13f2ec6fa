// The SIM cleanup run behind CleanSIMInfo and CleanSIMInfoSilent.
#pragma once

namespace tarnvale {

// Removes what earlier SIM installations left behind, in a fixed order:
// the registrations, then (once the product folder is found) the SIM
// folders, and, when any SIM was registered, the per-SIM uninstall files
// and the shared uninstall library. A non-zero `silent` shows no window.
// Returns 1 when the run went through, 0 when the product folder was not
// found (the registrations are deleted all the same).
int RunSimCleanup(int silent);

}  // namespace tarnvale
