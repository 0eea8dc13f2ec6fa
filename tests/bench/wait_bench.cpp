// Measures LaunchAppAndWait's wait: the CPU the caller spends while a child
// sleeps, how soon the call returns after the child's exit, and how soon a
// message posted during the wait is dispatched. Prints medians of several runs.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "child_log.h"
#include "file_fixture.h"
#include "test_paths.h"

namespace {

using tarnvale::test::ChildCommand;

using LaunchExport = int(__stdcall*)(const char*);

long long Now100ns() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

long long ProcessCpu100ns() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& t) { return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return value(kernel) + value(user);
}

// A reference wait that polls the queue and the exit code without pause,
// as a naive runner would; measured beside the library's wait.
void SpinPollingWait(const std::string& commandLine) {
    std::string buffer = commandLine;
    buffer.resize(buffer.size() + 512, '\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return;
    for (;;) {
        MSG message;
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        DWORD code = 0;
        if (!GetExitCodeProcess(info.hProcess, &code) || code != STILL_ACTIVE) break;
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::atomic<long long> g_dispatchedAt{0};

LRESULT CALLBACK ProbeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) g_dispatchedAt = Now100ns();
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main() {
    HMODULE library = LoadLibraryA(tarnvale::test::kFullLibraryPath);
    if (library == nullptr) {
        std::printf("cannot load %s\n", tarnvale::test::kFullLibraryPath);
        return 1;
    }
    auto launch = reinterpret_cast<LaunchExport>(reinterpret_cast<void*>(GetProcAddress(library, "LaunchAppAndWait")));
    tarnvale::test::fs::CreateFolders(std::string(tarnvale::test::fs::kTestRoot) + "\\bench");
    const std::string stamp = std::string(tarnvale::test::fs::kTestRoot) + "\\bench\\exit-stamp.txt";
    constexpr int kRuns = 5;
    constexpr int kSleepMs = 2000;

    std::vector<double> cpuShare, returnDelayMs, spinCpuShare;
    for (int run = 0; run < kRuns; ++run) {
        DeleteFileA(stamp.c_str());
        const std::string command = ChildCommand("--sleep=" + std::to_string(kSleepMs) + " --exit-stamp=" + stamp);
        const long long cpuBefore = ProcessCpu100ns();
        const long long wallBefore = Now100ns();
        launch(command.c_str());
        const long long returnedAt = Now100ns();
        const long long cpu = ProcessCpu100ns() - cpuBefore;
        const long long exitedAt = std::stoll(tarnvale::test::fs::ReadFile(stamp));
        cpuShare.push_back(100.0 * static_cast<double>(cpu) / static_cast<double>(returnedAt - wallBefore));
        returnDelayMs.push_back(static_cast<double>(returnedAt - exitedAt) / 10000.0);

        const long long spinCpuBefore = ProcessCpu100ns();
        const long long spinWallBefore = Now100ns();
        SpinPollingWait(ChildCommand("--sleep=" + std::to_string(kSleepMs)));
        const long long spinWall = Now100ns() - spinWallBefore;
        spinCpuShare.push_back(100.0 * static_cast<double>(ProcessCpu100ns() - spinCpuBefore) /
                               static_cast<double>(spinWall));
    }

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ProbeProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TarnvaleBenchProbe";
    RegisterClassA(&windowClass);
    HWND probe = CreateWindowA("TarnvaleBenchProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    const std::string eventName = "TarnvaleBenchRelease" + std::to_string(GetCurrentProcessId());
    HANDLE release = CreateEventA(nullptr, FALSE, FALSE, eventName.c_str());
    std::vector<double> dispatchDelayMs;
    for (int run = 0; run < kRuns; ++run) {
        g_dispatchedAt = 0;
        long long postedAt = 0;
        std::thread poster([&] {
            Sleep(500);  // well inside the wait
            postedAt = Now100ns();
            PostMessageA(probe, WM_APP, 0, 0);
            for (int i = 0; i < 500 && g_dispatchedAt == 0; ++i) Sleep(5);
            SetEvent(release);
        });
        launch(ChildCommand("--wait-event=" + eventName).c_str());
        poster.join();
        dispatchDelayMs.push_back(g_dispatchedAt == 0 ? -1.0 : static_cast<double>(g_dispatchedAt - postedAt) / 10000.0);
    }

    std::printf("LaunchAppAndWait, median of %d runs each:\n", kRuns);
    std::printf("  CPU of the calling process while a child sleeps %d ms: %.2f%% of the wait\n", kSleepMs,
                Median(cpuShare));
    std::printf("  the same child under a spin-polling reference wait:   %.2f%% of the wait\n", Median(spinCpuShare));
    std::printf("  return after the child's exit:                    %.2f ms\n", Median(returnDelayMs));
    std::printf("  dispatch of a message posted during the wait:     %.2f ms\n", Median(dispatchDelayMs));
    DestroyWindow(probe);
    CloseHandle(release);
    FreeLibrary(library);
    tarnvale::test::fs::RemoveTree(std::string(tarnvale::test::fs::kTestRoot) + "\\bench");
    return 0;
}
