#include "dialogs/dialog_base.h"

#include "frame/export_frame.h"
#include "frame/resource_lookup.h"

namespace tarnvale {

void DialogControl::SetText(const std::string& text) const noexcept {
    if (window_ != nullptr) SetWindowTextA(window_, text.c_str());
}

DialogBase::~DialogBase() {
    if (window_ != nullptr) {
        HWND window = window_;
        SetWindowLongPtrA(window, DWLP_USER, 0);
        window_ = nullptr;
        DestroyWindow(window);
    }
}

HWND DialogBase::Owner() const noexcept {
    if (parent_ != nullptr) return parent_;
    // No parent named: the dialog is owned by the calling thread's active
    // top-level window when there is one (the setup's own window), so it
    // stays above it and, when modal, disables it.
    HWND active = GetActiveWindow();
    return active != nullptr ? GetAncestor(active, GA_ROOT) : nullptr;
}

bool DialogBase::CreateModeless() {
    const DialogTemplate found = FindDialogTemplate(templateId_);
    if (!found) return false;
    modal_ = false;
    HWND created = CreateDialogIndirectParamA(found.module, found.data, Owner(), DialogProc,
                                              reinterpret_cast<LPARAM>(this));
    return created != nullptr && window_ != nullptr;
}

INT_PTR DialogBase::DoModal() {
    const DialogTemplate found = FindDialogTemplate(templateId_);
    if (!found) return -1;
    modal_ = true;
    return DialogBoxIndirectParamA(found.module, found.data, Owner(), DialogProc, reinterpret_cast<LPARAM>(this));
}

void DialogBase::EndDialog(INT_PTR result) {
    if (window_ == nullptr) return;
    if (modal_) {
        ::EndDialog(window_, result);
    } else {
        DestroyWindow(window_);
    }
}

void DialogBase::CenterWindow() const noexcept {
    RECT dialog = {};
    GetWindowRect(window_, &dialog);
    RECT area = {};
    HWND owner = GetWindow(window_, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
    } else {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    const int width = dialog.right - dialog.left;
    const int height = dialog.bottom - dialog.top;
    const int left = area.left + ((area.right - area.left) - width) / 2;
    const int top = area.top + ((area.bottom - area.top) - height) / 2;
    SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR DialogBase::HandleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            // Buttons, Enter, Escape and the close box all arrive as clicks.
            if (HIWORD(wParam) == BN_CLICKED) {
                if (LOWORD(wParam) == IDOK) {
                    OnOK();
                    return TRUE;
                }
                if (LOWORD(wParam) == IDCANCEL) {
                    OnCancel();
                    return TRUE;
                }
            }
            return FALSE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK DialogBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogBase* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<DialogBase*>(lParam);
        dialog->window_ = window;
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
    } else {
        // Messages such as WM_SETFONT arrive before WM_INITDIALOG: not ours yet.
        dialog = reinterpret_cast<DialogBase*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    if (dialog == nullptr) return FALSE;

    INT_PTR result = FALSE;
    try {
        // Messages of the library's dialogs run in the library's frame too.
        ExportFrame frame;
        result = dialog->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // No exception may cross the platform's dialog procedure.
        result = FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        dialog->window_ = nullptr;
    }
    return result;
}

}  // namespace tarnvale
