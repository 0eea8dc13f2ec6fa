// The small modeless status window: one centred line of text, no caption,
// no buttons. Its owner opens it, sets the text as the work goes on and
// closes it by destroying the object.
#pragma once

#include <windows.h>

#include "dialogs/dialog_base.h"

namespace tarnvale {

class CStatusDlg : public DialogBase {
public:
    // Every caller passes no parent; the owner is then the calling thread's
    // active window, if any.
    explicit CStatusDlg(HWND parent = nullptr) noexcept;
    // The base destroys the window if it exists.
    ~CStatusDlg() override = default;

    // Creates the window from template 133 and shows it. 1 when shown, 0 when
    // it cannot be created; setting the text then does nothing.
    int Open();

    // The status line (control 1005); its window text is the status text.
    DialogControl m_status;

protected:
    BOOL OnInitDialog() override;
    // The window has no input of its own: Enter and Escape do not close it.
    void OnOK() override {}
    void OnCancel() override {}
};

}  // namespace tarnvale
