// Icons and cursors behind HICON/HCURSOR handles, with their images decoded to 32-bit pixels for the
// display backend. Leaves out PNG-compressed icon images, animated and resource cursors, and DrawIcon.
#ifndef PELOMI_WIN32_ICON_OBJECT_H
#define PELOMI_WIN32_ICON_OBJECT_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/handle_table.h"

namespace w32 {

// One image of an icon: width x height pixels, 0xAARRGGBB (straight, not premultiplied alpha), top row
// first. The AND mask has become alpha: 0 where the mask is set, 255 elsewhere.
struct IconImage {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;  // of the stored image, for choosing between images of one size
    std::vector<uint32_t> pixels;
};

// Unlike Windows, which keeps the one image of the system icon size, an icon here keeps every image of
// its group, so the backend can take the large one for the window and the small one for the title bar.
struct IconObject : HandleObject {
    static constexpr HandleKind Kind = HandleKind::Icon;
    IconObject() : HandleObject(Kind) {}
    std::vector<IconImage> images;
};

// A stock cursor (LoadCursorA with a null instance); `stockId` is its IDC_ ordinal (32512 for IDC_ARROW).
struct CursorObject : HandleObject {
    static constexpr HandleKind Kind = HandleKind::Cursor;
    CursorObject() : HandleObject(Kind) {}
    WORD stockId = 0;
};

// Decodes one RT_ICON resource (also the image data of an .ico file): BITMAPINFOHEADER with the doubled
// height, colour table, colour bits at 1, 4, 8, 24 or 32 bits per pixel, then the 1-bit AND mask. False
// for any other form and for truncated data.
bool DecodeIconImage(const uint8_t* data, size_t size, IconImage* image);

// The image of `icon` that suits a square of `size` pixels best: that size exactly, else the smallest
// larger one, else the largest; at equal sizes the deepest. The backend scales it when it is not `size`.
// False for a handle that is not a live icon.
bool GetIconImage(HICON icon, int size, IconImage* image);

// The IDC_ ordinal of a stock cursor; false for a handle that is not a live cursor.
bool GetCursorStockId(HCURSOR cursor, WORD* stockId);

}  // namespace w32

#endif
