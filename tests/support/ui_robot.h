// The UI robot: finds this process's top-level windows (message boxes, the
// status window, the licence dialog), reads their texts and control states
// and clicks their buttons, from a thread other than the one that shows them.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace tarnvale::test {

namespace ui {

using WindowMatch = std::function<bool(HWND)>;

// Visible top-level windows of this process.
std::vector<HWND> TopLevelWindows();

std::string ClassName(HWND window);
// The window's text, read without sending it a message, so a thread that is
// not pumping cannot block the robot.
std::string Text(HWND window);
HWND Item(HWND dialog, int id);
std::string ItemText(HWND dialog, int id);
// The text that a control keeps itself (an edit or rich-text view), asked of
// it with WM_GETTEXT; empty when the control does not answer in time.
std::string ControlText(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
RECT ItemClientRect(HWND dialog, int id);   // the control's rectangle in the dialog's client pixels
RECT ClientRect(HWND window);
RECT WindowRect(HWND window);

bool IsDialog(HWND window);
bool IsMessageBox(HWND window);
// The texts of a message box's text controls, joined by line feeds.
std::string MessageBoxText(HWND box);
WindowMatch MessageBoxMatch();
WindowMatch DialogWithItem(int id);

// The icon that a message box shows, null when it shows none.
HICON MessageBoxIcon(HWND box);

// A user's click on a button (posted BM_CLICK: radio buttons check themselves).
void Click(HWND dialog, int id);
// The same click sent instead of posted: its effects are complete when it
// returns. Never for a button that opens a modal window.
bool ClickNow(HWND dialog, int id);
// The Enter key, to the control that has the focus in the dialog.
void PressEnter(HWND dialog);
void PressEscape(HWND dialog);
void PressCloseBox(HWND window);

}  // namespace ui

// Runs a robot script on its own thread while the test thread calls an
// export. After the script, and whenever a window is left unanswered, the
// robot watches: any window of this process that stays open longer than a
// grace period without being expected fails the test and is dismissed, so a
// modal window nobody expected never hangs the run. A call that has not
// returned after a hard limit ends the test process with a message.
class UiSession {
public:
    using Script = std::function<void(UiSession&)>;

    explicit UiSession(Script script = nullptr, ui::WindowMatch tolerated = nullptr);
    ~UiSession();
    UiSession(const UiSession&) = delete;
    UiSession& operator=(const UiSession&) = delete;

    // Called by the test thread once the export has returned: ends the
    // robot and fails the test if a window of the session is still open.
    void Finish();

    // Called by the test thread before each call of a session that spans a
    // loop of calls: the hard limit holds for each call, not for the loop.
    void NextCall() { started_ = GetTickCount(); }

    // For scripts. Each fails the test and returns null / false on time-out.
    HWND WaitFor(const ui::WindowMatch& match, const char* what, DWORD timeoutMs = 10000);
    HWND WaitForMessageBox(DWORD timeoutMs = 10000);
    bool WaitUntil(const std::function<bool()>& condition, const char* what, DWORD timeoutMs = 10000);
    bool WaitGone(HWND window, DWORD timeoutMs = 10000);

    // Answers `count` message boxes in turn: notes each text, lets `atEach`
    // look at the box while it is up, presses OK and waits for it to go.
    // Returns the texts; fewer when a box does not appear (a failure).
    std::vector<std::string> AnswerMessageBoxes(size_t count, const std::function<void(HWND)>& atEach = nullptr);

    // Texts of the message boxes the robot answered, in order.
    std::vector<std::string> answeredMessageBoxes() const { return answered_; }
    void NoteAnswered(HWND box);

private:
    void Run(Script script);
    void Watch();
    void Dismiss(HWND window);

    ui::WindowMatch tolerated_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
    std::vector<std::string> answered_;
    std::map<HWND, DWORD> firstSeen_;
    std::atomic<DWORD> started_{0};
};

// Records, on the calling thread, the creation, showing, text changes and
// destruction of windows through thread hooks, so that a window that lives
// for a moment only is still seen. One log at a time.
class WindowEventLog {
public:
    enum class Kind { Created, Shown, TextSet, Destroyed };
    struct Event {
        Kind kind;
        HWND window;
        std::string className;
        std::string text;
        int controlId;
        RECT rect{};           // for Shown: where the window is when it is shown
        HWND owner = nullptr;  // for Shown: the window's owner
    };

    WindowEventLog();
    ~WindowEventLog();
    WindowEventLog(const WindowEventLog&) = delete;
    WindowEventLog& operator=(const WindowEventLog&) = delete;

    const std::vector<Event>& events() const { return events_; }
    // The texts set on controls with this ID, in order.
    std::vector<std::string> TextsOf(int controlId) const;
    int Count(Kind kind, const std::string& className) const;

private:
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK CallWndProcHook(int code, WPARAM wParam, LPARAM lParam);

    HHOOK cbt_ = nullptr;
    HHOOK callWndProc_ = nullptr;
    std::vector<Event> events_;
};

}  // namespace tarnvale::test
