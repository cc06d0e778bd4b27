// Feeds arbitrary bytes to the picture bank as a BMP file, then draws cells of it with arbitrary geometry.
// The drawing parameters come from the input's last bytes, so that a plain BMP file is a good seed as it is.
// An input that is no BMP file (no "BM" first) is made into one: its first bytes choose the header form, depth,
// compression, a small size and colour count, and the rest follows the header; so that from an empty corpus
// the fuzzer gets past the header checks in seconds and spends its time in the decoding and drawing paths.
// Inputs declaring more than kMaxFuzzPixels are skipped: the loader takes pictures up to its own limit
// (tests load 2560 x 10240 sheets), but decoding one costs seconds under the sanitizers, and a run of the
// fuzzer should try thousands of inputs a second.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "picture_bank.h"
#include "testing/test_backends.h"

namespace {

const int CANVAS_WIDTH = 216;
const int CANVAS_HEIGHT = 196;

HWND FuzzWindow() {
    static HWND window = [] {
        w32::UseTestBackends();  // the headless display and the real decoder
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.lpszClassName = "PelomiFuzzWindow";
        RegisterClassExA(&windowClass);
        return CreateWindowExA(0, "PelomiFuzzWindow", "", WS_POPUP, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT, nullptr,
                               nullptr, nullptr, nullptr);
    }();
    return window;
}

const int64_t kMaxFuzzPixels = 512 * 512;

// Width times height as the header declares them (core or info header), 0 when there is no header.
int64_t DeclaredPixels(const uint8_t* data, size_t size) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M') return 0;
    if (data[14] == 12 && data[15] == 0 && data[16] == 0 && data[17] == 0)
        return int64_t{data[18] | (data[19] << 8)} * (data[20] | (data[21] << 8));
    int32_t width, height;
    memcpy(&width, data + 18, 4);
    memcpy(&height, data + 22, 4);
    return (width < 0 ? -int64_t{width} : width) * (height < 0 ? -int64_t{height} : height);
}

void Put32(std::vector<uint8_t>* bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A BMP file built around `data`: byte 0 picks the header size, byte 1 the depth and compression, bytes 2
// and 3 the width and height (1 to 64), byte 4 top-down, byte 5 the colour count; the rest comes after the
// header, the pixel offset pointing straight past the colour table unless byte 4 asks for it right after
// the header.
std::vector<uint8_t> MakeBmp(const uint8_t* data, size_t size) {
    static const uint32_t kHeaderSizes[] = {12, 40, 52, 56, 108, 124};
    static const uint16_t kDepths[] = {1, 4, 8, 16, 24, 32};
    uint8_t head[6] = {};
    memcpy(head, data, size < 6 ? size : 6);
    const uint32_t headerSize = kHeaderSizes[head[0] % 6];
    const uint16_t depth = kDepths[head[1] % 6];
    const uint32_t compression = head[1] / 6 % 4;
    const uint32_t width = 1 + head[2] % 64, height = 1 + head[3] % 64;
    const uint32_t colours = head[5];
    std::vector<uint8_t> bytes(14 + headerSize);
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put32(&bytes, 14, headerSize);
    if (headerSize == 12) {
        bytes[18] = static_cast<uint8_t>(width);
        bytes[20] = static_cast<uint8_t>(height);
        bytes[22] = 1;
        bytes[24] = static_cast<uint8_t>(depth);
    } else {
        Put32(&bytes, 18, width);
        Put32(&bytes, 22, (head[4] & 1) ? 0u - height : height);
        Put32(&bytes, 26, 1u | (uint32_t{depth} << 16));
        Put32(&bytes, 30, compression);
        Put32(&bytes, 46, colours);
    }
    const size_t table = depth <= 8 ? (colours ? colours : 1u << depth) * (headerSize == 12 ? 3 : 4)
                                    : (compression == 3 && headerSize == 40 ? 12 : 0);
    Put32(&bytes, 10, static_cast<uint32_t>(14 + headerSize + ((head[4] & 2) ? 0 : table)));
    if (size > 6) bytes.insert(bytes.end(), data + 6, data + size);
    Put32(&bytes, 2, static_cast<uint32_t>(bytes.size()));
    return bytes;
}

int32_t Take32(const uint8_t* tail, int index) {
    int32_t value;
    memcpy(&value, tail + index * 4, 4);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (DeclaredPixels(data, size) > kMaxFuzzPixels) return 0;
    static const std::string path = "/tmp/pelomi-fuzz-" + std::to_string(getpid()) + ".bmp";
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        fwrite(data, 1, size, file);
    } else {
        const std::vector<uint8_t> made = MakeBmp(data, size);
        fwrite(made.data(), 1, made.size(), file);
    }
    fclose(file);

    uint8_t tail[24] = {};
    memcpy(tail, data + (size > sizeof(tail) ? size - sizeof(tail) : 0), size < sizeof(tail) ? size : sizeof(tail));

    PictureBank bank;
    bank.Attach(nullptr, FuzzWindow());
    bool keyed = tail[0] & 1;
    COLORREF key = static_cast<COLORREF>(Take32(tail, 1));
    if (bank.Load(0, path.c_str(), keyed, key)) {
        // Small geometry most of the time, so that real cells get drawn; anything at all otherwise.
        bool wild = tail[0] & 2;
        int x = wild ? Take32(tail, 2) : tail[8] % CANVAS_WIDTH - 20;
        int y = wild ? Take32(tail, 3) : tail[12] % CANVAS_HEIGHT - 20;
        int width = wild ? Take32(tail, 4) : tail[16] % 64;
        int height = wild ? Take32(tail, 5) : tail[20] % 64;
        int frame = wild ? Take32(tail, 4) ^ Take32(tail, 5) : tail[1] % 32;
        bank.DrawCell(0, x, y, width, height, frame);
        bank.DrawCell(0, 0, 30, width, width, frame + 5);
        int32_t size2[2];
        bank.GetSize(0, size2);
        bank.DrawCell(0, 0, 0, size2[0] / 5, size2[0] / 5, tail[2]);
        bank.Forget(0);
        bank.DrawCell(0, 0, 0, 8, 8, 0);
        bank.Present();
    }
    bank.Detach();
    return 0;
}
