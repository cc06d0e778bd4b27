// A plain top-level window for tests that draw, and reading its client area back through GDI.
#include "test_window.h"

#ifndef _WIN32
#include "base/handle_table.h"
#endif

namespace testwin {

HWND CreateClientWindow(int width, int height, WNDPROC proc) {
    static const char* className = "PelomiTestClientWindow";
    static const char* customClassName = "PelomiTestClientWindowCustom";
    const char* name = proc ? customClassName : className;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = proc ? proc : DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = name;
    if (proc) UnregisterClassA(name, windowClass.hInstance);
    RegisterClassExA(&windowClass);
    // Shown: on Windows only the visible part of a window has pixels to read back.
    return CreateWindowExA(0, name, "test", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
}

std::vector<uint32_t> ReadDC(HDC source, int width, int height) {
    HDC memoryDC = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ old = SelectObject(memoryDC, bitmap);
    BitBlt(memoryDC, 0, 0, width, height, source, 0, 0, SRCCOPY);
    SelectObject(memoryDC, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    GetDIBits(memoryDC, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;  // the top byte is left open by Windows
    DeleteDC(memoryDC);
    DeleteObject(bitmap);
    return pixels;
}

std::vector<uint32_t> ReadClient(HWND window, int* width, int* height) {
    RECT client = {};
    GetClientRect(window, &client);
    HDC windowDC = GetDC(window);
    std::vector<uint32_t> pixels = ReadDC(windowDC, client.right, client.bottom);
    ReleaseDC(window, windowDC);
    if (width) *width = client.right;
    if (height) *height = client.bottom;
    return pixels;
}

int PumpMessages() {
    MSG msg;
    int count = 0;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        ++count;
    }
    return count;
}

size_t LiveHandleCount() {
#ifdef _WIN32
    HANDLE process = GetCurrentProcess();
    return GetGuiResources(process, GR_GDIOBJECTS) + GetGuiResources(process, GR_USEROBJECTS);
#else
    return w32::LiveHandleCount(w32::HandleKind::Any);
#endif
}

}  // namespace testwin
