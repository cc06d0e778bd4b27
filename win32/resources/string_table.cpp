// LoadStringA: strings from RT_STRING blocks of sixteen, converted to the ANSI code page (UTF-8).
// Leaves out LoadStringW's read-only pointer form (cchBufferMax 0), which the A function does not have.
#include <windows.h>

#include "base/ansi_codepage.h"
#include "resources/res_file.h"

namespace w32 {
namespace {

// The string `id` of the program's string table; false when its block is missing, malformed or the slot
// is empty (Windows cannot tell an empty string from a missing one either).
bool FindResourceString(HINSTANCE instance, UINT id, std::u16string* text) {
    ResourceEntry block;
    // String ids live in blocks of sixteen: block id / 16 + 1, slot id % 16.
    WORD blockId = static_cast<WORD>((id >> 4) + 1);
    if (!FindModuleResource(instance, ResourceName::FromAnsi(RT_STRING), ResourceName::Ordinal(blockId), &block))
        return false;
    ResourceCursor cursor(block.data, block.size);
    for (UINT slot = 0; slot <= (id & 15); ++slot) {
        WORD length;
        const uint8_t* chars;
        if (!cursor.ReadWord(&length) || !cursor.ReadBytes(size_t{length} * 2, &chars)) {
            SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
            return false;
        }
        if (slot != (id & 15)) continue;
        if (length == 0) break;
        text->resize(length);
        for (size_t i = 0; i < length; ++i)
            (*text)[i] = static_cast<char16_t>(chars[2 * i] | (chars[2 * i + 1] << 8));
        return true;
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
}

}  // namespace
}  // namespace w32

// Our choice where the A function's documentation ends ("this parameter may not be zero"): a null buffer
// or a bufferMax below 1 fails with ERROR_INVALID_PARAMETER and writes nothing. A missing string leaves
// an empty string in the buffer and returns 0. Truncation never cuts a UTF-8 sequence, so the count
// returned (in bytes, the ANSI "characters") can be less than bufferMax - 1.
extern "C" int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
    if (buffer == nullptr || bufferMax < 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string text;
    if (!w32::FindResourceString(instance, id, &text)) {
        buffer[0] = '\0';
        return 0;
    }
    return w32::CopyAnsiToBuffer(w32::Utf16ToAnsi(text), buffer, bufferMax);
}
