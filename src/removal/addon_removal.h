// Removal of the two wizard add-ons, Quillet and Marlowe, through their own
// uninstallers.
#pragma once

namespace tarnvale {

class ResourceLibraryScope;

// Looks for each add-on's entry in the list of installed programs and runs
// its uninstaller with " -a", showing progress in the status window. The
// caller holds the resource library; it is released here, before the status
// window closes. Returns 1 in every case.
int RemoveLumbrookAddOns(ResourceLibraryScope& resources);

}  // namespace tarnvale
