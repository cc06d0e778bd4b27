// Umbrella header of the Win32 API subset this layer provides: base types, kernel error codes, GDI and USER.
// Leaves out every SDK area the program does not call; wave input and common dialogs have their own headers.
#ifndef PELOMI_WIN32_WINDOWS_H
#define PELOMI_WIN32_WINDOWS_H

#include "windef.h"
#include "winbase.h"
#include "wingdi.h"
#include "winuser.h"

#endif
