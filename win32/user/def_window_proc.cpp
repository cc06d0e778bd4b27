// DefWindowProcA: Windows' default handling of the messages this layer sends or queues.
// Leaves out non-client hit testing and painting, the system menu, menu mnemonics, cursors and icons.
#include <windows.h>

#include "base/ansi_codepage.h"
#include "user/display_backend.h"
#include "user/window_object.h"

namespace w32 {
namespace {

void ShrinkToClient(const WindowObject* window, RECT* rect) {
    FrameInsets frame = NonClientInsets(window->style, window->exStyle, window->HasMenuBar());
    rect->left += frame.left;
    rect->top += frame.top;
    rect->right -= frame.right;
    rect->bottom -= frame.bottom;
}

LRESULT EraseBackground(const WindowObject* object, HDC dc) {
    HBRUSH brush = object->windowClass->background;
    if (brush == nullptr) return 0;
    // Inside BeginPaint only the update region is erased (Windows clips the paint DC to it).
    if (!object->erasing) {
        RECT area{0, 0, object->ClientWidth(), object->ClientHeight()};
        return FillRect(dc, &area, brush) != 0 ? 1 : 0;
    }
    const std::vector<RECT> parts = object->eraseParts;
    for (const RECT& part : parts)
        if (FillRect(dc, &part, brush) == 0) return 0;
    return 1;
}

HWND TopLevelAncestor(WindowObject* object) {
    while (object->IsChild()) {
        WindowObject* parent = PeekWindowObject(object->parent);
        if (parent == nullptr) break;
        object = parent;
    }
    return object->handle;
}

}  // namespace
}  // namespace w32

using namespace w32;

extern "C" LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowObject* object = PeekWindowObject(window);
    if (object == nullptr) return 0;
    switch (message) {
    case WM_NCCREATE: {
        // The window text comes from here: a procedure that skips DefWindowProcA keeps an empty title.
        auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        if (create != nullptr && create->lpszName != nullptr && !IS_INTRESOURCE(create->lpszName))
            object->text = create->lpszName;
        return TRUE;
    }
    case WM_NCCALCSIZE:
        if (lParam != 0) {
            RECT* rect =
                wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
            ShrinkToClient(object, rect);
        }
        return 0;
    case WM_WINDOWPOSCHANGED: {
        auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (pos == nullptr) return 0;
        if (!(pos->flags & kSwpClientMoveUnchanged)) SendMessageA(window, WM_MOVE, 0, ClientOriginParam(object));
        object = PeekWindowObject(window);
        if (object != nullptr && !(pos->flags & kSwpClientSizeUnchanged))
            SendMessageA(window, WM_SIZE, SIZE_RESTORED, ClientSizeParam(object));
        return 0;
    }
    case WM_SETTEXT:
        object->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
        if (object->announced) CurrentDisplay().WindowTextChanged(window, object->text.c_str());
        return TRUE;
    case WM_GETTEXT:
        return CopyAnsiToBuffer(object->text, reinterpret_cast<char*>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(object->text.size());
    case WM_NCACTIVATE:
        return TRUE;  // let the activation change go ahead
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_ERASEBKGND:
        return EraseBackground(object, reinterpret_cast<HDC>(wParam));
    case WM_PAINT: {
        PAINTSTRUCT paint;
        if (BeginPaint(window, &paint) != nullptr) EndPaint(window, &paint);
        return 0;
    }
    case WM_SYSKEYDOWN:
        // Alt+F4 (bit 29: Alt held) asks the top-level window to close, by a posted WM_SYSCOMMAND.
        if (wParam == VK_F4 && (lParam & (1 << 29)))
            PostMessageA(TopLevelAncestor(object), WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    default:
        return 0;
    }
}
