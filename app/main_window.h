// The program's entry point, its main window and the version dialog.
#ifndef PELOMI_APP_MAIN_WINDOW_H
#define PELOMI_APP_MAIN_WINDOW_H

#include <windows.h>

const int WINDOW_WIDTH = 232;
const int WINDOW_HEIGHT = 255;
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
