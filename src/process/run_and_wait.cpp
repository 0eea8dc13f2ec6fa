#include "process/run_and_wait.h"

#include <algorithm>
#include <vector>

#include "common/message_text.h"
#include "common/unique_handle.h"
#include "dialogs/message_box.h"
#include "frame/resource_lookup.h"
#include "log/action_log.h"
#include "plan/plan_run.h"
#include "process/program_lookup.h"
#include "resources/resource.h"

namespace tarnvale {
namespace {

// CreateProcessA may write into the command line, so it gets a copy with
// room for at least this many characters; a longer line is passed whole.
constexpr size_t kMinCommandBuffer = 512;

void ShowProcessMessage(UINT messageId, const std::string& commandLine, DWORD errorCode) {
    const std::string format = ResourceString(messageId);
    ShowMessage(FormatMessageText(format, commandLine, static_cast<long>(errorCode)));
}

// Takes one message off the calling thread's queue, if there is one, and
// dispatches it. A quit message is taken off like any other; the wait goes on.
void DispatchOneMessage() {
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

int RunAndWait(std::string& commandLine) {
    if (plan::Active()) {
        // Nothing is started: a plan tells whether the program would be found.
        const DWORD lookupError = ProgramLookupError(commandLine);
        if (lookupError != ERROR_SUCCESS) {
            actionlog::CommandNotStarted(commandLine, lookupError);
            ShowProcessMessage(IDS_UNABLE_TO_EXECUTE, commandLine, lookupError);
            return 0;
        }
        actionlog::CommandStarted(commandLine, 0);
        actionlog::CommandEndAwaited();
        return 1;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};

    std::vector<char> buffer(std::max(commandLine.size() + 1, kMinCommandBuffer), '\0');
    std::copy(commandLine.begin(), commandLine.end(), buffer.begin());

    const BOOL created = CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &started);
    const DWORD createError = GetLastError();
    // The buffer comes back as the string's new text, measured to its zero.
    commandLine.assign(buffer.data());

    if (!created) {
        actionlog::CommandNotStarted(commandLine, createError);
        ShowProcessMessage(IDS_UNABLE_TO_EXECUTE, commandLine, createError);
        return 0;
    }
    UniqueProcess child(started);
    actionlog::CommandStarted(commandLine, started.dwProcessId);
    WaitForProcess(child.process(), commandLine);
    return 1;
}

void WaitForProcess(HANDLE process, const std::string& commandLine) {
    const ULONGLONG startedAt = GetTickCount64();
    for (;;) {
        // With MWMO_INPUTAVAILABLE the wait also wakes for input that was
        // queued before it started. One message is dispatched per pass and
        // the child is looked at after each: a window that posts itself a
        // message for each one it handles, or that never validates its
        // paint, keeps the queue from running dry, but cannot hold the call
        // once the child has ended. The look after the message is needed
        // because a wait may report input without looking at the handle
        // (Wine's X11 driver does so whenever it has just handled X events).
        DWORD woken = MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT,
                                                  MWMO_INPUTAVAILABLE);
        if (woken == WAIT_OBJECT_0 + 1) {
            DispatchOneMessage();
            woken = WaitForSingleObject(process, 0);
            if (woken == WAIT_TIMEOUT) continue;
        }
        if (woken == WAIT_FAILED) {
            actionlog::CommandWaitFailed(GetLastError());
            ShowProcessMessage(IDS_FAILED_TO_COMPLETE, commandLine, GetLastError());
            return;
        }
        // The handle is signalled: the child has ended, whatever its exit
        // code says, 259 included. Its code is read but never judged.
        DWORD exitCode = 0;
        if (!GetExitCodeProcess(process, &exitCode)) {
            const DWORD error = GetLastError();
            actionlog::CommandWaitFailed(error);
            ShowProcessMessage(IDS_FAILED_TO_COMPLETE, commandLine, error);
            return;
        }
        actionlog::CommandEnded(exitCode, static_cast<DWORD>(GetTickCount64() - startedAt));
        return;
    }
}

}  // namespace tarnvale
