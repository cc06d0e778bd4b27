// The program's entry point, its main window procedure and the version dialog.
#include "main_window.h"

#include <string.h>

#include "capture_cycle.h"
#include "level.h"
#include "meter_state.h"
#include "picture_bank.h"
#include "resource.h"
#include "sheet_dialog.h"

HINSTANCE appInstance;
HWND mainWindow;
char windowTitle[TITLE_MAX];
char windowClassName[TITLE_MAX];

ATOM RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass;
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    windowClass.lpszClassName = windowClassName;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN_SMALL));
    return RegisterClassExA(&windowClass);
}

int CreateMainWindow(HINSTANCE instance, int showCommand)
{
    appInstance = instance;
    // The window around the client area the canvas is made for: 232 x 255 on Windows 10 at 96 dpi. On a
    // scaled screen the program is DPI aware (its picture stays sharp), so the frame, caption and menu bar
    // grow while the canvas keeps its pixels, and the window grows by as much.
    RECT frame = {0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, TRUE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    mainWindow = CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, width,
                                 height, NULL, NULL, instance, NULL);
    if (mainWindow == NULL)
        return 0;
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);
    return 1;
}

INT_PTR CALLBACK VersionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

static void OnCreate(HWND window)
{
    strcpy(sheetPath, DEFAULT_SHEET);
    pictureBank.Attach(appInstance, window);
    pictureBank.Load(0, sheetPath, false, 0);
    ResetForSheet();
    StartCapture(window);
}

static void OnDestroy()
{
    StopCapture();
    FreeCaptureBuffer();
    pictureBank.Detach();
    PostQuitMessage(0);
}

static void OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_VERSION:
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_VERSION), window, VersionDialogProc, 0);
        return 0;
    case IDM_QUIT:
        DestroyWindow(window);
        return 0;
    case IDM_OPEN_SHEET:
        OpenSheet(window);
        return 0;
    }
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case WM_LBUTTONUP:
        AdvanceRow();
        return 0;
    case MM_WIM_OPEN:
        OnCaptureOpened();
        return 0;
    case MM_WIM_CLOSE:
        OnCaptureClosed(window);
        return 0;
    case MM_WIM_DATA:
        OnCaptureData();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    (void)previous;
    (void)commandLine;
    LoadStringA(instance, IDS_WINDOW_TITLE, windowTitle, TITLE_MAX);
    LoadStringA(instance, IDS_WINDOW_CLASS, windowClassName, TITLE_MAX);
    RegisterMainClass(instance);
    if (!CreateMainWindow(instance, showCommand))
        return 0;
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    InitStepThresholds();
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        if (!TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return (int)msg.wParam;
}
