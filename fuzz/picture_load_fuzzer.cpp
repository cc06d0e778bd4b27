// Feeds arbitrary bytes to the picture bank as a BMP file, then draws cells of it with arbitrary geometry.
// The drawing parameters come from the input's last bytes, so that a plain BMP file is a good seed as it is.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "picture_bank.h"

namespace {

const int CANVAS_WIDTH = 216;
const int CANVAS_HEIGHT = 196;

HWND FuzzWindow() {
    static HWND window = [] {
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

int32_t Take32(const uint8_t* tail, int index) {
    int32_t value;
    memcpy(&value, tail + index * 4, 4);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/pelomi-fuzz-" + std::to_string(getpid()) + ".bmp";
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    fwrite(data, 1, size, file);
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
