// LoadImageA on BMP files: our own conformance set (written by scripts/make-bmp-set with the pixels each file
// must give, or marked to be refused), large sheets, missing files, relative names, forms other than a bitmap
// file; and the public bmpsuite against its reference renderings when it is present (never required).
// Leaves out resources, icons and cursors beyond failing.
#include <gtest/gtest.h>
#include <windows.h>
#ifndef _WIN32
#include <gdk-pixbuf/gdk-pixbuf.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bmp_file.h"
#include "conformance.h"
#include "gdi_test_util.h"

namespace {

const std::string kOwnSet = PELOMI_BMP_SET_DIR "/";
const std::string kSuite = PELOMI_BMPSUITE_DIR "/";

// Lines of a tab-separated manifest after its column names, split into fields.
std::vector<std::vector<std::string>> ReadManifest(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream manifest(path);
    std::string line;
    std::getline(manifest, line);
    while (std::getline(manifest, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> colour;  // 0x00RRGGBB, top row first
    std::vector<uint8_t> alpha;
};

// Expected pixels (our set's PPM files, bmpsuite's PNG renderings and one JPEG), decoded by the test with
// gdk-pixbuf's loaders for those formats: never with the BMP decoder under test. The Windows build reads our
// set's binary PPM files itself and leaves bmpsuite out.
#ifdef _WIN32
bool ReadReference(const std::string& path, Picture* picture) {
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    int maximum = 0;
    if (!(file >> magic >> picture->width >> picture->height >> maximum) || magic != "P6" || maximum != 255)
        return false;
    file.get();  // the one whitespace byte before the pixels
    std::vector<unsigned char> bytes(static_cast<size_t>(picture->width) * picture->height * 3);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) return false;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        picture->colour.push_back((uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2]);
        picture->alpha.push_back(255);
    }
    return true;
}
#else
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
#endif

HBITMAP Load(const std::string& path) {
    return static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
}

// Channels may differ by `tolerance`; pixels the reference leaves fully transparent are not compared,
// since a loader that drops alpha shows whatever colour the file stored there.
int CountMismatches(const Picture& reference, const std::vector<uint32_t>& loaded, int tolerance,
                    std::string* first) {
    if (loaded.size() != reference.colour.size()) {
        *first = "sizes differ";
        return -1;
    }
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

// Checks what every loaded bitmap must be: a 32-bit display-compatible bitmap, not a DIB section.
std::vector<uint32_t> ReadLoaded(HBITMAP bitmap, Picture* size) {
    BITMAP record;
    EXPECT_EQ(GetObjectA(bitmap, sizeof record, &record), static_cast<int>(sizeof record));
    EXPECT_EQ(record.bmBitsPixel, 32);
    EXPECT_EQ(record.bmBits, nullptr);
    size->width = record.bmWidth;
    size->height = record.bmHeight;
    return gditest::ReadBitmap(bitmap);
}

std::string TestName(const std::string& file) {
    std::string name;
    for (char c : file) name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// ---- Our own set: one case per manifest line --------------------------------------------------------------

struct OwnCase {
    std::string name;
    bool loads = false;
    std::string what;
};

std::vector<OwnCase> OwnCases() {
    std::vector<OwnCase> cases;
    for (const auto& fields : ReadManifest(kOwnSet + "manifest.tsv"))
        if (fields.size() == 3) cases.push_back({fields[0], fields[1] == "load", fields[2]});
    return cases;
}

void PrintTo(const OwnCase& entry, std::ostream* out) { *out << entry.name; }

class OwnBmpSet : public gditest::HandleLeakCheck, public ::testing::WithParamInterface<OwnCase> {};

TEST_P(OwnBmpSet, GivesItsPixelsOrIsRefused) {
    const OwnCase& entry = GetParam();
    HBITMAP bitmap = Load(kOwnSet + entry.name + ".bmp");
    if (!entry.loads) {
        EXPECT_EQ(bitmap, nullptr) << entry.what;
        if (bitmap) DeleteObject(bitmap);
        return;
    }
    ASSERT_NE(bitmap, nullptr) << entry.what;
    Picture want, got;
    ASSERT_TRUE(ReadReference(kOwnSet + entry.name + ".ppm", &want));
    std::vector<uint32_t> pixels = ReadLoaded(bitmap, &got);
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
    std::string first;
    EXPECT_EQ(CountMismatches(want, pixels, 0, &first), 0) << entry.what << ": " << first;
    EXPECT_TRUE(DeleteObject(bitmap));
}

// Files to be refused are named refused_..., so that wine-expectations.txt names them together.
INSTANTIATE_TEST_SUITE_P(Manifest, OwnBmpSet, ::testing::ValuesIn(OwnCases()),
                         [](const ::testing::TestParamInfo<OwnCase>& info) {
                             return (info.param.loads ? "" : "refused_") + TestName(info.param.name);
                         });

// ---- bmpsuite, when it is there ---------------------------------------------------------------------------

struct SuiteEntry {
    std::string file;      // relative to the suite, e.g. good/pal1.bmp; empty when the suite is absent
    std::string category;  // good, questionable or bad
    std::string reference; // file in reference/, or "-"
};

std::vector<SuiteEntry> SuiteEntries() {
    std::vector<SuiteEntry> entries;
    for (const auto& fields : ReadManifest(kSuite + "manifest.tsv"))
        if (fields.size() >= 3) entries.push_back({fields[0], fields[1], fields[2]});
    if (entries.empty()) entries.push_back({});  // one case that says the suite was not found
    return entries;
}

void PrintTo(const SuiteEntry& entry, std::ostream* out) { *out << entry.file; }

class BmpSuite : public gditest::HandleLeakCheck, public ::testing::WithParamInterface<SuiteEntry> {};

TEST_P(BmpSuite, LoadsAsItsCategoryAllows) {
    const SuiteEntry& entry = GetParam();
    if (entry.file.empty()) GTEST_SKIP() << "no bmpsuite at " << kSuite << " (optional)";
    HBITMAP bitmap = Load(kSuite + entry.file);
    if (entry.category == "good") {
        ASSERT_NE(bitmap, nullptr) << "a good file must load";
    }
    if (!bitmap) return;
    Picture got;
    std::vector<uint32_t> pixels = ReadLoaded(bitmap, &got);
    if (entry.category == "good") {
        Picture reference;
        ASSERT_TRUE(ReadReference(kSuite + "reference/" + entry.reference, &reference));
        ASSERT_EQ(got.width, reference.width);
        ASSERT_EQ(got.height, reference.height);
        // 5- and 6-bit channels are widened with differing rounding.
        const int tolerance = entry.file.find("rgb16") != std::string::npos ? 2 : 0;
        std::string first;
        EXPECT_EQ(CountMismatches(reference, pixels, tolerance, &first), 0) << first;
    }
    EXPECT_TRUE(DeleteObject(bitmap));
}

INSTANTIATE_TEST_SUITE_P(Manifest, BmpSuite, ::testing::ValuesIn(SuiteEntries()),
                         [](const ::testing::TestParamInfo<SuiteEntry>& info) {
                             return info.param.file.empty() ? std::string("absent") : TestName(info.param.file);
                         });

// Windows shows a BMP's colours and ignores its alpha (or the unused byte of a 32-bit BI_RGB file).
TEST(BmpAlpha, IsDroppedAndEveryColourKept) {
    if (!std::filesystem::exists(kSuite + "manifest.tsv")) GTEST_SKIP() << "no bmpsuite at " << kSuite;
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

// ---- Files made here --------------------------------------------------------------------------------------

// Files written by the tests below live in a fresh folder that is removed afterwards.
class BmpFiles : public gditest::HandleLeakCheck {
  protected:
    void SetUp() override {
        HandleLeakCheck::SetUp();
        dir_ = testbmp::TempDir();
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

void PutU32(std::vector<unsigned char>* bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes->at(at + i) = static_cast<unsigned char>(value >> (8 * i));
}

// An 8-bit sheet, BI_RGB or RLE8 (runs and end-of-line only, as paint programs write it), whose pixel (x, y)
// from the top-left is grey level index(x, y).
std::vector<unsigned char> Sheet8(int width, int height, bool rle, unsigned char (*index)(int, int)) {
    std::vector<unsigned char> bytes(54 + 1024);
    for (int i = 0; i < 256; ++i)
        for (int channel = 0; channel < 3; ++channel) bytes[54 + i * 4 + channel] = static_cast<unsigned char>(i);
    for (int y = height - 1; y >= 0; --y) {
        if (!rle) {
            for (int x = 0; x < width; ++x) bytes.push_back(index(x, y));
            bytes.resize(bytes.size() + (-width & 3));
            continue;
        }
        for (int x = 0; x < width;) {
            int run = 1;
            while (run < 255 && x + run < width && index(x + run, y) == index(x, y)) ++run;
            bytes.push_back(static_cast<unsigned char>(run));
            bytes.push_back(index(x, y));
            x += run;
        }
        bytes.insert(bytes.end(), {0, 0});
    }
    if (rle) bytes.insert(bytes.end(), {0, 1});
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutU32(&bytes, 2, static_cast<uint32_t>(bytes.size()));
    PutU32(&bytes, 10, 54 + 1024);
    PutU32(&bytes, 14, 40);
    PutU32(&bytes, 18, static_cast<uint32_t>(width));
    PutU32(&bytes, 22, static_cast<uint32_t>(height));
    PutU32(&bytes, 26, 1 | (8 << 16));
    PutU32(&bytes, 30, rle ? 1 : 0);
    return bytes;
}

unsigned char Tiles(int x, int y) { return static_cast<unsigned char>((x / 512 + y / 512) * 40 + (x % 7 == 0)); }

// 512-pixel cells, five to a row and twenty rows: as large as sheets come, and it must load whole.
TEST_F(BmpFiles, LargeSheetsLoadWhole) {
    for (bool rle : {false, true}) {
        HBITMAP bitmap = Load(Write("sheet.bmp", Sheet8(2560, 10240, rle, Tiles)));
        ASSERT_NE(bitmap, nullptr) << rle;
        Picture size;
        const std::vector<uint32_t> pixels = ReadLoaded(bitmap, &size);
        ASSERT_EQ(size.width, 2560);
        ASSERT_EQ(size.height, 10240);
        for (int y : {0, 511, 512, 5000, 10239}) {
            for (int x : {0, 1, 7, 2559}) {
                const uint32_t grey = Tiles(x, y);
                EXPECT_EQ(pixels[static_cast<size_t>(y) * 2560 + x], grey * 0x010101u) << x << "," << y << " " << rle;
            }
        }
        DeleteObject(bitmap);
    }
}

TEST_F(BmpFiles, MissingFilesAndFoldersAreNotFound) {
    for (const std::string& path : {dir_ + "/absent.bmp", dir_, std::string()}) {
        SetLastError(0);
        EXPECT_EQ(Load(path), nullptr) << path;
        LAYER_CHOICE(EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << path);  // codes left open
    }
}

// Our choice: LoadImageA names every file it cannot load on stderr with the reason, one line a call, since
// the program shows nothing else.
#ifndef _WIN32  // layer only: naming the file on stderr is our choice
TEST_F(BmpFiles, WhatCannotBeLoadedIsNamedOnStderrWithTheReason) {
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {dir_ + "/absent.bmp", "no such file"},
        {dir_, "not a file"},
        {Write("empty.bmp", {}), "an empty file"},
        {kOwnSet + "png-content.bmp", "a PNG picture, not a BMP file"},
        {kOwnSet + "jpeg-content.bmp", "a JPEG picture, not a BMP file"},
        {kOwnSet + "cut-pal4-118.bmp", "cut short"},
        {kOwnSet + "rle8-cut.bmp", "cut short"},
        {kOwnSet + "header-64.bmp", "a kind of BMP header we do not read"},
        {kOwnSet + "width-65536.bmp", "a picture size we refuse (none, negative, or too large)"},
        {kOwnSet + "compression-6.bmp", "an encoding we do not read"},
    };
    for (const auto& c : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Load(c.path), nullptr);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "load_image_test: picture \"" + c.path + "\" not loaded: " + c.reason + "\n");
    }
    ::testing::internal::CaptureStderr();
    HBITMAP loaded = Load(kOwnSet + "pal8-256.bmp");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    DeleteObject(loaded);
}
#endif

TEST_F(BmpFiles, RelativeNamesAreFoundInTheCurrentDirectory) {
    const std::string saved = std::filesystem::current_path().string();
    std::filesystem::current_path(kOwnSet);
    HBITMAP bitmap = Load("pal8-256.bmp");
    std::filesystem::current_path(saved);
    ASSERT_NE(bitmap, nullptr);
    DeleteObject(bitmap);
    EXPECT_EQ(Load("pal8-256.bmp"), nullptr);  // only found from the folder that holds it
}

TEST_F(BmpFiles, FormsOtherThanABitmapFileFail) {
    const std::string path = kOwnSet + "pal8-256.bmp";
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
        {"null name", nullptr, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(LoadImageA(nullptr, c.name, c.type, c.width, c.height, c.flags), nullptr) << c.what;
        LAYER_CHOICE(EXPECT_EQ(GetLastError(), c.error) << c.what);  // error codes left open
    }
}

}  // namespace
