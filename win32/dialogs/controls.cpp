// The "Button" (push and default push) and "Static" (text, SS_ICON) control classes of dialogs: clicks
// become BN_CLICKED, icon statics load, keep and paint their icon. Leaves out check boxes, radio buttons,
// keyboard clicks, BM_ and most STM_ messages, text drawing (the display backend shows control text).
#include <windows.h>

#include <vector>

#include "dialogs/dialog_internal.h"
#include "resources/icon_object.h"
#include "user/window_object.h"

namespace w32 {
namespace {

// SM_CXICON x SM_CYICON at 96 dpi: the size LoadIconA's icons are shown at.
constexpr int kIconSide = 32;
constexpr DWORD kStaticTypeMask = 0x1F;

struct ControlState {
    bool pressed = false;    // Button: the left button went down on it and has not come up yet
    HICON icon = nullptr;    // Static with SS_ICON
};

WindowStateMap<ControlState>& Controls() {
    static auto* controls = new WindowStateMap<ControlState>;  // never destroyed: windows may outlive statics
    return *controls;
}

ControlState StateOf(HWND control) {
    ControlState state;
    Controls().Find(control, &state);
    return state;
}

template <class Edit>
void ChangeState(HWND control, Edit change) {
    Controls().Change(control, true, change);
}

void ForgetState(HWND control) { Controls().Erase(control); }

DWORD StyleOf(HWND window) {
    WindowObject* object = PeekWindowObject(window);
    return object != nullptr ? object->style : 0;
}

bool InsideClient(HWND window, LPARAM point) {
    RECT client;
    if (!GetClientRect(window, &client)) return false;
    int x = GET_X_LPARAM(point);
    int y = GET_Y_LPARAM(point);
    return x >= client.left && x < client.right && y >= client.top && y < client.bottom;
}

// A push button clicks when the left button comes up over it after going down on it.
void ButtonReleased(HWND button, LPARAM point) {
    bool wasPressed = StateOf(button).pressed;
    ChangeState(button, [](ControlState& state) { state.pressed = false; });
    if (!wasPressed || !InsideClient(button, point)) return;
    HWND parent = GetParent(button);
    if (parent != nullptr)
        SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// Windows sizes an icon static to its icon (unless SS_CENTERIMAGE or SS_REALSIZECONTROL, which we leave
// out); a static without an icon keeps the size it was made with.
HICON SetStaticIcon(HWND control, HICON icon) {
    HICON previous = StateOf(control).icon;
    ChangeState(control, [icon](ControlState& state) { state.icon = icon; });
    if (icon != nullptr)
        SetWindowPlacement(control, 0, 0, kIconSide, kIconSide, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(control, nullptr, TRUE);
    return previous;
}

// The icon image scaled (nearest pixel) to the icon side and laid over the dialog face colour.
std::vector<uint32_t> ComposeIcon(const IconImage& image, uint32_t face) {
    std::vector<uint32_t> pixels(kIconSide * kIconSide);
    for (int y = 0; y < kIconSide; ++y) {
        for (int x = 0; x < kIconSide; ++x) {
            uint32_t source = image.pixels[static_cast<size_t>(y * image.height / kIconSide) * image.width +
                                           x * image.width / kIconSide];
            uint32_t alpha = source >> 24;
            uint32_t mixed = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                uint32_t over = (source >> shift) & 0xFF;
                uint32_t under = (face >> shift) & 0xFF;
                mixed |= ((over * alpha + under * (255 - alpha) + 127) / 255) << shift;
            }
            pixels[static_cast<size_t>(y) * kIconSide + x] = mixed;
        }
    }
    return pixels;
}

void PaintStatic(HWND control) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(control, &paint);
    if (dc == nullptr) return;
    IconImage image;
    uint32_t face = 0;
    HICON icon = StateOf(control).icon;
    if ((StyleOf(control) & kStaticTypeMask) == SS_ICON && icon != nullptr && GetIconImage(icon, kIconSide, &image) &&
        image.width > 0 && image.height > 0 &&
        SystemBrushPixel(reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_BTNFACE + 1)), &face)) {
        std::vector<uint32_t> pixels = ComposeIcon(image, face);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = kIconSide;
        info.bmiHeader.biHeight = -kIconSide;  // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        StretchDIBits(dc, 0, 0, kIconSide, kIconSide, 0, 0, kIconSide, kIconSide, pixels.data(), &info,
                      DIB_RGB_COLORS, SRCCOPY);
    }
    EndPaint(control, &paint);
}

}  // namespace

LRESULT CALLBACK ButtonWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:  // a push button takes a double click as a second click
        ChangeState(window, [](ControlState& state) { state.pressed = true; });
        return 0;
    case WM_LBUTTONUP:
        ButtonReleased(window, lParam);
        return 0;
    case WM_NCDESTROY:
        ForgetState(window);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The icon of an SS_ICON static is named by its text: an integer resource from a template's ordinal, or a
// string; it comes from the module the control was created with.
LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool iconStatic = (StyleOf(window) & kStaticTypeMask) == SS_ICON;
    switch (message) {
    case WM_CREATE: {
        auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        if (iconStatic && create != nullptr && create->lpszName != nullptr &&
            (IS_INTRESOURCE(create->lpszName) || create->lpszName[0] != '\0')) {
            if (HICON icon = LoadIconA(create->hInstance, create->lpszName)) SetStaticIcon(window, icon);
        }
        return 0;
    }
    // Our choice: STM_SETICON takes null or a live icon (anything else changes nothing and returns 0), and
    // both STM_ messages answer 0 on statics without SS_ICON.
    case STM_SETICON: {
        HICON icon = reinterpret_cast<HICON>(wParam);
        if (!iconStatic || (icon != nullptr && LookupHandle(icon, HandleKind::Icon) == nullptr)) return 0;
        return reinterpret_cast<LRESULT>(SetStaticIcon(window, icon));
    }
    case STM_GETICON:
        return iconStatic ? reinterpret_cast<LRESULT>(StateOf(window).icon) : 0;
    case WM_PAINT:
        PaintStatic(window);
        return 0;
    case WM_NCDESTROY:
        ForgetState(window);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace w32
