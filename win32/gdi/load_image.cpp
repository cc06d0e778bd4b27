// LoadImageA for BMP files: the header checks made before decoding, the decoder, a display-format bitmap.
// Leaves out resources, icons, cursors, stretching on load and the colour-mapping flags: those forms fail.
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "gdi/gdi_objects.h"
#include "gdi/image_decoder.h"

namespace w32 {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kMaxInfoHeaderSize = 124;
// Large enough for the largest picture we accept at 64 bits per pixel, plus headers and palette.
constexpr int64_t kMaxFileSize = kMaxBitmapPixels * 8 + (int64_t{1} << 20);

uint32_t ReadU32(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t ReadU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct BmpLayout {
    int64_t width = 0;
    int64_t height = 0;  // rows; the sign (top-down) dropped
    int64_t bitCount = 0;
    uint32_t compression = 0;
    size_t headerSize = 0;
};

// What is read before decoding, so that no header can make the decoder allocate or wait for a picture
// that cannot be there. Our choices: info headers of 12 (OS/2 1.x core), 40, 52, 56, 108 and 124 bytes are
// known and the OS/2 2.x sizes (16, 64) are not; BI_JPEG and BI_PNG are refused like any JPEG or PNG file;
// an uncompressed file must hold every row its header promises.
bool CheckLayout(const std::vector<unsigned char>& file, BmpLayout* layout) {
    if (file.size() < kFileHeaderSize + 4 || file[0] != 'B' || file[1] != 'M') return false;
    const unsigned char* info = file.data() + kFileHeaderSize;
    layout->headerSize = ReadU32(info);
    const size_t size = layout->headerSize;
    if (size != 12 && size != 40 && size != 52 && size != 56 && size != 108 && size != 124) return false;
    if (file.size() < kFileHeaderSize + size) return false;
    if (size == 12) {
        layout->width = ReadU16(info + 4);
        layout->height = ReadU16(info + 6);
        layout->bitCount = ReadU16(info + 10);
        layout->compression = 0;
    } else {
        layout->width = static_cast<int32_t>(ReadU32(info + 4));
        const int64_t height = static_cast<int32_t>(ReadU32(info + 8));
        layout->height = height < 0 ? -height : height;
        layout->bitCount = ReadU16(info + 14);
        layout->compression = ReadU32(info + 16);
    }
    if (layout->width <= 0 || layout->height <= 0 || layout->width > kMaxBitmapSide ||
        layout->height > kMaxBitmapSide || layout->width * layout->height > kMaxBitmapPixels)
        return false;
    // BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS.
    if (layout->compression > 3) return false;
    // A colour table or a pixel offset beyond the end of the file: the decoder would size its buffers from
    // them (a count of 0xFFFF0002 colours asks for 4 GB) before finding the file short.
    const uint64_t colours = size >= 40 ? ReadU32(info + 32) : 0;
    if (kFileHeaderSize + size + colours * 4 > file.size()) return false;
    if (ReadU32(file.data() + 10) > file.size()) return false;
    if (layout->compression == 0 || layout->compression == 3) {
        const int64_t stride = (layout->width * layout->bitCount + 31) / 32 * 4;
        const int64_t available = static_cast<int64_t>(file.size() - kFileHeaderSize - size);
        if (stride * layout->height > available) return false;
    }
    return true;
}

// Reads the whole file; the first bytes are checked before the rest is read.
bool ReadBmpFile(const char* path, std::vector<unsigned char>* bytes) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (info.st_size > kMaxFileSize || info.st_size < static_cast<off_t>(kFileHeaderSize + 4)) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    try {
        bytes->resize(kFileHeaderSize + kMaxInfoHeaderSize);
        size_t got = std::fread(bytes->data(), 1, bytes->size(), file.get());
        if (got < 2 || (*bytes)[0] != 'B' || (*bytes)[1] != 'M') {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        if (got == bytes->size()) {
            bytes->resize(static_cast<size_t>(info.st_size));
            got += std::fread(bytes->data() + got, 1, bytes->size() - got, file.get());
        }
        bytes->resize(got);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

HBITMAP LoadBmpFile(const char* path) {
    std::vector<unsigned char> file;
    if (!ReadBmpFile(path, &file)) return nullptr;
    BmpLayout layout;
    DecodedImage image;
    if (!CheckLayout(file, &layout) || !DecodeBmp(file.data(), file.size(), &image) ||
        image.width != layout.width || image.height != layout.height) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    std::unique_ptr<BitmapObject> bitmap;
    try {
        bitmap = std::make_unique<BitmapObject>();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bitmap->surface.width = image.width;
    bitmap->surface.height = image.height;
    bitmap->surface.bitsPerPixel = kDisplayBitsPerPixel;
    bitmap->surface.pixels = std::move(image.pixels);
    return InsertGdiObject<HBITMAP>(std::move(bitmap));
}

}  // namespace
}  // namespace w32

extern "C" HANDLE WINAPI LoadImageA(HINSTANCE, LPCSTR name, UINT type, int width, int height, UINT flags) {
    // The module holds no bitmap resources, so every name that is not a file is not found.
    if (!(flags & LR_LOADFROMFILE)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    // Icons and cursors from files, stretching on load and the colour-mapping flags are not provided.
    if (type != IMAGE_BITMAP || width != 0 || height != 0 || flags != LR_LOADFROMFILE || IS_INTRESOURCE(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Relative names resolve against the current directory, as on Windows.
    return w32::LoadBmpFile(name);
}
