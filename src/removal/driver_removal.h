// Removal of the Tivra keyboard-filter driver through its own setup program.
#pragma once

namespace tarnvale {

// Runs "Setuptivra5.exe /SILENT /REMOVE" from the product folder when that
// program is there, and waits for it. Returns 1 in every case.
int RemoveTivraDriver();

}  // namespace tarnvale
