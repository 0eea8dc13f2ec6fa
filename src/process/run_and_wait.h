// Starting a command line as a child process and waiting for its end while
// the calling thread's windows stay alive.
#pragma once

#include <windows.h>

#include <string>

namespace tarnvale {

// Starts `commandLine` and waits for the child to end. Returns 1 when the
// child was started (it has ended by now), 0 when it could not be started;
// message 12 has then been shown.
int RunAndWait(std::string& commandLine);

// Waits for `process` to end, dispatching the messages of the calling thread
// meanwhile, and returns soon after the end, however many messages keep
// coming. Shows message 13 when the child's state can no longer be read.
void WaitForProcess(HANDLE process, const std::string& commandLine);

}  // namespace tarnvale
