#include "dialogs/status_dialog.h"

#include "plan/plan_run.h"

#include "resources/resource.h"

namespace tarnvale {

CStatusDlg::CStatusDlg(HWND parent) noexcept : DialogBase(IDD_STATUS, parent) {}

int CStatusDlg::Open() {
    if (plan::Active()) return 0;  // a plan run shows no window
    if (!CreateModeless()) return 0;
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    return 1;
}

BOOL CStatusDlg::OnInitDialog() {
    m_status.Bind(hwnd(), IDC_STATUS_TEXT);
    CenterWindow();
    return TRUE;
}

}  // namespace tarnvale
