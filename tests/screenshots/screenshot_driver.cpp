// Shows one of the library's windows for a screenshot: calls the export
// that shows it, with the robot bringing the window into a typical state,
// writes the window's rectangle on the screen into READY_FILE, waits until
// DONE_FILE exists (the screenshot has been taken), then closes the window.
//   screenshot_driver licence SAMPLE_RTF READY_FILE DONE_FILE
//     the licence page with SAMPLE_RTF as the agreement, "I accept" chosen
//   screenshot_driver status READY_FILE DONE_FILE
//     the status window of RemoveAddOns while the Quillet add-on's
//     uninstaller (the test child) runs
#include <windows.h>

#include <cstdio>
#include <string>

#include "child_log.h"
#include "file_fixture.h"
#include "registry_fixture.h"
#include "resources/resource.h"
#include "tarnvale_library.h"
#include "ui_robot.h"

using namespace tarnvale::test;

namespace {

constexpr DWORD kShotTimeoutMs = 60000;
constexpr char kQuilletEntry[] = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Nortavo Quillet)";

// The screenshot driver shows windows for the person running it, so any
// window may stay.
bool AnyWindow(HWND) { return true; }

bool WriteReady(const std::string& path, HWND window) {
    const RECT rect = ui::WindowRect(window);
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    std::fprintf(file, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    std::fclose(file);
    return true;
}

void WaitForFile(const std::string& path) {
    const DWORD start = GetTickCount();
    while (!fs::FileExists(path) && GetTickCount() - start < kShotTimeoutMs) Sleep(50);
}

int ShowLicence(const std::string& sample, const std::string& ready, const std::string& done) {
    ScopedFolder work(std::string(fs::kTestRoot) + "\\screenshot");
    fs::WriteFile(work / "license.rtf", fs::ReadFile(sample));
    ScopedCurrentDirectory agreementFolder(work.path());
    TarnvaleLibrary library;

    UiSession session(
        [&](UiSession& robot) {
            HWND page = robot.WaitFor(ui::DialogWithItem(IDC_AGREEMENT_TEXT), "licence dialog");
            if (page == nullptr) return;
            ui::ClickNow(page, IDC_ACCEPT);
            if (WriteReady(ready, page)) WaitForFile(done);
            ui::Click(page, IDC_BACK);
        },
        AnyWindow);
    const int result = library.ShowBetaLicense();
    session.Finish();
    std::printf("ShowBetaLicense returned %d\n", result);
    return result == 12 ? 0 : 1;
}

int ShowStatus(const std::string& ready, const std::string& done) {
    // A Quillet add-on whose uninstaller runs until the screenshot is taken.
    ScopedRegistryTree quillet(HKEY_LOCAL_MACHINE, kQuilletEntry);
    const std::string eventName = "TarnvaleScreenshot" + std::to_string(GetCurrentProcessId());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    reg::SetString(HKEY_LOCAL_MACHINE, kQuilletEntry, "UninstallString", ChildCommand("--wait-event=" + eventName));
    TarnvaleLibrary library;

    UiSession session(
        [&](UiSession& robot) {
            HWND status = robot.WaitFor(
                [](HWND window) {
                    return ui::IsDialog(window) && ui::ItemText(window, IDC_STATUS_TEXT) == "Uninstalling Quillet...";
                },
                "status window");
            if (status != nullptr && WriteReady(ready, status)) WaitForFile(done);
            SetEvent(release);
        },
        AnyWindow);
    const int result = library.RemoveAddOns();
    session.Finish();
    CloseHandle(release);
    std::printf("RemoveAddOns returned %d\n", result);
    return result == 1 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "licence" && argc == 5) return ShowLicence(argv[2], argv[3], argv[4]);
    if (what == "status" && argc == 4) return ShowStatus(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: screenshot_driver licence SAMPLE_RTF READY_FILE DONE_FILE\n"
                 "       screenshot_driver status READY_FILE DONE_FILE\n");
    return 2;
}
