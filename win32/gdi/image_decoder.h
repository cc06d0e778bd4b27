// The image decoder LoadImageA hands a BMP file to, implemented by a library backend (win32/pixbuf).
// Leaves out every other file format, colour profiles and alpha: the result is colour only.
#ifndef PELOMI_WIN32_IMAGE_DECODER_H
#define PELOMI_WIN32_IMAGE_DECODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace w32 {

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first; alpha dropped, colour kept
};

// A decoder: a table of functions, filled member by member by name and completed by
// InstallImageDecoderBackend; its one member is required.
struct ImageDecoderBackend {
    const char* name;

    // Decodes a whole BMP file held in memory. False when the decoder refuses it or does not finish it. The
    // caller has already checked the header's size fields, so the decoder may trust them for allocation,
    // and lays the file out plainly: no colour count, a full colour table (1, 4 and 8 bits) and the pixels
    // straight after the table, where the pixel offset points.
    bool (*DecodeBmp)(const unsigned char* data, size_t size, DecodedImage* image);
};

// Makes `backend` the decoder LoadImageA uses from now on; false, with one line on stderr, when it lacks
// its member. Before any is installed, LoadImageA fails with ERROR_NOT_SUPPORTED and says why on stderr.
bool InstallImageDecoderBackend(ImageDecoderBackend& backend);

}  // namespace w32

#endif
