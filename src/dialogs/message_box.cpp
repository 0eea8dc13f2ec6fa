#include "dialogs/message_box.h"

#include <windows.h>

#include "log/action_log.h"
#include "plan/plan_run.h"

namespace tarnvale {

namespace {
constexpr char kMessageCaption[] = "Setup";
}

void ShowMessage(const std::string& text) {
    actionlog::WindowShown("message box", text);
    if (plan::Active()) return;  // a plan run shows no window
    MessageBoxA(GetActiveWindow(), text.c_str(), kMessageCaption, MB_OK);
}

}  // namespace tarnvale
