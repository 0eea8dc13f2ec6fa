// The modal message boxes of the library.
#pragma once

#include <string>

namespace tarnvale {

// Shows `text` with an OK button (MB_OK), owned by the calling thread's active
// window when it has one, and returns when the user has closed it.
void ShowMessage(const std::string& text);

}  // namespace tarnvale
