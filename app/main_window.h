// The program's entry point, its main window and the version dialog.
#ifndef PELOMI_APP_MAIN_WINDOW_H
#define PELOMI_APP_MAIN_WINDOW_H

#include <windows.h>

// The main window's client area, which the canvas is made to fill (a window of 232 x 255 on Windows 10 at
// 96 dpi).
const int CLIENT_WIDTH = 216;
const int CLIENT_HEIGHT = 196;
const int TITLE_MAX = 100;

extern HINSTANCE appInstance;
extern HWND mainWindow;
extern char windowTitle[TITLE_MAX];
extern char windowClassName[TITLE_MAX];

ATOM RegisterMainClass(HINSTANCE instance);
int CreateMainWindow(HINSTANCE instance, int showCommand);
INT_PTR CALLBACK VersionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
