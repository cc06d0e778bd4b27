// LoadIconA and LoadCursorA: icon groups from RT_GROUP_ICON/RT_ICON decoded to 32-bit images, the system
// application icon and the stock arrow cursor. Leaves out cursors from resources and other stock shapes.
#include <windows.h>

#include <memory>

#include "base/handle_table.h"
#include "resources/icon_object.h"
#include "resources/res_file.h"

namespace w32 {
namespace {

constexpr WORD kIdiApplication = 32512;
constexpr WORD kIdcArrow = 32512;
constexpr WORD kGroupIconType = 1;  // GRPICONDIR idType: icons (2 would be cursors)
constexpr int kMaxIconSide = 256;

uint32_t Opaque(uint8_t r, uint8_t g, uint8_t b) {
    return 0xFF000000u | (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
}

// A colour-table or direct pixel of row `bits` at column x.
uint32_t DibPixel(const uint8_t* bits, int x, int bitsPerPixel, const uint8_t* palette, size_t paletteSize) {
    size_t index;
    switch (bitsPerPixel) {
        case 1: index = (bits[x / 8] >> (7 - x % 8)) & 1; break;
        case 4: index = (bits[x / 2] >> (x % 2 ? 0 : 4)) & 0xF; break;
        case 8: index = bits[x]; break;
        case 24: return Opaque(bits[3 * x + 2], bits[3 * x + 1], bits[3 * x]);
        default: {  // 32: BGRA
            const uint8_t* p = bits + 4 * x;
            return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
        }
    }
    if (index >= paletteSize) return Opaque(0, 0, 0);
    const uint8_t* quad = palette + 4 * index;
    return Opaque(quad[2], quad[1], quad[0]);
}

// The system's application icon: a small window with a navy title bar, drawn here.
std::unique_ptr<IconObject> ApplicationIcon() {
    auto icon = std::make_unique<IconObject>();
    for (int size : {32, 16}) {
        IconImage image;
        image.width = image.height = size;
        image.bitsPerPixel = 4;
        int margin = size / 16, titleEnd = size / 4 + margin;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                bool inside = x >= margin && x < size - margin && y >= margin && y < size - margin;
                bool border = x == margin || x == size - margin - 1 || y == margin || y == size - margin - 1;
                uint32_t pixel = 0;  // transparent outside the window
                if (inside && border)
                    pixel = Opaque(0, 0, 0);
                else if (inside)
                    pixel = y < titleEnd ? Opaque(0, 0, 0x80) : Opaque(0xFF, 0xFF, 0xFF);
                image.pixels.push_back(pixel);
            }
        }
        icon->images.push_back(std::move(image));
    }
    return icon;
}

bool LoadIconGroup(HINSTANCE instance, const ResourceName& name, IconObject* icon) {
    ResourceEntry group;
    if (!FindModuleResource(instance, ResourceName::FromAnsi(RT_GROUP_ICON), name, &group)) return false;
    ResourceCursor cursor(group.data, group.size);
    WORD reserved, type, count;
    if (!cursor.ReadWord(&reserved) || !cursor.ReadWord(&type) || !cursor.ReadWord(&count) ||
        type != kGroupIconType) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    for (WORD i = 0; i < count; ++i) {
        // GRPICONDIRENTRY: width, height, colours, reserved, planes, bit count, bytes, then the RT_ICON id.
        WORD id;
        if (!cursor.Skip(12) || !cursor.ReadWord(&id)) break;
        ResourceEntry data;
        IconImage image;
        if (FindModuleResource(instance, ResourceName::FromAnsi(RT_ICON), ResourceName::Ordinal(id), &data) &&
            DecodeIconImage(data.data, data.size, &image))
            icon->images.push_back(std::move(image));
    }
    if (icon->images.empty()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    return true;
}

std::unique_ptr<CursorObject> ArrowCursor() {
    auto cursor = std::make_unique<CursorObject>();
    cursor->stockId = kIdcArrow;
    return cursor;
}

// Stock objects are made once and never destroyed, like the system's shared icons and cursors.
HICON ApplicationIconHandle() {
    static HICON handle = InsertAs<HICON>(ApplicationIcon());
    return handle;
}

HCURSOR ArrowCursorHandle() {
    static HCURSOR handle = InsertAs<HCURSOR>(ArrowCursor());
    return handle;
}

// A null instance names the system's icons and cursors; only the one stock ordinal of each exists here.
HICON SystemResource(const ResourceName& name, WORD stockOrdinal, HICON (*stockHandle)()) {
    if (name.isOrdinal && name.ordinal == stockOrdinal) return stockHandle();
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

}  // namespace

bool DecodeIconImage(const uint8_t* data, size_t size, IconImage* image) {
    ResourceCursor cursor(data, size);
    DWORD headerSize, compression, imageSize, colorsUsed, colorsImportant;
    LONG width, doubledHeight, xPerMeter, yPerMeter;
    WORD planes, bitsPerPixel;
    if (!cursor.ReadDword(&headerSize) || headerSize < 40 ||
        !cursor.ReadDword(reinterpret_cast<DWORD*>(&width)) ||
        !cursor.ReadDword(reinterpret_cast<DWORD*>(&doubledHeight)) || !cursor.ReadWord(&planes) ||
        !cursor.ReadWord(&bitsPerPixel) || !cursor.ReadDword(&compression) || !cursor.ReadDword(&imageSize) ||
        !cursor.ReadDword(reinterpret_cast<DWORD*>(&xPerMeter)) ||
        !cursor.ReadDword(reinterpret_cast<DWORD*>(&yPerMeter)) || !cursor.ReadDword(&colorsUsed) ||
        !cursor.ReadDword(&colorsImportant) || !cursor.Skip(headerSize - 40))
        return false;
    int height = doubledHeight / 2;
    if (compression != BI_RGB || width <= 0 || width > kMaxIconSide || height <= 0 || height > kMaxIconSide)
        return false;
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32)
        return false;

    size_t paletteSize = 0;
    if (bitsPerPixel <= 8) {
        size_t maximum = size_t{1} << bitsPerPixel;
        paletteSize = (colorsUsed != 0 && colorsUsed < maximum) ? colorsUsed : maximum;
    }
    const uint8_t* palette;
    const uint8_t* colourBits;
    const uint8_t* maskBits;
    size_t colourStride = (static_cast<size_t>(width) * bitsPerPixel + 31) / 32 * 4;
    size_t maskStride = (static_cast<size_t>(width) + 31) / 32 * 4;
    if (!cursor.ReadBytes(paletteSize * 4, &palette) || !cursor.ReadBytes(colourStride * height, &colourBits))
        return false;
    // 32-bit images may leave the mask out and carry their alpha alone.
    bool hasMask = cursor.ReadBytes(maskStride * height, &maskBits);
    if (!hasMask && bitsPerPixel != 32) return false;

    IconImage decoded;
    decoded.width = width;
    decoded.height = height;
    decoded.bitsPerPixel = bitsPerPixel;
    decoded.pixels.resize(static_cast<size_t>(width) * height);
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y) {
        // DIB rows run bottom-up.
        const uint8_t* row = colourBits + colourStride * static_cast<size_t>(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            uint32_t pixel = DibPixel(row, x, bitsPerPixel, palette, paletteSize);
            if (bitsPerPixel == 32 && (pixel >> 24) != 0) anyAlpha = true;
            decoded.pixels[static_cast<size_t>(y) * width + x] = pixel;
        }
    }
    if (!anyAlpha) {
        for (int y = 0; y < height; ++y) {
            const uint8_t* mask = hasMask ? maskBits + maskStride * static_cast<size_t>(height - 1 - y) : nullptr;
            for (int x = 0; x < width; ++x) {
                uint32_t& pixel = decoded.pixels[static_cast<size_t>(y) * width + x];
                bool transparent = mask != nullptr && ((mask[x / 8] >> (7 - x % 8)) & 1);
                pixel = transparent ? 0 : (pixel | 0xFF000000u);
            }
        }
    }
    *image = std::move(decoded);
    return true;
}

bool GetIconImage(HICON icon, int size, IconImage* image) {
    const IconObject* object = Lookup<IconObject>(icon);
    if (object == nullptr || object->images.empty()) return false;
    const IconImage* best = nullptr;
    auto better = [size](const IconImage& a, const IconImage& b) {
        // Exact first, then larger ones (smallest first), then smaller ones (largest first); depth breaks ties.
        auto rank = [size](const IconImage& i) { return i.width == size ? 0 : i.width > size ? 1 : 2; };
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        if (a.width != b.width) return rank(a) == 1 ? a.width < b.width : a.width > b.width;
        return a.bitsPerPixel > b.bitsPerPixel;
    };
    for (const IconImage& candidate : object->images)
        if (best == nullptr || better(candidate, *best)) best = &candidate;
    *image = *best;
    return true;
}

bool GetCursorStockId(HCURSOR cursor, WORD* stockId) {
    const CursorObject* object = Lookup<CursorObject>(cursor);
    if (object == nullptr) return false;
    *stockId = object->stockId;
    return true;
}

}  // namespace w32

using namespace w32;

// Our choice, as Windows shares icons LoadIcon loads: the same group gives the same handle every time.
extern "C" HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    ResourceName iconName = ResourceName::FromAnsi(name);
    if (instance == nullptr) return SystemResource(iconName, kIdiApplication, ApplicationIconHandle);
    ResourceName type = ResourceName::FromAnsi(RT_GROUP_ICON);
    if (uintptr_t shared = FindSharedResourceHandle(instance, type, iconName, HandleKind::Icon))
        return HandleFromValue<HICON>(shared);
    auto icon = std::make_unique<IconObject>();
    if (!LoadIconGroup(instance, iconName, icon.get())) return nullptr;
    return HandleFromValue<HICON>(InsertSharedResourceHandle(instance, type, iconName, std::move(icon)));
}

extern "C" HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    ResourceName cursorName = ResourceName::FromAnsi(name);
    if (instance == nullptr) return SystemResource(cursorName, kIdcArrow, ArrowCursorHandle);
    // The program has no cursors of its own; resource cursors are not decoded.
    ResourceEntry entry;
    if (FindModuleResource(instance, ResourceName::Ordinal(12 /* RT_GROUP_CURSOR */), cursorName, &entry))
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
}
