// The one table behind every handle the layer gives out: small tagged objects, each with a kind and a
// generation that is never reused within a run, so a deleted or foreign handle is refused, never followed.
// Leaves out handle sharing between processes and handle inheritance.
#ifndef PELOMI_WIN32_HANDLE_TABLE_H
#define PELOMI_WIN32_HANDLE_TABLE_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace w32 {

enum class HandleKind : uint8_t {
    Any = 0,  // only as a lookup filter
    DeviceContext,
    Bitmap,
    Brush,
    Window,
    Menu,
    Accelerators,
    Icon,
    Cursor,
    WaveIn,
    Module,
    KindCount
};

struct HandleObject {
    explicit HandleObject(HandleKind k) : kind(k) {}
    virtual ~HandleObject() = default;
    HandleObject(const HandleObject&) = delete;
    HandleObject& operator=(const HandleObject&) = delete;
    const HandleKind kind;
};

// Stores the object and returns its handle value (never 0). The table owns the object until removed.
uintptr_t InsertHandle(std::unique_ptr<HandleObject> object);

// The object behind a handle when it is live and of the kind asked for (Any accepts every kind); else null.
// Objects are removed only on the thread that owns them, so a pointer found there stays valid until it
// removes the handle itself.
HandleObject* LookupHandle(const void* handle, HandleKind kind);

// Takes the object out of the table; null when the handle is not live or not of that kind.
std::unique_ptr<HandleObject> RemoveHandle(const void* handle, HandleKind kind);

// Live handles of one kind (Any: of every kind); tests use it to find leaks.
size_t LiveHandleCount(HandleKind kind);

template <class T>
T* Lookup(const void* handle) {
    return static_cast<T*>(LookupHandle(handle, T::Kind));
}

template <class H>
H HandleFromValue(uintptr_t value) {
    return reinterpret_cast<H>(value);
}

template <class H, class T>
H InsertAs(std::unique_ptr<T> object) {
    return HandleFromValue<H>(InsertHandle(std::move(object)));
}

}  // namespace w32

#endif
