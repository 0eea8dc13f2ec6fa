// tarnvale-testchild: the program that tests start through the library.
//
// Options (anywhere on its command line; anything else is ignored, so the
// child also serves as an uninstaller or driver setup with fixed arguments):
//   --exit=N          exit with code N (default 0; 259 allowed)
//   --sleep=MS        sleep before exiting
//   --wait-event=NAME stay alive until the named event is signalled
//   --exit-stamp=FILE write the time of exit (100 ns units) to FILE
//   --hold-file=FILE  hold FILE open without sharing until the child ends
//                     (with --wait-event: a file another process holds)
// The environment can set the same: TARNVALE_CHILD_EXIT, TARNVALE_CHILD_SLEEP,
// TARNVALE_CHILD_EXIT_STAMP (for a child whose command line is fixed).
// When TARNVALE_CHILD_LOG names a file, the child appends "start <pid> <command
// line>" and "image <pid> <its own program file>" when it starts and
// "end <pid>" when it ends, so tests see which program ran, with what command
// line and in which order.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string OptionValue(const std::string& commandLine, const std::string& name) {
    const std::string key = "--" + name + "=";
    const size_t at = commandLine.find(key);
    if (at == std::string::npos) return {};
    const size_t begin = at + key.size();
    const size_t end = commandLine.find(' ', begin);
    return commandLine.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string Environment(const char* name) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
}

void AppendLog(const std::string& line) {
    const std::string path = Environment("TARNVALE_CHILD_LOG");
    if (path.empty()) return;
    // Children may overlap in tests that run several; retry a locked log.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const std::string record = line + "\n";
            DWORD written = 0;
            WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

long long NowFileTime() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

int main() {
    const std::string commandLine = GetCommandLineA();
    const std::string pid = std::to_string(GetCurrentProcessId());
    AppendLog("start " + pid + " " + commandLine);
    char image[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, image, sizeof(image));
    AppendLog("image " + pid + " " + image);

    std::string exitText = OptionValue(commandLine, "exit");
    if (exitText.empty()) exitText = Environment("TARNVALE_CHILD_EXIT");
    std::string sleepText = OptionValue(commandLine, "sleep");
    if (sleepText.empty()) sleepText = Environment("TARNVALE_CHILD_SLEEP");
    const std::string eventName = OptionValue(commandLine, "wait-event");
    std::string stampFile = OptionValue(commandLine, "exit-stamp");
    if (stampFile.empty()) stampFile = Environment("TARNVALE_CHILD_EXIT_STAMP");

    // Opened before the sleep or wait, so that it is held while they last.
    const std::string heldFile = OptionValue(commandLine, "hold-file");
    HANDLE held = heldFile.empty() ? INVALID_HANDLE_VALUE
                                   : CreateFileA(heldFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);

    if (!sleepText.empty()) Sleep(static_cast<DWORD>(std::strtoul(sleepText.c_str(), nullptr, 10)));
    if (!eventName.empty()) {
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, eventName.c_str());
        if (event != nullptr) {
            WaitForSingleObject(event, 120000);
            CloseHandle(event);
        }
    }

    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    AppendLog("end " + pid);
    if (!stampFile.empty()) {
        if (FILE* stamp = std::fopen(stampFile.c_str(), "w")) {
            std::fprintf(stamp, "%lld\n", NowFileTime());
            std::fclose(stamp);
        }
    }
    const UINT exitCode = exitText.empty() ? 0u : static_cast<UINT>(std::strtoul(exitText.c_str(), nullptr, 10));
    ExitProcess(exitCode);
}
