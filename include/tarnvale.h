/*
 * tarnvale.h - the exports of Tarnvale.dll, for C and C++.
 *
 * Every export uses the __stdcall convention, has an undecorated name in the
 * DLL's export table and returns a 32-bit int. Call them one at a time, on
 * one thread (the setup's own).
 */
#ifndef TARNVALE_H
#define TARNVALE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
#define TARNVALE_DONE      1   /* the step went through */
#define TARNVALE_NOT_DONE  0   /* see each export */
#define TARNVALE_BACK      12  /* ShowBetaLicense: the user pressed Back */

#ifndef TARNVALE_API
#define TARNVALE_API __declspec(dllimport)
#endif

/* Removes what earlier SIM installations left behind; shows a short status
   window. 1 when done, 0 when the product's folder is not found. */
TARNVALE_API int __stdcall CleanSIMInfo(void);

/* The same as CleanSIMInfo, without any window. */
TARNVALE_API int __stdcall CleanSIMInfoSilent(void);

/* Runs the uninstallers of the Quillet and Marlowe add-ons where they are
   installed. Always 1. */
TARNVALE_API int __stdcall RemoveAddOns(void);

/* Shows the licence agreement page. 1 after accept and Next, 12 after Back,
   0 otherwise. */
TARNVALE_API int __stdcall ShowBetaLicense(void);

/* Runs commandLine and waits for its end while the caller's windows stay
   alive. 1 when it was started (it has ended by now), 0 when it could not be
   started. */
TARNVALE_API int __stdcall LaunchAppAndWait(const char* commandLine);

/* Runs the keyboard-filter driver's own setup program in its silent remove
   mode when it is in the product's folder. Always 1. */
TARNVALE_API int __stdcall UninstallTivraDriver(void);

#ifdef __cplusplus
}
#endif

#endif /* TARNVALE_H */
