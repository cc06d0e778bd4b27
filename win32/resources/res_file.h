// Reading compiled resources (.res): a bounds-checked cursor over little-endian resource data, the walk over
// a .res file's entries, and the lookup FindResource does (type + name, language preference).
// Leaves out PE resource directories; the Linux build embeds the .res file itself.
#ifndef PELOMI_WIN32_RES_FILE_H
#define PELOMI_WIN32_RES_FILE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/handle_table.h"

namespace w32 {

// Language of the program's resources (Japanese); preferred over any other when a name has several.
constexpr WORD kPreferredLanguage = 0x0411;

// A type or name as resources store them: an ordinal (0xFFFF prefix) or a UTF-16 string.
struct ResourceName {
    bool isOrdinal = true;
    WORD ordinal = 0;
    std::u16string text;

    static ResourceName Ordinal(WORD value) {
        ResourceName name;
        name.ordinal = value;
        return name;
    }
    // The A-function form: MAKEINTRESOURCE values, "#123" strings, or names compared without case.
    static ResourceName FromAnsi(LPCSTR name);
    bool Matches(const ResourceName& other) const;
};

// Reads little-endian values from a byte range and never past its end: every read reports failure
// instead, and the cursor stays where it was.
class ResourceCursor {
public:
    ResourceCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool ReadWord(WORD* value);
    bool ReadDword(DWORD* value);
    bool ReadShort(short* value);
    bool ReadBytes(size_t count, const uint8_t** bytes);
    bool Skip(size_t count);
    // A NUL-terminated UTF-16 string.
    bool ReadString(std::u16string* text);
    // The sz_Or_Ord form of menus, dialogs and .res headers: 0xFFFF + ordinal, or a NUL-terminated string.
    bool ReadNameOrOrdinal(ResourceName* name);
    // Moves to the next multiple of `alignment` counted from the start of the range.
    bool Align(size_t alignment);

    size_t offset() const { return offset_; }
    size_t remaining() const { return size_ - offset_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

struct ResourceEntry {
    ResourceName type;
    ResourceName name;
    WORD language = 0;
    WORD memoryFlags = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Calls `visit` for every entry of a .res file in file order (the leading empty entry included), stopping
// early when it returns false. Returns false when the bytes end inside an entry or a header is malformed;
// the entries before that point have been visited.
bool ForEachResourceEntry(const uint8_t* bytes, size_t size, const std::function<bool(const ResourceEntry&)>& visit);

// FindResource on the program's module: `instance` null or the program's module. Picks the entry in
// kPreferredLanguage, else the first entry of that type and name. On failure sets the last error
// (ERROR_INVALID_HANDLE for a handle that is no module, ERROR_RESOURCE_DATA_NOT_FOUND when the module has
// no resources, ERROR_RESOURCE_TYPE_NOT_FOUND / ERROR_RESOURCE_NAME_NOT_FOUND) and returns false.
bool FindModuleResource(HINSTANCE instance, const ResourceName& type, const ResourceName& name, ResourceEntry* found);

// Shared handles of loaded resources: LoadIconA and LoadAcceleratorsA give the same handle for the same
// resource, as Windows does, until the program's resources are replaced. Find returns 0 when there is none
// or it is no longer live as `kind`. Insert puts `object` in the handle table and remembers its handle for
// the resource; 0 with ERROR_NOT_ENOUGH_MEMORY when the table is full.
uintptr_t FindSharedResourceHandle(HINSTANCE instance, const ResourceName& type, const ResourceName& name,
                                   HandleKind kind);
uintptr_t InsertSharedResourceHandle(HINSTANCE instance, const ResourceName& type, const ResourceName& name,
                                     std::unique_ptr<HandleObject> object);

}  // namespace w32

#endif
