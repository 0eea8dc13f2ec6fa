#include "dialogs/message_box.h"

#include <windows.h>

namespace tarnvale {

namespace {
constexpr char kMessageCaption[] = "Setup";
}

void ShowMessage(const std::string& text) {
    MessageBoxA(GetActiveWindow(), text.c_str(), kMessageCaption, MB_OK);
}

}  // namespace tarnvale
