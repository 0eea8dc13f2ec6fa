#include "ui_robot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace tarnvale::test {

namespace {

constexpr DWORD kPollMs = 15;
constexpr DWORD kGraceMs = 3000;        // an unexpected window may stay this long
constexpr DWORD kHardLimitMs = 120000;  // no call in a test may take longer

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == GetCurrentProcessId() && IsWindowVisible(window)) {
        reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM context) {
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

std::string Describe(HWND window) {
    std::string text = ui::IsMessageBox(window) ? ui::MessageBoxText(window) : ui::Text(window);
    return "[" + ui::ClassName(window) + "] \"" + text + "\"";
}

}  // namespace

namespace ui {

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::string ClassName(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string Text(HWND window) {
    wchar_t text[4096] = {};
    const int length = InternalGetWindowText(window, text, static_cast<int>(std::size(text)));
    if (length <= 0) return {};
    char converted[8192] = {};
    WideCharToMultiByte(CP_ACP, 0, text, length, converted, sizeof(converted) - 1, nullptr, nullptr);
    return converted;
}

HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::string ItemText(HWND dialog, int id) {
    HWND item = Item(dialog, id);
    return item != nullptr ? Text(item) : std::string();
}

std::string ControlText(HWND dialog, int id) {
    HWND item = Item(dialog, id);
    if (item == nullptr) return {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(item, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 10000, &length)) return {};
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(item, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                             10000, &copied)) {
        return {};
    }
    text.resize(std::min<size_t>(copied, length));
    return text;
}

bool IsEnabled(HWND dialog, int id) {
    HWND item = Item(dialog, id);
    return item != nullptr && IsWindowEnabled(item);
}

bool IsChecked(HWND dialog, int id) {
    DWORD_PTR state = 0;
    HWND item = Item(dialog, id);
    if (item == nullptr) return false;
    SendMessageTimeoutA(item, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
    return state == BST_CHECKED;
}

RECT ItemClientRect(HWND dialog, int id) {
    RECT rect = {};
    HWND item = Item(dialog, id);
    if (item == nullptr) return rect;
    GetWindowRect(item, &rect);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT ClientRect(HWND window) {
    RECT rect = {};
    GetClientRect(window, &rect);
    return rect;
}

RECT WindowRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

bool IsDialog(HWND window) { return ClassName(window) == "#32770"; }

bool IsMessageBox(HWND window) {
    if (!IsDialog(window)) return false;
    // Dialog boxes of the library carry these controls; message boxes don't.
    if (Item(window, 1005) != nullptr || Item(window, 1004) != nullptr) return false;
    for (int button : {IDOK, IDCANCEL, IDYES, IDNO}) {
        if (Item(window, button) != nullptr) return true;
    }
    return false;
}

std::string MessageBoxText(HWND box) {
    std::vector<HWND> children;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::string joined;
    for (HWND child : children) {
        if (_stricmp(ClassName(child).c_str(), "Static") != 0) continue;
        std::string text = Text(child);
        if (text.empty()) continue;
        if (!joined.empty()) joined += "\n";
        joined += text;
    }
    return joined;
}

HICON MessageBoxIcon(HWND box) {
    std::vector<HWND> children;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
        if (_stricmp(ClassName(child).c_str(), "Static") != 0 || (style & SS_TYPEMASK) != SS_ICON) continue;
        if (!IsWindowVisible(child)) continue;
        DWORD_PTR icon = 0;
        SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon);
        if (icon != 0) return reinterpret_cast<HICON>(icon);
    }
    return nullptr;
}

WindowMatch MessageBoxMatch() {
    return [](HWND window) { return IsMessageBox(window); };
}

WindowMatch DialogWithItem(int id) {
    return [id](HWND window) { return IsDialog(window) && Item(window, id) != nullptr; };
}

void Click(HWND dialog, int id) {
    HWND item = Item(dialog, id);
    if (item == nullptr) {
        ADD_FAILURE() << "no control " << id << " to click in " << Describe(dialog);
        return;
    }
    PostMessageA(item, BM_CLICK, 0, 0);
}

bool ClickNow(HWND dialog, int id) {
    HWND item = Item(dialog, id);
    if (item == nullptr) {
        ADD_FAILURE() << "no control " << id << " to click in " << Describe(dialog);
        return false;
    }
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(item, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 10000, &ignored)) {
        ADD_FAILURE() << "control " << id << " did not take the click in time";
        return false;
    }
    return true;
}

void PressEnter(HWND dialog) {
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof(thread);
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread) && thread.hwndFocus != nullptr &&
        IsChild(dialog, thread.hwndFocus)) {
        target = thread.hwndFocus;
    }
    PostMessageA(target, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageA(target, WM_KEYUP, VK_RETURN, 0xC01C0001);
}

void PressEscape(HWND dialog) {
    // The dialog's modal loop hands the key to the dialog manager, which
    // turns Escape into the Cancel command, as for a key press by the user.
    HWND target = Item(dialog, IDCANCEL) != nullptr ? Item(dialog, IDCANCEL) : dialog;
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

void PressCloseBox(HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

}  // namespace ui

namespace {

// Wine sets up its window classes once per process, on first use. When the
// robot's first window call does that while the test thread holds the
// loader lock (a library such as riched32 registering its classes in its
// entry point), the two threads deadlock. Registering a class first on the
// test thread, before the robot starts, completes that set-up without
// creating a window (which a WindowEventLog of the test would record).
void InitialiseWindowingOnThisThread() {
    static const bool initialised = [] {
        WNDCLASSA probe = {};
        probe.lpfnWndProc = DefWindowProcA;
        probe.hInstance = GetModuleHandleA(nullptr);
        probe.lpszClassName = "TarnvaleRobotProbe";
        if (RegisterClassA(&probe) != 0) UnregisterClassA(probe.lpszClassName, probe.hInstance);
        ui::TopLevelWindows();
        return true;
    }();
    (void)initialised;
}

}  // namespace

UiSession::UiSession(Script script, ui::WindowMatch tolerated)
    : tolerated_(std::move(tolerated)), started_(GetTickCount()) {
    InitialiseWindowingOnThisThread();
    thread_ = std::thread([this, script = std::move(script)]() mutable { Run(std::move(script)); });
}

UiSession::~UiSession() { Finish(); }

void UiSession::Finish() {
    if (!thread_.joinable()) return;
    finished_ = true;
    thread_.join();
    for (HWND window : ui::TopLevelWindows()) {
        if (tolerated_ && tolerated_(window)) continue;
        ADD_FAILURE() << "window still open after the call: " << Describe(window);
        Dismiss(window);
    }
}

void UiSession::Run(Script script) {
    if (script) script(*this);
    Watch();
}

void UiSession::Watch() {
    while (!finished_) {
        const DWORD now = GetTickCount();
        // Signed: a call that starts after `now` was read is not overdue.
        if (static_cast<LONG>(now - started_.load()) > static_cast<LONG>(kHardLimitMs)) {
            std::fprintf(stderr, "FATAL: a call under test has not returned after %lu ms\n", kHardLimitMs);
            for (HWND window : ui::TopLevelWindows()) std::fprintf(stderr, "  open: %s\n", Describe(window).c_str());
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 99);
        }
        for (HWND window : ui::TopLevelWindows()) {
            if (tolerated_ && tolerated_(window)) continue;
            auto seen = firstSeen_.emplace(window, now).first;
            if (now - seen->second > kGraceMs) {
                ADD_FAILURE() << "unexpected window: " << Describe(window);
                Dismiss(window);
                seen->second = now;
            }
        }
        Sleep(kPollMs);
    }
}

void UiSession::Dismiss(HWND window) {
    for (int button : {IDOK, IDYES, IDCANCEL}) {
        HWND item = ui::Item(window, button);
        if (item != nullptr && IsWindowEnabled(item)) {
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(item));
            return;
        }
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
}

HWND UiSession::WaitFor(const ui::WindowMatch& match, const char* what, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        for (HWND window : ui::TopLevelWindows()) {
            if (match(window)) return window;
        }
        Sleep(kPollMs);
    } while (GetTickCount() - start < timeoutMs);
    ADD_FAILURE() << "robot: no " << what << " appeared within " << timeoutMs << " ms";
    return nullptr;
}

std::vector<std::string> UiSession::AnswerMessageBoxes(size_t count, const std::function<void(HWND)>& atEach) {
    std::vector<std::string> texts;
    for (size_t i = 0; i < count; ++i) {
        HWND box = WaitForMessageBox();
        if (box == nullptr) break;
        texts.push_back(ui::MessageBoxText(box));
        if (atEach) atEach(box);
        ui::Click(box, IDOK);
        WaitGone(box);
    }
    return texts;
}

HWND UiSession::WaitForMessageBox(DWORD timeoutMs) { return WaitFor(ui::MessageBoxMatch(), "message box", timeoutMs); }

bool UiSession::WaitUntil(const std::function<bool()>& condition, const char* what, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        if (condition()) return true;
        Sleep(kPollMs);
    } while (GetTickCount() - start < timeoutMs);
    ADD_FAILURE() << "robot: " << what << " did not happen within " << timeoutMs << " ms";
    return false;
}

bool UiSession::WaitGone(HWND window, DWORD timeoutMs) {
    return WaitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); }, "window to close", timeoutMs);
}

void UiSession::NoteAnswered(HWND box) { answered_.push_back(ui::MessageBoxText(box)); }

// ---- WindowEventLog ----

namespace {
WindowEventLog* g_activeLog = nullptr;

std::string ClassOf(const CREATESTRUCTA* create, HWND window) {
    if (create != nullptr && create->lpszClass != nullptr && !IS_INTRESOURCE(create->lpszClass)) {
        return create->lpszClass;
    }
    return ui::ClassName(window);
}
}  // namespace

WindowEventLog::WindowEventLog() {
    g_activeLog = this;
    cbt_ = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    callWndProc_ = SetWindowsHookExA(WH_CALLWNDPROC, CallWndProcHook, nullptr, GetCurrentThreadId());
    if (cbt_ == nullptr || callWndProc_ == nullptr) ADD_FAILURE() << "cannot install window hooks";
}

WindowEventLog::~WindowEventLog() {
    if (cbt_ != nullptr) UnhookWindowsHookEx(cbt_);
    if (callWndProc_ != nullptr) UnhookWindowsHookEx(callWndProc_);
    g_activeLog = nullptr;
}

LRESULT CALLBACK WindowEventLog::CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    WindowEventLog* log = g_activeLog;
    if (log != nullptr && code == HCBT_CREATEWND) {
        HWND window = reinterpret_cast<HWND>(wParam);
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        std::string name = create->lpszName != nullptr && !IS_INTRESOURCE(create->lpszName) ? create->lpszName : "";
        log->events_.push_back({Kind::Created, window, ClassOf(create, window), name,
                                static_cast<int>(reinterpret_cast<INT_PTR>(create->hMenu))});
    } else if (log != nullptr && code == HCBT_DESTROYWND) {
        HWND window = reinterpret_cast<HWND>(wParam);
        log->events_.push_back({Kind::Destroyed, window, ui::ClassName(window), {}, GetDlgCtrlID(window)});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK WindowEventLog::CallWndProcHook(int code, WPARAM wParam, LPARAM lParam) {
    WindowEventLog* log = g_activeLog;
    if (log != nullptr && code == HC_ACTION) {
        const CWPSTRUCT* call = reinterpret_cast<CWPSTRUCT*>(lParam);
        if (call->message == WM_SETTEXT && call->lParam != 0) {
            log->events_.push_back({Kind::TextSet, call->hwnd, ui::ClassName(call->hwnd),
                                    reinterpret_cast<const char*>(call->lParam), GetDlgCtrlID(call->hwnd)});
        } else if (call->message == WM_SHOWWINDOW && call->wParam != 0) {
            log->events_.push_back({Kind::Shown, call->hwnd, ui::ClassName(call->hwnd), {}, GetDlgCtrlID(call->hwnd)});
            GetWindowRect(call->hwnd, &log->events_.back().rect);
            log->events_.back().owner = GetWindow(call->hwnd, GW_OWNER);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<std::string> WindowEventLog::TextsOf(int controlId) const {
    std::vector<std::string> texts;
    for (const Event& event : events_) {
        if (event.kind == Kind::TextSet && event.controlId == controlId) texts.push_back(event.text);
    }
    return texts;
}

int WindowEventLog::Count(Kind kind, const std::string& className) const {
    int count = 0;
    for (const Event& event : events_) {
        if (event.kind == kind && event.className == className) ++count;
    }
    return count;
}

}  // namespace tarnvale::test
