// The icon files are generated: scripts/make-icons writes the committed .ico and .png files byte for byte, and the
// compiled resources carry exactly the images of those files.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "resource.h"
#include "resources/res_file.h"

namespace {

const std::string kIconDir = std::string(PELOMI_SOURCE_DIR) + "/app/icons/";

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Dword(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (uint32_t{bytes[at + 3]} << 24);
}

TEST(MakeIcons, ScriptReproducesTheCommittedFiles) {
    char dir[] = "/tmp/pelomi-icons-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string command = "python3 '" PELOMI_SOURCE_DIR "/scripts/make-icons' '" + std::string(dir) + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char* name : {"pelomi.ico", "pelomi_small.ico", "pelomi_16.png", "pelomi_24.png", "pelomi_32.png",
                             "pelomi_48.png", "pelomi_64.png", "pelomi_128.png", "pelomi_256.png"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> committed = ReadFile(kIconDir + name);
        ASSERT_FALSE(committed.empty());
        EXPECT_EQ(ReadFile(std::string(dir) + "/" + name), committed);
        std::remove((std::string(dir) + "/" + name).c_str());
    }
    rmdir(dir);
}

TEST(MakeIcons, CompiledIconsAreTheImagesOfTheFiles) {
    struct Group {
        WORD id;
        const char* file;
    };
    for (const Group& group : {Group{IDI_MAIN, "pelomi.ico"}, Group{IDI_MAIN_SMALL, "pelomi_small.ico"}}) {
        SCOPED_TRACE(group.file);
        std::vector<uint8_t> ico = ReadFile(kIconDir + group.file);
        ASSERT_GE(ico.size(), 6u);
        w32::ResourceEntry directory;
        ASSERT_TRUE(w32::FindModuleResource(nullptr, w32::ResourceName::FromAnsi(RT_GROUP_ICON),
                                            w32::ResourceName::Ordinal(group.id), &directory));
        size_t count = ico[4];
        ASSERT_EQ(directory.size, 6 + 14 * count);
        for (size_t i = 0; i < count; ++i) {
            // The group entry names the RT_ICON that holds the file's i-th image.
            const uint8_t* entry = directory.data + 6 + 14 * i;
            WORD iconId = static_cast<WORD>(entry[12] | (entry[13] << 8));
            w32::ResourceEntry image;
            ASSERT_TRUE(w32::FindModuleResource(nullptr, w32::ResourceName::FromAnsi(RT_ICON),
                                                w32::ResourceName::Ordinal(iconId), &image));
            uint32_t size = Dword(ico, 6 + 16 * i + 8);
            uint32_t offset = Dword(ico, 6 + 16 * i + 12);
            ASSERT_LE(size_t{offset} + size, ico.size());
            EXPECT_EQ(std::vector<uint8_t>(image.data, image.data + image.size),
                      std::vector<uint8_t>(ico.begin() + offset, ico.begin() + offset + size));
        }
    }
}

}  // namespace
