/* A C program that uses Tarnvale as a setup author's tool would: it includes
   include/tarnvale.h, calls every export through the import library, and then
   through GetProcAddress, and checks the results against the header's
   constants. On a machine where the product is not installed.
   usage: use_tarnvale COMMANDLINE   (a command that starts and ends at once) */
#include <windows.h>

#include <stdio.h>

#include "tarnvale.h"

typedef int(__stdcall* NoArgumentExport)(void);
typedef int(__stdcall* CommandLineExport)(const char*);
/* The function pointer type that converts to any other without a warning. */
typedef void (*AnyFunction)(void);

static int failures = 0;

static void Expect(const char* what, int got, int wanted) {
    printf("%s %s: %d (expected %d)\n", got == wanted ? "ok  " : "FAIL", what, got, wanted);
    if (got != wanted) ++failures;
}

/* Presses Back on this process's licence page as soon as it shows. */
static DWORD WINAPI PressBack(LPVOID unused) {
    int attempt;
    (void)unused;
    for (attempt = 0; attempt < 2000; ++attempt) {
        HWND page = FindWindowA("#32770", "Product License Agreement");
        DWORD process = 0;
        if (page != NULL) GetWindowThreadProcessId(page, &process);
        if (page != NULL && process == GetCurrentProcessId() && IsWindowVisible(page)) {
            PostMessageA(GetDlgItem(page, 1006), BM_CLICK, 0, 0);
            return 0;
        }
        Sleep(10);
    }
    return 1;
}

static int ShowPageAndPressBack(NoArgumentExport show) {
    HANDLE robot = CreateThread(NULL, 0, PressBack, NULL, 0, NULL);
    int result = show();
    WaitForSingleObject(robot, 30000);
    CloseHandle(robot);
    return result;
}

static FARPROC Address(HMODULE library, const char* name) {
    FARPROC address = GetProcAddress(library, name);
    if (address == NULL) {
        printf("FAIL GetProcAddress(%s)\n", name);
        ++failures;
    }
    return address;
}

int main(int argc, char** argv) {
    const char* command = argc > 1 ? argv[1] : "";
    HMODULE library;

    /* Through the import library. */
    Expect("CleanSIMInfo", CleanSIMInfo(), TARNVALE_NOT_DONE);
    Expect("CleanSIMInfoSilent", CleanSIMInfoSilent(), TARNVALE_NOT_DONE);
    Expect("RemoveAddOns", RemoveAddOns(), TARNVALE_DONE);
    Expect("UninstallTivraDriver", UninstallTivraDriver(), TARNVALE_DONE);
    Expect("LaunchAppAndWait", LaunchAppAndWait(command), TARNVALE_DONE);
    Expect("ShowBetaLicense (Back)", ShowPageAndPressBack(ShowBetaLicense), TARNVALE_BACK);

    /* Through GetProcAddress: the same functions, the same results. */
    library = GetModuleHandleA("Tarnvale.dll");
    if (library == NULL) {
        printf("FAIL Tarnvale.dll is not loaded\n");
        return 1;
    }
    {
        NoArgumentExport cleanSimInfo = (NoArgumentExport)(AnyFunction)Address(library, "CleanSIMInfo");
        NoArgumentExport cleanSimInfoSilent = (NoArgumentExport)(AnyFunction)Address(library, "CleanSIMInfoSilent");
        NoArgumentExport removeAddOns = (NoArgumentExport)(AnyFunction)Address(library, "RemoveAddOns");
        NoArgumentExport uninstallTivraDriver = (NoArgumentExport)(AnyFunction)Address(library, "UninstallTivraDriver");
        CommandLineExport launchAppAndWait = (CommandLineExport)(AnyFunction)Address(library, "LaunchAppAndWait");
        NoArgumentExport showBetaLicense = (NoArgumentExport)(AnyFunction)Address(library, "ShowBetaLicense");
        if (failures > 0) return 1;

        Expect("same CleanSIMInfo", cleanSimInfo == CleanSIMInfo, 1);
        Expect("same LaunchAppAndWait", launchAppAndWait == LaunchAppAndWait, 1);
        Expect("GetProcAddress CleanSIMInfo", cleanSimInfo(), TARNVALE_NOT_DONE);
        Expect("GetProcAddress CleanSIMInfoSilent", cleanSimInfoSilent(), TARNVALE_NOT_DONE);
        Expect("GetProcAddress RemoveAddOns", removeAddOns(), TARNVALE_DONE);
        Expect("GetProcAddress UninstallTivraDriver", uninstallTivraDriver(), TARNVALE_DONE);
        Expect("GetProcAddress LaunchAppAndWait", launchAppAndWait(command), TARNVALE_DONE);
        Expect("GetProcAddress ShowBetaLicense (Back)", ShowPageAndPressBack(showBetaLicense), TARNVALE_BACK);
    }
    printf("%d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
