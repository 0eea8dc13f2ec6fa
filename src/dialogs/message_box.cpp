#include "dialogs/message_box.h"

#include <windows.h>

#include "log/action_log.h"

namespace tarnvale {

namespace {
constexpr char kMessageCaption[] = "Setup";
}

void ShowMessage(const std::string& text) {
    actionlog::WindowShown("message box", text);
    MessageBoxA(GetActiveWindow(), text.c_str(), kMessageCaption, MB_OK);
}

}  // namespace tarnvale
