// The SIM cleanup run behind CleanSIMInfo and CleanSIMInfoSilent.
#pragma once

namespace tarnvale {

// Removes what earlier SIM installations left behind, in a fixed order:
// the registrations, then (once the product folder is found) the SIM
// folders, and, when any SIM was registered, their Uninstall entries, the
// per-SIM uninstall files and the shared uninstall library. A non-zero
// `silent` shows no window. Returns 1 when the run went through, 0 when the
// product folder was not found.
// The full form deletes the registrations before it looks for the product
// folder, so they go even when it is not found; its texts are its own. The
// compact form looks for the product folder first and then sweeps the SIMS
// key alone with its own, simpler steps; it takes every text from the
// resource library, which it holds for the run and frees with force.
int RunSimCleanup(int silent);

}  // namespace tarnvale
