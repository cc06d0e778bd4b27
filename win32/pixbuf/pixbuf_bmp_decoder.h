// Installs the gdk-pixbuf BMP decoder behind LoadImageA.
// Leaves out every other picture format.
#ifndef PELOMI_WIN32_PIXBUF_BMP_DECODER_H
#define PELOMI_WIN32_PIXBUF_BMP_DECODER_H

namespace w32 {

// LoadImageA decodes BMP files with gdk-pixbuf from now on.
void UsePixbufImageDecoder();

}  // namespace w32

#endif
