// Identifiers of the program's resources and of the commands its menu and accelerators send.
// Shared by the resource script and the C++ sources; holds nothing else.
#ifndef PELOMI_APP_RESOURCE_H
#define PELOMI_APP_RESOURCE_H

// String table.
#define IDS_WINDOW_TITLE 103
#define IDS_WINDOW_CLASS 109

// Menu, accelerator table, icon groups and the version dialog.
#define IDR_MAIN_MENU 109
#define IDR_MAIN_ACCEL 109
#define IDI_MAIN 107
#define IDI_MAIN_SMALL 108
#define IDD_VERSION 103

// Commands (the low word of WM_COMMAND's wParam).
#define IDM_VERSION 104
#define IDM_QUIT 105
#define IDM_OPEN_SHEET 32773

// Dialog controls that are never addressed.
#define IDC_STATIC -1

#endif
