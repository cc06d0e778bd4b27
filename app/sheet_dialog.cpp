// Opening a picture sheet: the file-open dialog, then slot 0 reloaded and the meter back on the first row.
#include "sheet_dialog.h"

#include <string.h>

#include "meter_state.h"
#include "picture_bank.h"

char sheetPath[SHEET_PATH_MAX];
char dialogFile[SHEET_PATH_MAX];
char dialogFileTitle[FILE_TITLE_MAX];

static OPENFILENAMEA SheetDialogRecord()
{
    OPENFILENAMEA record;
    memset(&record, 0, sizeof(record));
    record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    record.lpstrFilter = "ビットマップファイル(*.BMP)\0*.bmp\0ぜんぶ(*.*)\0*.*\0";
    record.lpstrFile = dialogFile;
    record.nMaxFile = SHEET_PATH_MAX;
    record.lpstrFileTitle = dialogFileTitle;
    record.nMaxFileTitle = FILE_TITLE_MAX;
    record.lpstrTitle = "とっととファイルを選べ。";
    record.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    record.lpstrDefExt = "bmp";
    return record;
}

OPENFILENAMEA sheetDialog = SheetDialogRecord();

// The dialog has no owner, so the menu stays usable while it is open; a second open command then does
// nothing rather than stacking a second dialog on the same record.
static bool dialogOpen;

void OpenSheet(HWND window)
{
    if (dialogOpen)
        return;
    dialogOpen = true;
    pictureBank.Forget(0);
    sheetDialog.lpstrFile = dialogFile;
    BOOL chosen = GetOpenFileNameA(&sheetDialog);
    dialogOpen = false;
    // Closing the main window while the dialog was open detached the bank and freed the capture buffer.
    if (!IsWindow(window))
        return;
    if (chosen)
        memcpy(sheetPath, dialogFile, sizeof(sheetPath));
    pictureBank.Load(0, sheetPath, false, 0);
    ResetForSheet();
}
