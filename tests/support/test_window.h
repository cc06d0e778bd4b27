// A plain top-level window for tests that draw: its client area is exactly the size asked for, and its
// pixels can be read back through the window DC as any Windows program would.
#ifndef PELOMI_TESTS_TEST_WINDOW_H
#define PELOMI_TESTS_TEST_WINDOW_H

#include <windows.h>

#include <cstdint>
#include <vector>

namespace testwin {

// A shown popup window (no frame, no menu) whose client area is width x height, with DefWindowProcA or
// `proc`.
HWND CreateClientWindow(int width, int height, WNDPROC proc = nullptr);

// The client area's pixels as 0x00RRGGBB, top row first, read with BitBlt into a memory bitmap and
// GetDIBits.
std::vector<uint32_t> ReadClient(HWND window, int* width = nullptr, int* height = nullptr);

// The pixels of any DC's surface (width x height from its origin), read the same way.
std::vector<uint32_t> ReadDC(HDC dc, int width, int height);

// Dispatches every message waiting in the thread's queue; returns how many were dispatched.
int PumpMessages();

// Live GDI and USER objects of the process, for leak checks: the layer's handle table, or on Windows
// GetGuiResources.
size_t LiveHandleCount();

}  // namespace testwin

#endif
