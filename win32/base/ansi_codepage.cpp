// UTF-16 <-> UTF-8 for the layer's ANSI code page, and the truncating copy the A functions share.
// Leaves out normalisation and the best-fit mappings of the legacy code pages.
#include "ansi_codepage.h"

#include <cstdint>
#include <cstring>

namespace w32 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at text[0..length), or 0 when it is malformed.
size_t SequenceLength(const unsigned char* text, size_t length, char32_t* decoded) {
    unsigned char lead = text[0];
    size_t count;
    char32_t c;
    char32_t minimum;
    if (lead < 0x80) {
        *decoded = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        count = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        count = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        count = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (count > length) return 0;
    for (size_t i = 1; i < count; ++i) {
        if (!IsContinuation(text[i])) return 0;
        c = (c << 6) | (text[i] & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *decoded = c;
    return count;
}

}  // namespace

std::string Utf16ToAnsi(const char16_t* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string Utf16ToAnsi(const std::u16string& text) { return Utf16ToAnsi(text.data(), text.size()); }

std::u16string AnsiToUtf16(const char* text, size_t length) {
    std::u16string out;
    out.reserve(length);
    auto bytes = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        char32_t c;
        size_t used = SequenceLength(bytes + i, length - i, &c);
        if (used == 0) {
            c = kReplacement;
            used = 1;
        }
        AppendUtf16(out, c);
        i += used;
    }
    return out;
}

std::u16string AnsiToUtf16(const std::string& text) { return AnsiToUtf16(text.data(), text.size()); }

size_t AnsiPrefixLength(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    size_t end = maxBytes;
    // Back up over continuation bytes to the start of the character that does not fit.
    while (end > 0 && IsContinuation(static_cast<unsigned char>(text[end]))) --end;
    return end;
}

int CopyAnsiToBuffer(const std::string& text, char* buffer, int bufferMax) {
    if (buffer == nullptr || bufferMax < 1) return 0;
    size_t length = AnsiPrefixLength(text, static_cast<size_t>(bufferMax) - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

}  // namespace w32
