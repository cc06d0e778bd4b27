// The image decoder on gdk-pixbuf's "bmp" loader only, so no other format can come in under a BMP name.
// [x] every BMP form LoadImageA hands over, colour kept and alpha dropped   [x] files cut short refused
// [ ] every other gdk-pixbuf loader   [ ] animations, progressive display
#include "pixbuf/pixbuf_bmp_decoder.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <new>
#include <vector>

#include "gdi/image_decoder.h"

namespace w32 {
namespace {

bool CopyPixels(const GdkPixbuf* pixbuf, DecodedImage* image) {
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 ||
        channels < 3)
        return false;
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
    const guint8* bytes = gdk_pixbuf_read_pixels(pixbuf);
    try {
        image->pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        return false;
    }
    image->width = width;
    image->height = height;
    uint32_t* out = image->pixels.data();
    for (int y = 0; y < height; ++y) {
        const guint8* in = bytes + static_cast<size_t>(y) * static_cast<size_t>(rowstride);
        // gdk-pixbuf keeps colour unpremultiplied, so dropping alpha leaves each pixel's own colour, which
        // is what Windows shows for a BMP with an alpha channel.
        for (int x = 0; x < width; ++x, in += channels)
            *out++ = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    }
    return true;
}

bool DecodeBmp(const unsigned char* data, size_t size, DecodedImage* image) {
    GError* error = nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("bmp", &error);
    if (!loader) {
        g_clear_error(&error);
        return false;
    }
    bool ok = gdk_pixbuf_loader_write(loader, data, size, &error);
    // The loader must be closed in every case; a file that ends inside its headers fails here (missing
    // rows do not, which is why LoadImageA checks the file length first).
    const bool closed = gdk_pixbuf_loader_close(loader, ok ? &error : nullptr);
    ok = ok && closed;
    g_clear_error(&error);
    const GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    ok = pixbuf && CopyPixels(pixbuf, image);
    g_object_unref(loader);
    return ok;
}

}  // namespace

void UsePixbufImageDecoder() {
    static ImageDecoderBackend pixbuf = [] {
        ImageDecoderBackend filled{};
        filled.name = "gdk-pixbuf";
        filled.DecodeBmp = DecodeBmp;
        return filled;
    }();
    InstallImageDecoderBackend(pixbuf);
}

}  // namespace w32
