#include "process/run_and_wait.h"

#include <algorithm>
#include <vector>

#include "common/message_text.h"
#include "common/unique_handle.h"
#include "dialogs/message_box.h"
#include "frame/resource_lookup.h"
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

void DispatchPendingMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        // A quit message is taken off the queue like any other; the wait goes on.
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

int RunAndWait(std::string& commandLine) {
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
        ShowProcessMessage(IDS_UNABLE_TO_EXECUTE, commandLine, createError);
        return 0;
    }
    UniqueProcess child(started);
    WaitForProcess(child.process(), commandLine);
    return 1;
}

void WaitForProcess(HANDLE process, const std::string& commandLine) {
    for (;;) {
        // The wait wakes only for input that arrives after it started, so the
        // queue is drained first.
        DispatchPendingMessages();
        const DWORD woken = MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT,
                                                        MWMO_INPUTAVAILABLE);
        if (woken == WAIT_OBJECT_0 + 1) continue;  // a message arrived
        if (woken == WAIT_FAILED) {
            ShowProcessMessage(IDS_FAILED_TO_COMPLETE, commandLine, GetLastError());
            return;
        }
        // The handle is signalled: the child has ended, whatever its exit
        // code says, 259 included. Its code is read but never judged.
        DWORD exitCode = 0;
        if (!GetExitCodeProcess(process, &exitCode)) {
            ShowProcessMessage(IDS_FAILED_TO_COMPLETE, commandLine, GetLastError());
        }
        return;
    }
}

}  // namespace tarnvale
