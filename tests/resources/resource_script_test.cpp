// The program's compiled resource script, read back the way the program and the layer read it: strings,
// menu, accelerators, version dialog, icon groups, and the language of every entry.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"
// The header the script is compiled against on Linux repeats constants of <windows.h>; any value that
// differs is a macro redefinition, which the build's -Werror turns into a compile error here.
#include "resources/rc/winresrc.h"
#include "resources/dialog_template.h"
#include "resources/icon_object.h"
#include "base/module_object.h"
#include "resources/res_file.h"

namespace {

HINSTANCE Program() { return GetModuleHandleA(nullptr); }

std::string LoadString(UINT id) {
    char buffer[100];
    int length = LoadStringA(Program(), id, buffer, sizeof buffer);
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer));
    return buffer;
}

std::string MenuString(HMENU menu, UINT item, UINT flags) {
    char buffer[100] = {};
    GetMenuStringA(menu, item, buffer, sizeof buffer, flags);
    return buffer;
}

w32::ResourceEntry FindEntry(LPCSTR type, WORD name) {
    w32::ResourceEntry entry;
    EXPECT_TRUE(w32::FindModuleResource(Program(), w32::ResourceName::FromAnsi(type),
                                        w32::ResourceName::Ordinal(name), &entry));
    return entry;
}

WORD Word(const uint8_t* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD Dword(const uint8_t* p) { return Word(p) | (DWORD{Word(p + 2)} << 16); }

TEST(ResourceScript, HoldsExactlyTheProgramsEntriesAllInJapanese) {
    const w32::ModuleObject* module = w32::ProgramModuleObject();
    ASSERT_NE(module->resBytes, nullptr);
    std::set<std::pair<int, int>> entries;
    int count = 0;
    bool complete = w32::ForEachResourceEntry(module->resBytes, module->resSize, [&](const w32::ResourceEntry& e) {
        if (count++ == 0) return true;  // the leading empty entry of every .res file
        EXPECT_TRUE(e.type.isOrdinal);
        EXPECT_TRUE(e.name.isOrdinal);
        EXPECT_EQ(e.language, 0x0411) << e.type.ordinal << "/" << e.name.ordinal;
        entries.insert({e.type.ordinal, e.name.ordinal});
        return true;
    });
    EXPECT_TRUE(complete);
    // Icons 1..3 are the images of the two groups; strings 103 and 109 share block 7.
    const std::set<std::pair<int, int>> expected = {{3, 1}, {3, 2}, {3, 3}, {4, IDR_MAIN_MENU},
                                                    {5, IDD_VERSION}, {6, 7}, {9, IDR_MAIN_ACCEL},
                                                    {14, IDI_MAIN}, {14, IDI_MAIN_SMALL}};
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(count, 10);
}

TEST(ResourceScript, StringTableHoldsTitleAndClassName) {
    EXPECT_EQ(LoadString(IDS_WINDOW_TITLE), "Pelomi2");
    EXPECT_EQ(LoadString(IDS_WINDOW_CLASS), "Pelomi");
    // The block of ids 96..111 holds nothing else.
    for (UINT id = 96; id < 112; ++id) {
        if (id == IDS_WINDOW_TITLE || id == IDS_WINDOW_CLASS) continue;
        EXPECT_EQ(LoadString(id), "") << id;
    }
}

TEST(ResourceScript, MenuHasTheTwoPopupsAndThreeCommandsInOrder) {
    HMENU menu = LoadMenuA(Program(), MAKEINTRESOURCEA(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    struct Item {
        const char* text;
        UINT id;
    };
    struct Popup {
        const char* text;
        std::vector<Item> items;
    };
    const Popup expected[] = {
        {u8"ﾌｧｲﾙ(&F)", {{u8"口パクファイルを開く", IDM_OPEN_SHEET}, {u8"ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", IDM_QUIT}}},
        {u8"ﾍﾙﾌﾟ(&H)", {{u8"ﾊﾞｰｼﾞｮﾝ情報(&A) ...", IDM_VERSION}}},
    };
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    for (int p = 0; p < 2; ++p) {
        SCOPED_TRACE(p);
        EXPECT_EQ(MenuString(menu, p, MF_BYPOSITION), expected[p].text);
        EXPECT_EQ(GetMenuItemID(menu, p), static_cast<UINT>(-1));  // popups have no command
        HMENU popup = GetSubMenu(menu, p);
        ASSERT_NE(popup, nullptr);
        ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(expected[p].items.size()));
        for (size_t i = 0; i < expected[p].items.size(); ++i) {
            const Item& item = expected[p].items[i];
            EXPECT_EQ(GetMenuItemID(popup, static_cast<int>(i)), item.id);
            EXPECT_EQ(GetSubMenu(popup, static_cast<int>(i)), nullptr);
            EXPECT_EQ(MenuString(popup, static_cast<UINT>(i), MF_BYPOSITION), item.text);
            // The menu bar finds every command in its popups.
            EXPECT_EQ(MenuString(menu, item.id, MF_BYCOMMAND), item.text);
        }
    }
    EXPECT_TRUE(DestroyMenu(menu));
}

TEST(ResourceScript, AcceleratorsAreAltQuestionMarkAndAltSlashForTheVersionCommand) {
    HACCEL table = LoadAcceleratorsA(Program(), MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    ASSERT_NE(table, nullptr);
    ACCEL entries[3] = {};
    ASSERT_EQ(CopyAcceleratorTableA(table, entries, 3), 2);
    const ACCEL expected[] = {{FALT, '?', IDM_VERSION}, {FALT, '/', IDM_VERSION}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i].fVirt, expected[i].fVirt);  // character entries: no FVIRTKEY
        EXPECT_EQ(entries[i].key, expected[i].key);
        EXPECT_EQ(entries[i].cmd, expected[i].cmd);
    }
    // As compiled: the last entry carries the 0x80 end flag.
    w32::ResourceEntry raw = FindEntry(RT_ACCELERATOR, IDR_MAIN_ACCEL);
    ASSERT_EQ(raw.size, 16u);
    EXPECT_EQ(Word(raw.data), FALT);
    EXPECT_EQ(Word(raw.data + 8), FALT | 0x80);
}

TEST(ResourceScript, VersionDialogTemplate) {
    w32::DialogTemplate dialog;
    ASSERT_TRUE(w32::LoadDialogTemplate(Program(), MAKEINTRESOURCEA(IDD_VERSION), &dialog));
    EXPECT_FALSE(dialog.extended);
    EXPECT_EQ(dialog.style, static_cast<DWORD>(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT));
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.x, 22);
    EXPECT_EQ(dialog.y, 17);
    EXPECT_EQ(dialog.cx, 230);
    EXPECT_EQ(dialog.cy, 75);
    EXPECT_TRUE(dialog.menu.IsEmpty());
    EXPECT_TRUE(dialog.windowClass.IsEmpty());
    EXPECT_EQ(dialog.title, u8"ﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_TRUE(dialog.hasFont);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.faceName, "System");

    struct Control {
        WORD classAtom;
        DWORD id;
        short x, y, cx, cy;
        DWORD style;
        WORD iconOrdinal;  // 0: `text` instead
        const char* text;
    };
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const Control expected[] = {
        {w32::kStaticClassAtom, 2, 14, 9, 20, 20, child | SS_ICON, IDI_MAIN, nullptr},
        {w32::kStaticClassAtom, 0xFFFF, 49, 10, 119, 8, child | WS_GROUP | SS_LEFT | SS_NOPREFIX, 0, "Pelomi Ver2.0"},
        {w32::kStaticClassAtom, 0xFFFF, 49, 20, 144, 8, child | WS_GROUP | SS_LEFT, 0,
         u8"マイクの音に合わせて顔が動きます"},
        {w32::kButtonClassAtom, IDOK, 195, 6, 30, 11, child | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, "OK"},
    };
    ASSERT_EQ(dialog.items.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const w32::DialogItemTemplate& item = dialog.items[i];
        EXPECT_TRUE(item.windowClass.isOrdinal);
        EXPECT_EQ(item.windowClass.ordinal, expected[i].classAtom);
        EXPECT_EQ(item.id, expected[i].id);
        EXPECT_EQ(item.x, expected[i].x);
        EXPECT_EQ(item.y, expected[i].y);
        EXPECT_EQ(item.cx, expected[i].cx);
        EXPECT_EQ(item.cy, expected[i].cy);
        EXPECT_EQ(item.style, expected[i].style);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.text.isOrdinal, expected[i].iconOrdinal != 0);
        if (expected[i].iconOrdinal != 0) {
            EXPECT_EQ(item.text.ordinal, expected[i].iconOrdinal);
        } else {
            EXPECT_EQ(item.text.text, expected[i].text);
        }
        EXPECT_TRUE(item.creationData.empty());
    }
}

// GRPICONDIRENTRY fields as the group resource lists them.
struct GroupImage {
    int width, height, colours, planes, bitCount;
};

std::vector<GroupImage> GroupImages(WORD group) {
    w32::ResourceEntry entry = FindEntry(RT_GROUP_ICON, group);
    std::vector<GroupImage> images;
    if (entry.size < 6 || Word(entry.data + 2) != 1) return images;
    for (size_t i = 0; i < Word(entry.data + 4) && 6 + 14 * (i + 1) <= entry.size; ++i) {
        const uint8_t* e = entry.data + 6 + 14 * i;
        images.push_back({e[0], e[1], e[2], Word(e + 4), Word(e + 6)});
        // The RT_ICON it names is a 16-colour DIB of that size, height doubled for the AND mask.
        w32::ResourceEntry icon = FindEntry(RT_ICON, Word(e + 12));
        EXPECT_EQ(icon.size, Dword(e + 8));
        EXPECT_GE(icon.size, 40u);
        if (icon.size < 40) continue;
        EXPECT_EQ(Dword(icon.data + 4), DWORD{e[0]});
        EXPECT_EQ(Dword(icon.data + 8), 2u * e[1]);
        EXPECT_EQ(Word(icon.data + 14), 4);
    }
    return images;
}

TEST(ResourceScript, IconGroupsAre16ColourFacesOfTheListedSizes) {
    std::vector<GroupImage> main = GroupImages(IDI_MAIN);
    ASSERT_EQ(main.size(), 2u);
    EXPECT_EQ(main[0].width, 32);
    EXPECT_EQ(main[0].height, 32);
    EXPECT_EQ(main[1].width, 16);
    EXPECT_EQ(main[1].height, 16);
    std::vector<GroupImage> small = GroupImages(IDI_MAIN_SMALL);
    ASSERT_EQ(small.size(), 1u);
    EXPECT_EQ(small[0].width, 16);
    for (const auto& image : {main[0], main[1], small[0]}) {
        EXPECT_EQ(image.colours, 16);
        EXPECT_EQ(image.planes, 1);
        EXPECT_EQ(image.bitCount, 4);
    }

    // Decoded: transparent corners, an opaque yellow face and a red mouth below its centre.
    HICON icon = LoadIconA(Program(), MAKEINTRESOURCEA(IDI_MAIN));
    ASSERT_NE(icon, nullptr);
    for (int size : {32, 16}) {
        SCOPED_TRACE(size);
        w32::IconImage image;
        ASSERT_TRUE(w32::GetIconImage(icon, size, &image));
        ASSERT_EQ(image.width, size);
        ASSERT_EQ(image.height, size);
        auto at = [&](int x, int y) { return image.pixels[static_cast<size_t>(y) * size + x]; };
        for (auto corner : {std::make_pair(0, 0), std::make_pair(size - 1, 0), std::make_pair(0, size - 1),
                            std::make_pair(size - 1, size - 1)})
            EXPECT_EQ(at(corner.first, corner.second) >> 24, 0u);
        EXPECT_EQ(at(size / 2, size / 4), 0xFFFFFF00u);      // forehead
        EXPECT_EQ(at(size / 2, size * 11 / 16), 0xFFFF0000u);  // mouth
    }
    HICON small16 = LoadIconA(Program(), MAKEINTRESOURCEA(IDI_MAIN_SMALL));
    ASSERT_NE(small16, nullptr);
    w32::IconImage image;
    ASSERT_TRUE(w32::GetIconImage(small16, 32, &image));
    EXPECT_EQ(image.width, 16);  // its only image
}

}  // namespace
