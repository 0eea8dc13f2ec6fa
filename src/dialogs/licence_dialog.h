// The licence agreement page: a resizable modal dialog with the agreement
// from "license.rtf" in a read-only rich-text view, accept / do-not-accept
// radio buttons and Back, Next and Cancel. Next can be pressed only while
// the agreement is accepted.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"
#include "dialogs/dialog_base.h"

namespace tarnvale {

// What ShowBetaLicense returns when the page was left with Back.
inline constexpr int kBackRequested = 12;

// Set to kBackRequested by the Back button; ShowBetaLicense clears it at the
// start of each call and reads it after the dialog has closed.
extern int g_nBackRequest;

// Loads the system's rich-edit library version 1, which registers the
// "RICHEDIT" window class of the licence dialog's view. The caller keeps it
// until the dialog is gone; an empty result means the class is unavailable
// (the dialog then cannot be created).
UniqueModule InitRichEdit();

class CBetaLicense : public DialogBase {
public:
    explicit CBetaLicense(HWND parent);

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange(bool save) override;
    BOOL OnInitDialog() override;
    void OnCancel() override;

private:
    void LoadAgreementText();
    static DWORD CALLBACK StreamInCallback(DWORD_PTR cookie, LPBYTE buffer, LONG requested, LONG* bytesRead);

    void OnAcceptClicked();
    void OnDeclineClicked();
    void OnBackClicked();
    void OnGetMinMaxInfo(MINMAXINFO* limits) const;
    void OnSize(UINT type, int cx, int cy);
    void ArrangeControls(int cx, int cy);

    bool IsButtonChecked(int id) const;
    void EnableNext(bool enable) const;
    void MoveItem(int id, int left, int top, int width, int height) const;

    DialogControl m_agreementText;   // the rich-text view, control 1004
    int m_nAgreement = -1;           // 0 accept, 1 do not accept, -1 neither
    RECT m_rcInitialClient = {};     // the client area at start: the minimum size
    RECT m_rcInitialWindow = {};     // the window at start, frame included: the minimum window size
    RECT m_rcButton = {};            // the Next button at start: size of all push buttons
    RECT m_rcRadio = {};             // the do-not-accept button at start: size of both radio buttons
};

}  // namespace tarnvale
