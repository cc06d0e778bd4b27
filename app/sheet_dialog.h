// Opening a picture sheet through the file-open dialog.
#ifndef PELOMI_APP_SHEET_DIALOG_H
#define PELOMI_APP_SHEET_DIALOG_H

#include <windows.h>
#include <commdlg.h>

const int SHEET_PATH_MAX = MAX_PATH;
const int FILE_TITLE_MAX = 64;
#define DEFAULT_SHEET "default.bmp"

extern char sheetPath[SHEET_PATH_MAX];
extern char dialogFile[SHEET_PATH_MAX];
extern char dialogFileTitle[FILE_TITLE_MAX];
extern OPENFILENAMEA sheetDialog;

void OpenSheet(HWND window);

#endif
