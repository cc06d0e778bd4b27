// Parsing RT_DIALOG templates, both DLGTEMPLATE and DLGTEMPLATEEX, with bounds checks on every field.
// Leaves out DS_SHELLFONT's font substitution; the face name is reported as stored.
#include "resources/dialog_template.h"

#include "base/ansi_codepage.h"
#include "resources/res_file.h"

namespace w32 {
namespace {

constexpr WORD kExtendedSignature = 0xFFFF;

bool ReadTemplateName(ResourceCursor& cursor, TemplateName* name) {
    ResourceName raw;
    if (!cursor.ReadNameOrOrdinal(&raw)) return false;
    name->isOrdinal = raw.isOrdinal;
    name->ordinal = raw.isOrdinal ? raw.ordinal : 0;
    name->text = raw.isOrdinal ? std::string() : Utf16ToAnsi(raw.text);
    return true;
}

bool ReadAnsiString(ResourceCursor& cursor, std::string* text) {
    std::u16string raw;
    if (!cursor.ReadString(&raw)) return false;
    *text = Utf16ToAnsi(raw);
    return true;
}

bool ReadRectangle(ResourceCursor& cursor, short* x, short* y, short* cx, short* cy) {
    return cursor.ReadShort(x) && cursor.ReadShort(y) && cursor.ReadShort(cx) && cursor.ReadShort(cy);
}

// Class, text and creation data: the tail both item forms share.
bool ReadItemTail(ResourceCursor& cursor, DialogItemTemplate* item) {
    WORD creationSize;
    const uint8_t* creation;
    if (!ReadTemplateName(cursor, &item->windowClass) || !ReadTemplateName(cursor, &item->text) ||
        !cursor.ReadWord(&creationSize) || !cursor.ReadBytes(creationSize, &creation))
        return false;
    item->creationData.assign(creation, creation + creationSize);
    return true;
}

bool ReadItem(ResourceCursor& cursor, bool extended, DialogItemTemplate* item) {
    if (!cursor.Align(4)) return false;
    if (extended) {
        return cursor.ReadDword(&item->helpId) && cursor.ReadDword(&item->exStyle) &&
               cursor.ReadDword(&item->style) && ReadRectangle(cursor, &item->x, &item->y, &item->cx, &item->cy) &&
               cursor.ReadDword(&item->id) && ReadItemTail(cursor, item);
    }
    WORD id;
    if (!cursor.ReadDword(&item->style) || !cursor.ReadDword(&item->exStyle) ||
        !ReadRectangle(cursor, &item->x, &item->y, &item->cx, &item->cy) || !cursor.ReadWord(&id))
        return false;
    item->id = id;
    return ReadItemTail(cursor, item);
}

bool ReadHeader(ResourceCursor& cursor, DialogTemplate* dialog, WORD* itemCount) {
    WORD first, second;
    if (!cursor.ReadWord(&first) || !cursor.ReadWord(&second)) return false;
    dialog->extended = first == 1 && second == kExtendedSignature;
    if (dialog->extended) {
        if (!cursor.ReadDword(&dialog->helpId) || !cursor.ReadDword(&dialog->exStyle) ||
            !cursor.ReadDword(&dialog->style))
            return false;
    } else {
        dialog->style = first | (DWORD{second} << 16);
        if (!cursor.ReadDword(&dialog->exStyle)) return false;
    }
    if (!cursor.ReadWord(itemCount) || !ReadRectangle(cursor, &dialog->x, &dialog->y, &dialog->cx, &dialog->cy) ||
        !ReadTemplateName(cursor, &dialog->menu) || !ReadTemplateName(cursor, &dialog->windowClass) ||
        !ReadAnsiString(cursor, &dialog->title))
        return false;
    dialog->hasFont = (dialog->style & DS_SETFONT) != 0;
    if (!dialog->hasFont) return true;
    if (!cursor.ReadWord(&dialog->pointSize)) return false;
    if (dialog->extended) {
        const uint8_t* italicAndCharset;
        if (!cursor.ReadWord(&dialog->weight) || !cursor.ReadBytes(2, &italicAndCharset)) return false;
        dialog->italic = italicAndCharset[0];
        dialog->charset = italicAndCharset[1];
    }
    return ReadAnsiString(cursor, &dialog->faceName);
}

}  // namespace

bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* dialog) {
    ResourceCursor cursor(data, size);
    DialogTemplate parsed;
    WORD itemCount;
    if (!ReadHeader(cursor, &parsed, &itemCount)) return false;
    for (WORD i = 0; i < itemCount; ++i) {
        DialogItemTemplate item;
        if (!ReadItem(cursor, parsed.extended, &item)) return false;
        parsed.items.push_back(std::move(item));
    }
    *dialog = std::move(parsed);
    return true;
}

bool LoadDialogTemplate(HINSTANCE instance, LPCSTR name, DialogTemplate* dialog) {
    ResourceEntry entry;
    if (!FindModuleResource(instance, ResourceName::FromAnsi(RT_DIALOG), ResourceName::FromAnsi(name), &entry))
        return false;
    if (!ParseDialogTemplate(entry.data, entry.size, dialog)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    return true;
}

}  // namespace w32
