// The SDK header resource scripts include, for compiling them on Linux: the style, control and language
// constants a script names, with the SDK's values. Leaves out every C declaration (scripts cannot parse them).
#ifndef PELOMI_WIN32_WINRESRC_H
#define PELOMI_WIN32_WINRESRC_H

// Languages.
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define LANG_JAPANESE 0x11
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01

// Window and dialog styles.
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_DLGMODALFRAME 0x00000001L
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L

// Control styles.
#define SS_LEFT 0x00000000L
#define SS_ICON 0x00000003L
#define SS_NOPREFIX 0x00000080L
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L

// Standard dialog command identifiers.
#define IDOK 1
#define IDCANCEL 2

// Virtual keys for VIRTKEY accelerators.
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_F4 0x73

#endif
