// LoadImageA for BMP files: the header checks made before decoding, the decoder, a display-format bitmap.
// Leaves out resources, icons, cursors, stretching on load and the colour-mapping flags: those forms fail.
#include <errno.h>  // program_invocation_short_name
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "base/backend_install.h"
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

constexpr const char* kCutShort = "cut short";
constexpr const char* kNoMemory = "not enough memory";

struct BmpLayout {
    int64_t width = 0;
    int64_t height = 0;  // rows; the sign (top-down) dropped
    bool topDown = false;
    int64_t bitCount = 0;
    uint32_t compression = 0;
    size_t headerSize = 0;
    size_t tableStart = 0;    // colour table, after the header and the three masks of a 40-byte BI_BITFIELDS
    size_t entrySize = 4;     // RGBQUAD, or RGBTRIPLE under a core header
    size_t tableEntries = 0;  // what the decoder is given: 2^bits for 1, 4 and 8 bits, none above
    size_t entriesInFile = 0; // of those, how many the file holds before its pixels
    size_t pixelStart = 0;
};

constexpr uint32_t kRle8 = 1, kRle4 = 2, kBitfields = 3;

// What is read before decoding, so that no header can make the decoder allocate or wait for a picture
// that cannot be there. Our choices: info headers of 12 (OS/2 1.x core), 40, 52, 56, 108 and 124 bytes are
// known and the OS/2 2.x sizes (16, 64) are not; BI_JPEG and BI_PNG are refused like any JPEG or PNG file;
// an uncompressed file must hold every row its header promises. Null when the file can be decoded, else
// why not, in words for the user.
const char* CheckLayout(const std::vector<unsigned char>& file, BmpLayout* layout) {
    if (file.size() < kFileHeaderSize + 4 || file[0] != 'B' || file[1] != 'M') return kCutShort;
    const unsigned char* info = file.data() + kFileHeaderSize;
    layout->headerSize = ReadU32(info);
    const size_t size = layout->headerSize;
    if (size != 12 && size != 40 && size != 52 && size != 56 && size != 108 && size != 124)
        return "a kind of BMP header we do not read";
    if (file.size() < kFileHeaderSize + size) return kCutShort;
    uint64_t coloursUsed = 0;
    if (size == 12) {
        layout->width = ReadU16(info + 4);
        layout->height = ReadU16(info + 6);
        layout->bitCount = ReadU16(info + 10);
        layout->compression = 0;
        layout->entrySize = 3;
    } else {
        layout->width = static_cast<int32_t>(ReadU32(info + 4));
        const int64_t height = static_cast<int32_t>(ReadU32(info + 8));
        layout->topDown = height < 0;
        layout->height = height < 0 ? -height : height;
        layout->bitCount = ReadU16(info + 14);
        layout->compression = ReadU32(info + 16);
        coloursUsed = ReadU32(info + 32);
    }
    if (layout->width <= 0 || layout->height <= 0 || layout->width > kMaxBitmapSide ||
        layout->height > kMaxBitmapSide || layout->width * layout->height > kMaxBitmapPixels)
        return "a picture size we refuse (none, negative, or too large)";
    // BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS. Windows documents that RLE8 is for 8-bit bitmaps, RLE4 for
    // 4-bit ones, BI_BITFIELDS for 16- and 32-bit ones, and that compressed bitmaps cannot be top-down.
    const uint32_t compression = layout->compression;
    if (compression > kBitfields || (compression == kRle8 && layout->bitCount != 8) ||
        (compression == kRle4 && layout->bitCount != 4) ||
        (compression == kBitfields && layout->bitCount != 16 && layout->bitCount != 32) ||
        ((compression == kRle8 || compression == kRle4) && layout->topDown))
        return "an encoding we do not read";
    // A colour table or a pixel offset beyond the end of the file: the decoder would size its buffers from
    // them (a count of 0xFFFF0002 colours asks for 4 GB) before finding the file short.
    layout->tableStart = kFileHeaderSize + size + (size == 40 && compression == kBitfields ? 12 : 0);
    if (layout->tableStart > file.size() || layout->tableStart + coloursUsed * layout->entrySize > file.size())
        return kCutShort;
    const size_t offset = ReadU32(file.data() + 10);
    if (offset > file.size()) return kCutShort;
    if (layout->bitCount <= 8) {
        layout->tableEntries = size_t{1} << layout->bitCount;
        const size_t declared = coloursUsed == 0 ? layout->tableEntries : static_cast<size_t>(coloursUsed);
        const size_t listed = std::min(layout->tableEntries, declared);
        // Our choice: a table cut short by the pixel offset ends there (OS/2 writers leave short tables); a
        // pixel offset inside the headers is taken to mean "straight after the table". Entries past the
        // table are black.
        const size_t roomBeforePixels =
            offset > layout->tableStart ? (offset - layout->tableStart) / layout->entrySize : listed;
        layout->entriesInFile =
            std::min({listed, roomBeforePixels, (file.size() - layout->tableStart) / layout->entrySize});
    }
    const size_t tableEnd = layout->tableStart + (layout->bitCount <= 8 ? layout->entriesInFile * layout->entrySize
                                                                         : coloursUsed * layout->entrySize);
    layout->pixelStart = offset > layout->tableStart ? offset : tableEnd;
    if (compression == 0 || compression == kBitfields) {
        const int64_t stride = (layout->width * layout->bitCount + 31) / 32 * 4;
        const int64_t available = static_cast<int64_t>(file.size() - layout->pixelStart);
        if (stride * layout->height > available) return kCutShort;
    }
    return nullptr;
}

// Whether an RLE stream draws the whole picture: it ends with end-of-bitmap, or its data ends after the last
// row's end-of-line. Our choice: a stream that ends earlier is refused, like an uncompressed file with rows
// missing. Runs past the right edge or the top row are the decoder's to drop.
bool RleStreamIsComplete(const std::vector<unsigned char>& file, const BmpLayout& layout) {
    const unsigned char* p = file.data() + layout.pixelStart;
    const unsigned char* end = file.data() + file.size();
    int64_t row = 0;
    while (end - p >= 2) {
        const unsigned count = p[0], code = p[1];
        p += 2;
        if (count > 0) continue;  // an encoded run
        if (code == 0) {
            ++row;
        } else if (code == 1) {
            return true;
        } else if (code == 2) {
            if (end - p < 2) return false;
            row += p[1];
            p += 2;
        } else {
            // An absolute run of `code` indices, padded to a 16-bit boundary (the padding may be missing at
            // the very end).
            const size_t bytes = layout.compression == kRle8 ? code : (code + 1) / 2;
            const size_t left = static_cast<size_t>(end - p);
            if (left < bytes) return false;
            p += std::min(left, bytes + (bytes & 1));
        }
    }
    return row >= layout.height;
}

// The file as the decoder is given it: the header with no colour count, the masks, a full colour table
// (black past what the file holds) and the pixels straight after. gdk-pixbuf reads pixels straight after
// the table and takes a declared colour count as the table's length, so a gap before the pixels (legal),
// a short table or an oversized count would otherwise shift or garble them. A file laid out so already is
// handed over as it is, so that a large sheet is not copied.
bool CanonicalFile(std::vector<unsigned char>* file, const BmpLayout& layout, std::vector<unsigned char>* out) {
    const size_t tableBytes = layout.entriesInFile * layout.entrySize;
    const bool noColourCount = layout.headerSize < 40 || ReadU32(file->data() + kFileHeaderSize + 32) == 0;
    if (noColourCount && layout.entriesInFile == layout.tableEntries &&
        layout.pixelStart == layout.tableStart + tableBytes && ReadU32(file->data() + 10) == layout.pixelStart) {
        out->swap(*file);
        return true;
    }
    try {
        const auto at = [&](size_t offset) { return file->begin() + static_cast<std::ptrdiff_t>(offset); };
        out->assign(file->begin(), at(layout.tableStart));
        out->insert(out->end(), at(layout.tableStart), at(layout.tableStart + tableBytes));
        out->resize(out->size() + (layout.tableEntries - layout.entriesInFile) * layout.entrySize, 0);
        const size_t pixelStart = out->size();
        out->insert(out->end(), at(layout.pixelStart), file->end());
        for (int i = 0; i < 4; ++i) (*out)[10 + i] = static_cast<unsigned char>(pixelStart >> (8 * i));
        if (layout.headerSize >= 40)
            for (int i = 0; i < 4; ++i) (*out)[kFileHeaderSize + 32 + i] = 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// What a file that is no BMP file holds, by its first bytes.
const char* NotBmp(const std::vector<unsigned char>& start, size_t got) {
    const auto begins = [&](const char* magic, size_t length) {
        return got >= length && std::equal(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(length),
                                           reinterpret_cast<const unsigned char*>(magic));
    };
    if (begins("\x89PNG", 4)) return "a PNG picture, not a BMP file";
    if (begins("\xFF\xD8\xFF", 3)) return "a JPEG picture, not a BMP file";
    if (begins("GIF8", 4)) return "a GIF picture, not a BMP file";
    return "not a BMP file";
}

// Reads the whole file; the first bytes are checked before the rest is read. On failure *problem says why.
bool ReadBmpFile(const char* path, std::vector<unsigned char>* bytes, const char** problem) {
    struct stat info;
    const bool exists = stat(path, &info) == 0;
    if (!exists || !S_ISREG(info.st_mode)) {
        *problem = exists ? "not a file" : "no such file";
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (info.st_size > kMaxFileSize || info.st_size < static_cast<off_t>(kFileHeaderSize + 4)) {
        *problem = info.st_size == 0 ? "an empty file" : info.st_size > kMaxFileSize ? "too large" : kCutShort;
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file) {
        *problem = "it cannot be opened for reading";
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    try {
        bytes->resize(kFileHeaderSize + kMaxInfoHeaderSize);
        size_t got = std::fread(bytes->data(), 1, bytes->size(), file.get());
        if (got < 2 || (*bytes)[0] != 'B' || (*bytes)[1] != 'M') {
            *problem = NotBmp(*bytes, got);
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        if (got == bytes->size()) {
            bytes->resize(static_cast<size_t>(info.st_size));
            got += std::fread(bytes->data() + got, 1, bytes->size() - got, file.get());
        }
        bytes->resize(got);
    } catch (const std::bad_alloc&) {
        *problem = kNoMemory;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

std::atomic<const ImageDecoderBackend*> installedDecoder{nullptr};

// On failure *problem says why, in words for the user.
HBITMAP LoadBmpFile(const char* path, const char** problem) {
    BmpLayout layout;
    std::vector<unsigned char> canonical;
    {
        // The file's own bytes go before decoding, so that a large file is held once, not twice.
        std::vector<unsigned char> file;
        if (!ReadBmpFile(path, &file, problem)) return nullptr;
        *problem = CheckLayout(file, &layout);
        if (*problem == nullptr && (layout.compression == kRle8 || layout.compression == kRle4) &&
            !RleStreamIsComplete(file, layout))
            *problem = kCutShort;
        if (*problem != nullptr) {
            SetLastError(ERROR_INVALID_DATA);
            return nullptr;
        }
        if (!CanonicalFile(&file, layout, &canonical)) {
            *problem = kNoMemory;
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    const ImageDecoderBackend* decoder = installedDecoder.load();
    if (decoder == nullptr) {
        *problem = "no image decoder installed";
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    DecodedImage image;
    if (!decoder->DecodeBmp(canonical.data(), canonical.size(), &image) || image.width != layout.width ||
        image.height != layout.height) {
        *problem = "its pixels cannot be decoded";
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    std::unique_ptr<BitmapObject> bitmap;
    try {
        bitmap = std::make_unique<BitmapObject>();
    } catch (const std::bad_alloc&) {
        *problem = kNoMemory;
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

bool InstallImageDecoderBackend(ImageDecoderBackend& backend) {
    if (!HasRequiredMembers("image decoder", backend.name, {{"DecodeBmp", backend.DecodeBmp != nullptr}}))
        return false;
    installedDecoder.store(&backend);
    return true;
}

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
    // Relative names resolve against the current directory, as on Windows. Our choice: a file that cannot
    // be loaded is named on stderr with the reason, once per call, for the user of a program that shows
    // nothing else (LoadImageA itself only gives the error code).
    const char* problem = nullptr;
    HANDLE loaded = w32::LoadBmpFile(name, &problem);
    if (loaded == nullptr)
        std::fprintf(stderr, "%s: picture \"%s\" not loaded: %s\n", program_invocation_short_name, name,
                     problem != nullptr ? problem : "unknown reason");
    return loaded;
}
