// Where a command line's program would be found, without starting it: what a
// plan run tells about a command.
#pragma once

#include <windows.h>

#include <string>

namespace tarnvale {

// ERROR_SUCCESS when CreateProcess would find the program that `commandLine`
// names, ERROR_FILE_NOT_FOUND otherwise. The program is the quoted text at
// the start of the line, or else the first of the texts that end at a blank
// or tab ("C:\Program", "C:\Program Files\Tool", ...) that names a file, with
// ".exe" added when it has no extension, looked up where CreateProcess looks
// (the program's folder, the current folder, the system folders, PATH).
DWORD ProgramLookupError(const std::string& commandLine);

}  // namespace tarnvale
