// Writes BMP files for tests: 24-bit bottom-up pictures whose every pixel says where it came from.
#ifndef PELOMI_TESTS_BMP_FILE_H
#define PELOMI_TESTS_BMP_FILE_H

#include <cstdint>
#include <functional>
#include <string>

namespace testbmp {

// A colour (0x00RRGGBB) that encodes a position: red = x low byte, green = y low byte,
// blue = x high nibble and y high nibble. Unique in any picture up to 4096 x 4096.
uint32_t PositionColour(int x, int y);

// Writes a 24-bit BI_RGB BMP of width x height whose pixel (x, y) (top-left origin) is pixel(x, y)
// (0x00RRGGBB). Returns the path written.
std::string Write24(const std::string& path, int width, int height,
                    const std::function<uint32_t(int, int)>& pixel);

// The same picture with PositionColour pixels.
std::string WritePositionSheet(const std::string& path, int width, int height);

// A fresh empty directory for one test's files.
std::string TempDir();

}  // namespace testbmp

#endif
