#include "dialogs/licence_dialog.h"

#include <richedit.h>

#include <string>

#include "frame/build_form.h"
#include "resources/resource.h"

namespace tarnvale {

int g_nBackRequest = 0;

namespace {

// Looked for in the current directory of the setup's process.
constexpr char kAgreementFile[] = "license.rtf";
constexpr char kExitQuestion[] = "Do you want to exit Quenta setup?";
constexpr char kExitCaption[] = "Question";

int Width(const RECT& rect) { return rect.right - rect.left; }
int Height(const RECT& rect) { return rect.bottom - rect.top; }

}  // namespace

UniqueModule InitRichEdit() {
    // From the system folder by full path: a "riched32.dll" planted beside
    // the setup or in its current directory is never loaded.
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return UniqueModule();
    const std::string path = std::string(folder, length) + "\\riched32.dll";
    return UniqueModule(LoadLibraryA(path.c_str()));
}

CBetaLicense::CBetaLicense(HWND parent) : DialogBase(IDD_LICENSE, parent) {}

INT_PTR CBetaLicense::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                switch (LOWORD(wParam)) {
                    case IDC_ACCEPT:
                        OnAcceptClicked();
                        return TRUE;
                    case IDC_DECLINE:
                        OnDeclineClicked();
                        return TRUE;
                    case IDC_BACK:
                        OnBackClicked();
                        return TRUE;
                    default:
                        break;
                }
            }
            break;
        case WM_GETMINMAXINFO:
            OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
            return TRUE;
        case WM_SIZE:
            OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
            return TRUE;
        case WM_DESTROY:
            m_agreementText.Unbind();
            break;
        default:
            break;
    }
    return DialogBase::HandleMessage(message, wParam, lParam);
}

void CBetaLicense::DoDataExchange(bool save) {
    m_agreementText.Bind(hwnd(), IDC_AGREEMENT_TEXT);
    // The radio group 1002/1003: its index is the choice, -1 for neither.
    if (save) {
        m_nAgreement = IsButtonChecked(IDC_ACCEPT) ? 0 : IsButtonChecked(IDC_DECLINE) ? 1 : -1;
    } else {
        SendDlgItemMessageA(hwnd(), IDC_ACCEPT, BM_SETCHECK, m_nAgreement == 0 ? BST_CHECKED : BST_UNCHECKED, 0);
        SendDlgItemMessageA(hwnd(), IDC_DECLINE, BM_SETCHECK, m_nAgreement == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

BOOL CBetaLicense::OnInitDialog() {
    DialogBase::OnInitDialog();
    LoadAgreementText();
    EnableNext(false);

    GetClientRect(Item(IDOK), &m_rcButton);
    GetClientRect(Item(IDC_DECLINE), &m_rcRadio);
    GetClientRect(hwnd(), &m_rcInitialClient);
    // The window's own size, frame included, as the platform draws it: the
    // smallest size the page may take.
    GetWindowRect(hwnd(), &m_rcInitialWindow);

    // A dialog without a parent is centred, on its owner or on the screen.
    CenterWindow();
    return TRUE;
}

void CBetaLicense::LoadAgreementText() {
    // Read only, and no other program may write it while it is read. A file
    // that is missing, is a folder or is held open elsewhere leaves the view
    // empty; the dialog works all the same.
    UniqueFile file(CreateFileA(kAgreementFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) return;

    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(file.get());
    stream.pfnCallback = StreamInCallback;
    SendMessageA(m_agreementText.get(), EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
}

DWORD CALLBACK CBetaLicense::StreamInCallback(DWORD_PTR cookie, LPBYTE buffer, LONG requested, LONG* bytesRead) {
    *bytesRead = 0;
    if (requested <= 0) return 0;
    DWORD read = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(cookie), buffer, static_cast<DWORD>(requested), &read, nullptr)) {
        // A read error ends the stream as an error, not as the end of the file.
        const DWORD error = GetLastError();
        return error != 0 ? error : ERROR_READ_FAULT;
    }
    *bytesRead = static_cast<LONG>(read);  // 0 at the end of the file ends the stream
    return 0;
}

// The compact form does not read the check state: a click on accept always
// enables Next, one on do-not-accept always disables it. For the user's
// clicks on the two automatic radio buttons both give the same states.
void CBetaLicense::OnAcceptClicked() { EnableNext(kCompactForm || IsButtonChecked(IDC_ACCEPT)); }

void CBetaLicense::OnDeclineClicked() { EnableNext(!kCompactForm && !IsButtonChecked(IDC_DECLINE)); }

void CBetaLicense::OnBackClicked() {
    // Back leaves the page whatever is chosen.
    g_nBackRequest = kBackRequested;
    OnOK();
}

void CBetaLicense::OnCancel() {
    // Cancel, Escape and the close box all ask first; only Yes leaves.
    if (MessageBoxA(hwnd(), kExitQuestion, kExitCaption, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        DialogBase::OnCancel();
    }
}

void CBetaLicense::OnGetMinMaxInfo(MINMAXINFO* limits) const {
    // Asked also while the window is created, before its size is known.
    if (limits == nullptr || IsRectEmpty(&m_rcInitialWindow)) return;
    // Dragging the frame stops at the size the page opened with.
    limits->ptMinTrackSize.x = Width(m_rcInitialWindow);
    limits->ptMinTrackSize.y = Height(m_rcInitialWindow);
}

void CBetaLicense::OnSize(UINT type, int cx, int cy) {
    const int minWidth = Width(m_rcInitialClient);
    const int minHeight = Height(m_rcInitialClient);
    if (cx < minWidth || cy < minHeight) {
        // A size set past the tracking limit (by a program) snaps back to
        // the window's size at the start, which holds the first client area.
        RECT window = {};
        GetWindowRect(hwnd(), &window);
        MoveWindow(hwnd(), window.left, window.top, Width(m_rcInitialWindow), Height(m_rcInitialWindow), TRUE);
        ArrangeControls(minWidth, minHeight);
    } else {
        DefWindowProcA(hwnd(), WM_SIZE, type, MAKELPARAM(cx, cy));
        ArrangeControls(cx, cy);
    }
    InvalidateRect(hwnd(), nullptr, TRUE);
}

void CBetaLicense::ArrangeControls(int cx, int cy) {
    // Size messages during creation come before the view is bound.
    if (!m_agreementText) return;

    MoveWindow(m_agreementText.get(), 10, 40, cx - 20, cy - 125, TRUE);

    // Next centred at the bottom, Back to its left, Cancel to its right.
    const int bw = Width(m_rcButton);
    const int bh = Height(m_rcButton);
    const int half = bw / 2;
    const int mid = cx / 2;
    MoveItem(IDOK, mid - half, cy - 30, bw, bh);
    MoveItem(IDCANCEL, mid + half + 20, cy - 30, bw, bh);
    MoveItem(IDC_BACK, mid - half - bw - 20, cy - 30, bw, bh);

    const int rw = Width(m_rcRadio);
    const int rh = Height(m_rcRadio);
    MoveItem(IDC_ACCEPT, 10, cy - 75, rw, rh);
    MoveItem(IDC_DECLINE, 10, cy - 70 + rh, rw, rh);
}

bool CBetaLicense::IsButtonChecked(int id) const {
    return SendDlgItemMessageA(hwnd(), id, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

void CBetaLicense::EnableNext(bool enable) const { EnableWindow(Item(IDOK), enable ? TRUE : FALSE); }

void CBetaLicense::MoveItem(int id, int left, int top, int width, int height) const {
    MoveWindow(Item(id), left, top, width, height, TRUE);
}

}  // namespace tarnvale
