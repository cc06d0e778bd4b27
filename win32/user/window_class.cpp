// Window classes: RegisterClassExA, UnregisterClassA, GetClassNameA and the class lookup CreateWindowExA uses.
// Leaves out system classes, class extra bytes, GetClassInfo/SetClassLong and per-module class scopes.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "base/ansi_codepage.h"
#include "user/window_object.h"

namespace w32 {
namespace {

// Application class atoms live in 0xC000..0xFFFF, like RegisterClass atoms on Windows.
constexpr ATOM kFirstClassAtom = 0xC000;

// 48 is the record's size in the 32-bit build, which a program may spell out instead of sizeof.
constexpr UINT kWndClassExSize32 = 48;

struct ClassRegistry {
    std::mutex lock;
    std::vector<std::shared_ptr<WindowClass>> classes;
    unsigned nextAtom = kFirstClassAtom;
};

ClassRegistry& Registry() {
    static ClassRegistry* registry = new ClassRegistry;  // never destroyed: classes outlive static exit
    return *registry;
}

bool SameClassName(const std::string& a, const char* b) {
    size_t length = std::strlen(b);
    if (a.size() != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::vector<std::shared_ptr<WindowClass>>::iterator FindLocked(ClassRegistry& registry, LPCSTR nameOrAtom) {
    return std::find_if(registry.classes.begin(), registry.classes.end(),
                        [nameOrAtom](const std::shared_ptr<WindowClass>& windowClass) {
                            if (IS_INTRESOURCE(nameOrAtom))
                                return windowClass->atom ==
                                       static_cast<ATOM>(reinterpret_cast<uintptr_t>(nameOrAtom));
                            return SameClassName(windowClass->name, nameOrAtom);
                        });
}

}  // namespace

std::shared_ptr<WindowClass> FindWindowClass(LPCSTR nameOrAtom) {
    if (nameOrAtom == nullptr) return nullptr;
    ClassRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = FindLocked(registry, nameOrAtom);
    return found == registry.classes.end() ? nullptr : *found;
}

}  // namespace w32

using namespace w32;

extern "C" ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass) {
    // Our choice: a class without a window procedure or a name string is refused.
    if (windowClass == nullptr ||
        (windowClass->cbSize != sizeof(WNDCLASSEXA) && windowClass->cbSize != kWndClassExSize32) ||
        windowClass->lpfnWndProc == nullptr || windowClass->lpszClassName == nullptr ||
        IS_INTRESOURCE(windowClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto made = std::make_shared<WindowClass>();
    made->name = windowClass->lpszClassName;
    made->style = windowClass->style;
    made->proc = windowClass->lpfnWndProc;
    made->instance = windowClass->hInstance;
    made->icon = windowClass->hIcon;
    made->smallIcon = windowClass->hIconSm;
    made->cursor = windowClass->hCursor;
    made->background = windowClass->hbrBackground;
    if (windowClass->lpszMenuName != nullptr && !IS_INTRESOURCE(windowClass->lpszMenuName)) {
        made->menuNameText = windowClass->lpszMenuName;
        made->menuName = made->menuNameText.c_str();
    } else {
        made->menuName = windowClass->lpszMenuName;
    }

    ClassRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    if (FindLocked(registry, windowClass->lpszClassName) != registry.classes.end()) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    if (registry.nextAtom > 0xFFFF) {  // atoms are never reused within a run
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    made->atom = static_cast<ATOM>(registry.nextAtom++);
    registry.classes.push_back(made);
    return made->atom;
}

// There is one module, so `instance` does not narrow the search.
extern "C" BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    (void)instance;
    if (className == nullptr) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    ClassRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = FindLocked(registry, className);
    if (found == registry.classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if ((*found)->windowCount.load() > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    registry.classes.erase(found);
    return TRUE;
}

extern "C" int WINAPI GetClassNameA(HWND window, LPSTR className, int maxCount) {
    WindowObject* object = FindWindowObject(window);
    if (object == nullptr) return 0;
    return CopyAnsiToBuffer(object->windowClass->name, className, maxCount);
}
