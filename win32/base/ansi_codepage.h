// The layer's ANSI code page: UTF-8. Converts the UTF-16 text of resources to A-strings and back, and copies
// A-strings into callers' fixed buffers the way the A functions do. Leaves out every other code page.
#ifndef PELOMI_WIN32_ANSI_CODEPAGE_H
#define PELOMI_WIN32_ANSI_CODEPAGE_H

#include <cstddef>
#include <string>

namespace w32 {

// UTF-16 to the ANSI code page. Unpaired surrogates become U+FFFD, as WideCharToMultiByte does for UTF-8.
std::string Utf16ToAnsi(const char16_t* text, size_t length);
std::string Utf16ToAnsi(const std::u16string& text);

// The ANSI code page to UTF-16. Malformed or overlong sequences become U+FFFD, one per bad byte.
std::u16string AnsiToUtf16(const char* text, size_t length);
std::u16string AnsiToUtf16(const std::string& text);

// The longest prefix of `text` that fits `maxBytes` bytes without cutting a character in two.
size_t AnsiPrefixLength(const std::string& text, size_t maxBytes);

// The A functions' copy into a caller's buffer of `bufferMax` bytes: as much of `text` as fits in
// bufferMax - 1 bytes without splitting a character, then a NUL. Returns the bytes copied without the NUL;
// writes nothing and returns 0 when the buffer is null or bufferMax < 1.
int CopyAnsiToBuffer(const std::string& text, char* buffer, int bufferMax);

}  // namespace w32

#endif
