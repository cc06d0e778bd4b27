// Writes BMP files for tests: 24-bit bottom-up pictures whose every pixel says where it came from.
#include "bmp_file.h"

#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <fstream>
#include <vector>

namespace testbmp {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

}  // namespace

uint32_t PositionColour(int x, int y) {
    uint32_t red = x & 0xFF, green = y & 0xFF, blue = (((x >> 8) & 0xF) << 4) | ((y >> 8) & 0xF);
    return (red << 16) | (green << 8) | blue;
}

std::string Write24(const std::string& path, int width, int height,
                    const std::function<uint32_t(int, int)>& pixel) {
    const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(height);
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 54 + imageBytes);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(width));
    Put32(out, static_cast<uint32_t>(height));
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);
    Put32(out, imageBytes);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = height - 1; y >= 0; --y) {
        size_t start = out.size();
        for (int x = 0; x < width; ++x) {
            uint32_t c = pixel(x, y);
            out.push_back(c & 0xFF);
            out.push_back((c >> 8) & 0xFF);
            out.push_back((c >> 16) & 0xFF);
        }
        while (out.size() - start < rowBytes) out.push_back(0);
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), out.size());
    return path;
}

std::string WritePositionSheet(const std::string& path, int width, int height) {
    return Write24(path, width, height, PositionColour);
}

std::string TempDir() {
#ifdef _WIN32
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    for (unsigned attempt = GetTickCount();; ++attempt) {
        std::string dir = std::string(base) + "pelomi-test-" + std::to_string(attempt);
        if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return base;
    }
#else
    char pattern[] = "/tmp/pelomi-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? dir : "/tmp";
#endif
}

}  // namespace testbmp
