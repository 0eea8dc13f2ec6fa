// A small dialog class: the template is found through the resource lookup
// (current resource source first, then the library's own resources), a
// static dialog procedure forwards to a virtual member handler, and controls
// are bound by ID.
#pragma once

#include <windows.h>

#include <string>

namespace tarnvale {

// A control of a dialog, bound by its ID once the dialog exists. While it is
// not bound, setting its text does nothing.
class DialogControl {
public:
    void Bind(HWND dialog, int id) noexcept { window_ = GetDlgItem(dialog, id); }
    void Unbind() noexcept { window_ = nullptr; }
    HWND get() const noexcept { return window_; }
    explicit operator bool() const noexcept { return window_ != nullptr; }
    void SetText(const std::string& text) const noexcept;

private:
    HWND window_ = nullptr;
};

class DialogBase {
public:
    DialogBase(UINT templateId, HWND parent) noexcept : templateId_(templateId), parent_(parent) {}
    virtual ~DialogBase();
    DialogBase(const DialogBase&) = delete;
    DialogBase& operator=(const DialogBase&) = delete;

    // Creates the dialog modeless. False when the template is found nowhere
    // or the window cannot be created.
    bool CreateModeless();
    // Runs the dialog modally: the result passed to EndDialog, or -1 when
    // the dialog cannot be created.
    INT_PTR DoModal();

    HWND hwnd() const noexcept { return window_; }
    HWND Item(int id) const noexcept { return GetDlgItem(window_, id); }

protected:
    // Handles one message; returns what the dialog procedure returns. The
    // default runs OnInitDialog and turns IDOK / IDCANCEL into OnOK / OnCancel.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Moves values between the members and the controls: into the controls
    // (save = false) when the dialog starts, back into the members (save =
    // true) when it is confirmed with OK.
    virtual void DoDataExchange(bool /*save*/) {}
    virtual BOOL OnInitDialog() {
        DoDataExchange(false);
        return TRUE;
    }
    virtual void OnOK() {
        DoDataExchange(true);
        EndDialog(IDOK);
    }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    // Ends a modal dialog; destroys a modeless one.
    void EndDialog(INT_PTR result);
    // Centres the dialog on its owner when that is visible, otherwise on the
    // work area of the screen.
    void CenterWindow() const noexcept;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND Owner() const noexcept;

    UINT templateId_;
    HWND parent_;
    HWND window_ = nullptr;
    bool modal_ = false;
};

}  // namespace tarnvale
