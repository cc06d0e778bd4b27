// LoadImageA on BMP files: the conformance suite against its reference renderings, other formats under a
// BMP name, header limits, missing files, relative names. Leaves out resources, icons and cursors beyond failing.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gdi_test_util.h"

namespace {

const std::string kSuite = std::string(PELOMI_SHARED_DIR) + "/bmpsuite/";

struct SuiteEntry {
    std::string file;      // relative to the suite, e.g. good/pal1.bmp
    std::string category;  // good, questionable or bad
    std::string reference; // file in reference/, or "-"
};

std::vector<SuiteEntry> ReadManifest() {
    std::vector<SuiteEntry> entries;
    std::ifstream manifest(kSuite + "manifest.tsv");
    std::string line;
    std::getline(manifest, line);  // column names
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        SuiteEntry entry;
        if (std::getline(fields, entry.file, '\t') && std::getline(fields, entry.category, '\t') &&
            std::getline(fields, entry.reference, '\t'))
            entries.push_back(entry);
    }
    return entries;
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> colour;  // 0x00RRGGBB, top row first
    std::vector<uint8_t> alpha;
};

// Reference renderings are PNG (one JPEG); only the test decodes them, with gdk-pixbuf's own loaders.
bool ReadReference(const std::string& path, Picture* picture) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    if (!pixbuf) return false;
    picture->width = gdk_pixbuf_get_width(pixbuf);
    picture->height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guint8* bytes = gdk_pixbuf_read_pixels(pixbuf);
    for (int y = 0; y < picture->height; ++y) {
        for (int x = 0; x < picture->width; ++x) {
            const guint8* p = bytes + y * stride + x * channels;
            picture->colour.push_back((uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]);
            picture->alpha.push_back(channels == 4 ? p[3] : 255);
        }
    }
    g_object_unref(pixbuf);
    return true;
}

HBITMAP Load(const std::string& path) {
    return static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
}

// Channels may differ by `tolerance`; pixels the reference leaves fully transparent are not compared,
// since a loader that drops alpha shows whatever colour the file stored there.
int CountMismatches(const Picture& reference, const std::vector<uint32_t>& loaded, int tolerance,
                    std::string* first) {
    int mismatches = 0;
    for (size_t i = 0; i < loaded.size(); ++i) {
        if (reference.alpha[i] == 0) continue;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int want = (reference.colour[i] >> shift) & 0xFF;
            const int got = (loaded[i] >> shift) & 0xFF;
            if (std::abs(want - got) > tolerance) {
                if (mismatches++ == 0) {
                    char text[96];
                    std::snprintf(text, sizeof text, "pixel %zu: want %06X got %06X", i,
                                  static_cast<unsigned>(reference.colour[i]), static_cast<unsigned>(loaded[i]));
                    *first = text;
                }
                break;
            }
        }
    }
    return mismatches;
}

class BmpSuite : public gditest::HandleLeakCheck, public ::testing::WithParamInterface<SuiteEntry> {};

TEST_P(BmpSuite, LoadsAsItsCategoryAllows) {
    const SuiteEntry& entry = GetParam();
    HBITMAP bitmap = Load(kSuite + entry.file);
    if (entry.category == "good") {
        ASSERT_NE(bitmap, nullptr) << "a good file must load";
    }
    if (!bitmap) return;

    BITMAP record;
    ASSERT_EQ(GetObjectA(bitmap, sizeof record, &record), static_cast<int>(sizeof record));
    EXPECT_EQ(record.bmBitsPixel, 32);
    EXPECT_EQ(record.bmBits, nullptr);
    std::vector<uint32_t> pixels = gditest::ReadBitmap(bitmap);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(record.bmWidth) * record.bmHeight);

    if (entry.category == "good") {
        Picture reference;
        ASSERT_TRUE(ReadReference(kSuite + "reference/" + entry.reference, &reference));
        ASSERT_EQ(record.bmWidth, reference.width);
        ASSERT_EQ(record.bmHeight, reference.height);
        // 5- and 6-bit channels are widened with differing rounding.
        const int tolerance = entry.file.find("rgb16") != std::string::npos ? 2 : 0;
        std::string first;
        EXPECT_EQ(CountMismatches(reference, pixels, tolerance, &first), 0) << first;
    }
    EXPECT_TRUE(DeleteObject(bitmap));
}

std::string EntryName(const ::testing::TestParamInfo<SuiteEntry>& info) {
    std::string name;
    for (char c : info.param.file) name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Manifest, BmpSuite, ::testing::ValuesIn(ReadManifest()), EntryName);

// Windows shows a BMP's colours and ignores its alpha (or the unused byte of a 32-bit BI_RGB file).
TEST(BmpAlpha, IsDroppedAndEveryColourKept) {
    const std::pair<const char*, const char*> files[] = {
        {"questionable/rgba32-1.bmp", "rgba32.png"},
        {"questionable/rgba32h56.bmp", "rgba32.png"},
        {"questionable/rgba16-4444.bmp", "rgba16-4444.png"},
        {"questionable/rgb32fakealpha.bmp", "rgb24.png"},
    };
    for (const auto& [file, referenceName] : files) {
        HBITMAP bitmap = Load(kSuite + file);
        ASSERT_NE(bitmap, nullptr) << file;
        Picture reference;
        ASSERT_TRUE(ReadReference(kSuite + "reference/" + referenceName, &reference));
        std::string first;
        EXPECT_EQ(CountMismatches(reference, gditest::ReadBitmap(bitmap), 0, &first), 0) << file << " " << first;
        DeleteObject(bitmap);
    }
}

// Files written by the tests below live in a fresh folder that is removed afterwards.
class BmpFiles : public gditest::HandleLeakCheck {
  protected:
    void SetUp() override {
        HandleLeakCheck::SetUp();
        char name[] = "/tmp/pelomi-gdi-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        HandleLeakCheck::TearDown();
    }
    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string dir_;
};

std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

void PutU32(std::vector<unsigned char>* bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes->at(at + i) = static_cast<unsigned char>(value >> (8 * i));
}

// A 24-bit BI_RGB file with a 40-byte header whose pixel (x, y) from the top-left is colour(x, y).
std::vector<unsigned char> Bmp24(int32_t width, int32_t height, uint32_t (*colour)(int, int)) {
    const int rows = height < 0 ? -height : height;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    std::vector<unsigned char> bytes(54 + stride * rows);
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutU32(&bytes, 2, static_cast<uint32_t>(bytes.size()));
    PutU32(&bytes, 10, 54);
    PutU32(&bytes, 14, 40);
    PutU32(&bytes, 18, static_cast<uint32_t>(width));
    PutU32(&bytes, 22, static_cast<uint32_t>(height));
    PutU32(&bytes, 26, 1 | (24 << 16));  // planes, bits per pixel
    for (int row = 0; row < rows; ++row) {
        const int y = height > 0 ? rows - 1 - row : row;  // file rows run bottom-up for positive heights
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = colour(x, y);
            unsigned char* out = &bytes[54 + row * stride + x * 3];
            out[0] = pixel & 0xFF;
            out[1] = (pixel >> 8) & 0xFF;
            out[2] = (pixel >> 16) & 0xFF;
        }
    }
    return bytes;
}

uint32_t Gradient(int x, int y) {
    return (static_cast<uint32_t>(x * 40) << 16) | (static_cast<uint32_t>(y * 90) << 8) | 0x33;
}

TEST_F(BmpFiles, PicturesComeOutUprightWhicheverWayTheFileStoresRows) {
    for (int32_t height : {2, -2}) {
        HBITMAP bitmap = Load(Write("picture.bmp", Bmp24(3, height, Gradient)));
        ASSERT_NE(bitmap, nullptr) << height;
        std::vector<uint32_t> pixels = gditest::ReadBitmap(bitmap);
        EXPECT_EQ(pixels, (std::vector<uint32_t>{Gradient(0, 0), Gradient(1, 0), Gradient(2, 0), Gradient(0, 1),
                                                 Gradient(1, 1), Gradient(2, 1)}))
            << height;
        DeleteObject(bitmap);
    }
}

TEST_F(BmpFiles, HeadersAreCheckedBeforeDecoding) {
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        bool loads;
    };
    auto patched = [](std::vector<unsigned char> bytes, size_t at, uint32_t value) {
        PutU32(&bytes, at, value);
        return bytes;
    };
    auto truncated = [](std::vector<unsigned char> bytes, size_t size) {
        bytes.resize(size);
        return bytes;
    };
    const std::vector<unsigned char> small = Bmp24(4, 3, Gradient);
    const Case cases[] = {
        {"OS/2 2.x header size 64", patched(small, 14, 64), false},
        {"OS/2 2.x header size 16", patched(small, 14, 16), false},
        {"header size 0", patched(small, 14, 0), false},
        {"BI_JPEG", patched(small, 30, 4), false},
        {"BI_PNG", patched(small, 30, 5), false},
        {"width 0", patched(small, 18, 0), false},
        {"height 0", patched(small, 22, 0), false},
        {"width 65535", Bmp24(65535, 1, Gradient), true},
        {"width 65536", Bmp24(65536, 1, Gradient), false},
        {"height 65536, file far too short", patched(small, 22, 65536), false},
        {"height -65536, file far too short", patched(small, 22, static_cast<uint32_t>(-65536)), false},
        {"rows missing at the end", truncated(Bmp24(200, 200, Gradient), 54 + 600 * 2), false},
        {"header cut short", truncated(small, 40), false},
        // The decoder sizes its buffers from these before it finds the file too short for them.
        {"colour table of 0xFFFF0002 entries", patched(small, 46, 0xFFFF0002u), false},
        {"colour table past the end", patched(small, 46, 10), false},
        {"pixels beyond the end", patched(small, 10, 0x7FFFFFF0u), false},
        // RLE data may be tiny for any size, so only the pixel limit stands between it and a huge bitmap.
        {"RLE8 claiming 8192 x 8192", patched(patched(patched(small, 18, 8192), 22, 8192), 28, 8 | (1u << 16)),
         false},
    };
    for (const Case& c : cases) {
        HBITMAP bitmap = Load(Write("case.bmp", c.bytes));
        EXPECT_EQ(bitmap != nullptr, c.loads) << c.what;
        if (bitmap) DeleteObject(bitmap);
    }
}

TEST_F(BmpFiles, OtherFormatsAreRefusedWhateverTheirName) {
    const std::string refused[] = {
        Write("png.bmp", ReadBytes(kSuite + "reference/rgb24.png")),
        Write("jpeg.bmp", ReadBytes(kSuite + "reference/rgb24.jpg")),
        Write("gif.bmp", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'}),
        Write("empty.bmp", {}),
        Write("bm-only.bmp", {'B', 'M'}),
        kSuite + "questionable/rgb24jpeg.bmp",  // a BMP header around JPEG or PNG data
        kSuite + "questionable/rgb24png.bmp",
    };
    for (const std::string& path : refused) EXPECT_EQ(Load(path), nullptr) << path;
}

TEST_F(BmpFiles, MissingFilesAndFoldersAreNotFound) {
    for (const std::string& path : {dir_ + "/absent.bmp", dir_, std::string()}) {
        SetLastError(0);
        EXPECT_EQ(Load(path), nullptr) << path;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << path;
    }
}

TEST_F(BmpFiles, RelativeNamesAreFoundInTheCurrentDirectory) {
    const std::string saved = std::filesystem::current_path();
    std::filesystem::current_path(kSuite + "good");
    HBITMAP bitmap = Load("pal8.bmp");
    std::filesystem::current_path(saved);
    ASSERT_NE(bitmap, nullptr);
    DeleteObject(bitmap);
    EXPECT_EQ(Load("pal8.bmp"), nullptr);  // only found from the folder that holds it
}

TEST_F(BmpFiles, FormsOtherThanABitmapFileFail) {
    const std::string path = kSuite + "good/pal8.bmp";
    struct Case {
        const char* what;
        LPCSTR name;
        UINT type;
        int width, height;
        UINT flags;
        DWORD error;
    };
    const Case cases[] = {
        {"resource", path.c_str(), IMAGE_BITMAP, 0, 0, 0, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"resource ordinal", MAKEINTRESOURCEA(1), IMAGE_BITMAP, 0, 0, 0, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"icon file", path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE, ERROR_INVALID_PARAMETER},
        {"cursor file", path.c_str(), IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE, ERROR_INVALID_PARAMETER},
        {"stretched", path.c_str(), IMAGE_BITMAP, 10, 10, LR_LOADFROMFILE, ERROR_INVALID_PARAMETER},
        {"DIB section", path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | 0x2000, ERROR_INVALID_PARAMETER},
        {"null name", nullptr, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(LoadImageA(nullptr, c.name, c.type, c.width, c.height, c.flags), nullptr) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
}

}  // namespace
