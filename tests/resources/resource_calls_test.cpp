// The USER resource calls on resources built in the test: LoadStringA's truncation forms, FindResource's
// name and language rules, menu read-back, icon decoding and choice, and the ANSI code page conversions.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/ansi_codepage.h"
#include "base/handle_table.h"
#include "res_builder.h"
#include "resources/icon_object.h"
#include "resources/menu_object.h"

namespace {

constexpr WORD kRtMenu = 4, kRtString = 6, kRtIcon = 3, kRtGroupIcon = 14;
constexpr char kSentinel = 0x7F;

restest::Entry Resource(WORD type, WORD name, std::vector<uint8_t> data, WORD language = 0x0411) {
    restest::Entry entry;
    entry.typeOrdinal = type;
    entry.nameOrdinal = name;
    entry.language = language;
    entry.data = std::move(data);
    return entry;
}

void PutWord(std::vector<uint8_t>& out, WORD value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutText(std::vector<uint8_t>& out, const std::u16string& text) {
    for (char16_t c : text) PutWord(out, c);
    PutWord(out, 0);
}

// Strings 1..3 and 17: ASCII, three 3-byte characters, a 4-byte character, and one in the next block.
std::vector<uint8_t> StringResources() {
    return restest::BuildRes({Resource(kRtString, 1, restest::StringBlock({u"", u"abc", u"口パク", u"\U0001F600"})),
                              Resource(kRtString, 2, restest::StringBlock({u"", u"next block"}))});
}

TEST(LoadString, TruncatesToWholeCharactersAndTerminates) {
    restest::ScopedResources resources(StringResources());
    struct Case {
        UINT id;
        int bufferMax;
        int length;
        const char* text;
    };
    const Case cases[] = {
        {1, 100, 3, "abc"},
        {1, 4, 3, "abc"},
        {1, 3, 2, "ab"},
        {1, 1, 0, ""},
        {2, 10, 9, u8"口パク"},
        {2, 9, 6, u8"口パ"},  // 8 bytes of room: the third character does not fit whole
        {2, 7, 6, u8"口パ"},
        {2, 6, 3, u8"口"},
        {2, 3, 0, ""},
        {3, 5, 4, u8"\U0001F600"},
        {3, 4, 0, ""},
        {17, 20, 10, "next block"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "id " << c.id << ", bufferMax " << c.bufferMax);
        char buffer[32];
        std::memset(buffer, kSentinel, sizeof buffer);
        EXPECT_EQ(LoadStringA(nullptr, c.id, buffer, c.bufferMax), c.length);
        EXPECT_STREQ(buffer, c.text);
        for (size_t i = std::strlen(c.text) + 1; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], kSentinel) << i;
    }
}

TEST(LoadString, MissingStringsGiveAnEmptyBufferAndBadArgumentsWriteNothing) {
    restest::ScopedResources resources(StringResources());
    char buffer[8];
    for (UINT id : {0u, 4u, 15u, 16u, 18u, 33u, 0xFFFFu}) {
        std::memset(buffer, kSentinel, sizeof buffer);
        EXPECT_EQ(LoadStringA(nullptr, id, buffer, sizeof buffer), 0) << id;
        EXPECT_EQ(buffer[0], '\0') << id;
        EXPECT_EQ(buffer[1], kSentinel) << id;
    }
    // The A function has no read-only pointer form: bufferMax 0 (or less) is refused, like a null buffer.
    for (int bufferMax : {0, -1}) {
        std::memset(buffer, kSentinel, sizeof buffer);
        SetLastError(0);
        EXPECT_EQ(LoadStringA(nullptr, 1, buffer, bufferMax), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(buffer[0], kSentinel);
    }
    EXPECT_EQ(LoadStringA(nullptr, 1, nullptr, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(FindResource, InstanceNameAndLanguageRules) {
    char buffer[32];
    {
        // Japanese wins over an entry listed before it in another language.
        restest::ScopedResources resources(restest::BuildRes(
            {Resource(kRtString, 1, restest::StringBlock({u"", u"english"}), 0x0409),
             Resource(kRtString, 1, restest::StringBlock({u"", u"日本語"}), 0x0411)}));
        EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 1, buffer, sizeof buffer), 9);
        EXPECT_STREQ(buffer, u8"日本語");
    }
    {
        restest::ScopedResources resources(
            restest::BuildRes({Resource(kRtString, 1, restest::StringBlock({u"", u"english"}), 0x0409)}));
        EXPECT_EQ(LoadStringA(nullptr, 1, buffer, sizeof buffer), 7);
    }
    {
        // String names match without regard to case; "#5" names the ordinal 5.
        std::vector<uint8_t> menu = {0, 0, 0, 0};
        PutWord(menu, MF_END);
        PutWord(menu, 7);
        PutText(menu, u"Only");
        restest::Entry named = Resource(kRtMenu, 0, menu);
        named.name = u"MAINMENU";
        restest::ScopedResources resources(restest::BuildRes({named, Resource(kRtMenu, 5, menu)}));
        for (LPCSTR name : std::vector<LPCSTR>{"MainMenu", "MAINMENU", "#5", MAKEINTRESOURCEA(5)}) {
            HMENU loaded = LoadMenuA(nullptr, name);
            EXPECT_NE(loaded, nullptr) << reinterpret_cast<uintptr_t>(name);
            EXPECT_EQ(GetMenuItemID(loaded, 0), 7u);
            DestroyMenu(loaded);
        }
        SetLastError(0);
        EXPECT_EQ(LoadMenuA(nullptr, "OTHER"), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
        EXPECT_EQ(LoadStringA(nullptr, 1, buffer, sizeof buffer), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
        // A handle that is no module.
        HMENU notAModule = LoadMenuA(nullptr, "#5");
        EXPECT_EQ(LoadMenuA(reinterpret_cast<HINSTANCE>(notAModule), "#5"), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        DestroyMenu(notAModule);
    }
    {
        restest::ScopedResources none({});
        SetLastError(0);
        EXPECT_EQ(LoadMenuA(nullptr, "#5"), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    }
}

// "&File" { "&Open\tCtrl+O" 10, separator, "Recent" { "口パク.bmp" 11 }, "E&xit" 12 (grayed) }, "&Help" 13.
std::vector<uint8_t> NestedMenu() {
    std::vector<uint8_t> t = {0, 0, 0, 0};
    auto popup = [&](WORD flags, const std::u16string& text) {
        PutWord(t, MF_POPUP | flags);
        PutText(t, text);
    };
    auto item = [&](WORD flags, WORD id, const std::u16string& text) {
        PutWord(t, flags);
        PutWord(t, id);
        PutText(t, text);
    };
    popup(0, u"&File");
    item(0, 10, u"&Open\tCtrl+O");
    item(0, 0, u"");
    popup(0, u"Recent");
    item(MF_END, 11, u"口パク.bmp");
    item(MF_GRAYED | MF_END, 12, u"E&xit");
    item(MF_END, 13, u"&Help");
    return t;
}

TEST(Menu, ReadBackOfNestedPopupsSeparatorsAndCommands) {
    restest::ScopedResources resources(restest::BuildRes({Resource(kRtMenu, 1, NestedMenu())}));
    size_t menusBefore = w32::LiveHandleCount(w32::HandleKind::Menu);
    HMENU menu = LoadMenuA(nullptr, MAKEINTRESOURCEA(1));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(GetMenuItemID(menu, 1), 13u);
    EXPECT_EQ(GetSubMenu(menu, 1), nullptr);
    HMENU file = GetSubMenu(menu, 0);
    ASSERT_EQ(GetMenuItemCount(file), 4);
    EXPECT_EQ(GetMenuItemID(file, 0), 10u);
    EXPECT_EQ(GetMenuItemID(file, 1), 0u);  // the separator
    EXPECT_EQ(GetMenuItemID(file, 2), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(file, 2)), 1);

    char buffer[32];
    std::memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(GetMenuStringA(file, 1, buffer, sizeof buffer, MF_BYPOSITION), 0);
    EXPECT_STREQ(buffer, "");
    // By command the search goes down into popups; a null buffer or a maxCount of 0 asks for the length.
    EXPECT_EQ(GetMenuStringA(menu, 11, buffer, sizeof buffer, MF_BYCOMMAND), 13);
    EXPECT_STREQ(buffer, u8"口パク.bmp");
    EXPECT_EQ(GetMenuStringA(menu, 11, nullptr, 0, MF_BYCOMMAND), 13);
    char untouched[2] = {kSentinel, kSentinel};
    EXPECT_EQ(GetMenuStringA(menu, 11, untouched, 0, MF_BYCOMMAND), 13);
    EXPECT_EQ(untouched[0], kSentinel);
    EXPECT_EQ(GetMenuStringA(menu, 10, buffer, sizeof buffer, MF_BYCOMMAND), 12);
    EXPECT_STREQ(buffer, "&Open\tCtrl+O");
    std::memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(GetMenuStringA(menu, 11, buffer, 5, MF_BYCOMMAND), 3);
    EXPECT_STREQ(buffer, u8"口");
    EXPECT_EQ(buffer[4], kSentinel);
    EXPECT_EQ(GetMenuStringA(menu, 99, buffer, sizeof buffer, MF_BYCOMMAND), 0);
    EXPECT_EQ(GetMenuStringA(menu, 2, buffer, sizeof buffer, MF_BYPOSITION), 0);
    EXPECT_EQ(GetMenuItemID(menu, 2), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuItemID(menu, -1), static_cast<UINT>(-1));
    EXPECT_EQ(GetSubMenu(menu, -1), nullptr);

    // The copy a display backend builds its menu bar from.
    std::vector<w32::MenuTreeItem> tree;
    ASSERT_TRUE(w32::CopyMenuTree(menu, &tree));
    ASSERT_EQ(tree.size(), 2u);
    ASSERT_TRUE(tree[0].IsPopup());
    ASSERT_EQ(tree[0].children.size(), 4u);
    EXPECT_TRUE(tree[0].children[1].IsSeparator());
    EXPECT_EQ(tree[0].children[2].children[0].id, 11u);
    EXPECT_EQ(tree[0].children[3].flags, static_cast<UINT>(MF_GRAYED));
    EXPECT_EQ(tree[0].children[3].text, "E&xit");
    std::vector<w32::MenuPathStep> path;
    ASSERT_TRUE(w32::FindMenuCommand(menu, 11, &path));
    ASSERT_EQ(path.size(), 3u);
    EXPECT_EQ(path[1].menu, file);
    EXPECT_EQ(path[1].position, 2);

    // DestroyMenu takes the popups with it.
    EXPECT_TRUE(DestroyMenu(menu));
    SetLastError(0);
    EXPECT_EQ(GetMenuItemCount(file), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
    EXPECT_FALSE(DestroyMenu(menu));
    EXPECT_EQ(w32::LiveHandleCount(w32::HandleKind::Menu), menusBefore);

    // A popup destroyed on its own first does not trouble its parent's destruction.
    menu = LoadMenuA(nullptr, MAKEINTRESOURCEA(1));
    EXPECT_TRUE(DestroyMenu(GetSubMenu(menu, 0)));
    EXPECT_EQ(GetSubMenu(GetSubMenu(menu, 0), 2), nullptr);
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_EQ(w32::LiveHandleCount(w32::HandleKind::Menu), menusBefore);
}

TEST(Menu, InvalidHandlesAndExtendedTemplatesFail) {
    std::vector<uint8_t> extended = {1, 0, 4, 0, 0, 0, 0, 0};
    restest::ScopedResources resources(restest::BuildRes({Resource(kRtMenu, 1, extended)}));
    EXPECT_EQ(LoadMenuA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    for (HMENU bad : {static_cast<HMENU>(nullptr), reinterpret_cast<HMENU>(arrow)}) {
        SetLastError(0);
        EXPECT_EQ(GetMenuItemCount(bad), -1);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
        EXPECT_EQ(GetMenuItemID(bad, 0), static_cast<UINT>(-1));
        EXPECT_EQ(GetSubMenu(bad, 0), nullptr);
        char buffer[4] = "xyz";
        EXPECT_EQ(GetMenuStringA(bad, 0, buffer, sizeof buffer, MF_BYPOSITION), 0);
        EXPECT_STREQ(buffer, "xyz");
        EXPECT_FALSE(DestroyMenu(bad));
    }
}

// A square 16-colour icon image whose every pixel has palette index `index`, with the mask clear.
std::vector<uint8_t> IconDib(int size, int bitsPerPixel, uint8_t index) {
    std::vector<uint8_t> dib;
    auto put32 = [&](uint32_t v) {
        PutWord(dib, static_cast<WORD>(v));
        PutWord(dib, static_cast<WORD>(v >> 16));
    };
    put32(40), put32(size), put32(2 * size);
    PutWord(dib, 1), PutWord(dib, static_cast<WORD>(bitsPerPixel));
    for (int i = 0; i < 6; ++i) put32(0);
    for (int i = 0; i < (1 << bitsPerPixel); ++i) put32(i == index ? 0x00123456 : 0);
    size_t colourStride = (static_cast<size_t>(size) * bitsPerPixel + 31) / 32 * 4;
    uint8_t fill = bitsPerPixel == 4 ? static_cast<uint8_t>(index * 0x11) : index;
    dib.insert(dib.end(), colourStride * size, fill);
    dib.insert(dib.end(), (static_cast<size_t>(size) + 31) / 32 * 4 * size, 0);
    return dib;
}

TEST(Icon, BestImageForASizeAndSharedHandles) {
    // Group 1: 16 (4 bpp), 32 (4 bpp), 32 (8 bpp), 48 (4 bpp).
    struct Image {
        int size, bpp;
    };
    const Image images[] = {{16, 4}, {32, 4}, {32, 8}, {48, 4}};
    std::vector<restest::Entry> entries;
    std::vector<uint8_t> group = {0, 0, 1, 0, 4, 0};
    for (WORD i = 0; i < 4; ++i) {
        std::vector<uint8_t> dib = IconDib(images[i].size, images[i].bpp, 3);
        group.insert(group.end(), {static_cast<uint8_t>(images[i].size), static_cast<uint8_t>(images[i].size), 0, 0});
        PutWord(group, 1), PutWord(group, static_cast<WORD>(images[i].bpp));
        PutWord(group, static_cast<WORD>(dib.size())), PutWord(group, 0);
        PutWord(group, static_cast<WORD>(i + 1));
        entries.push_back(Resource(kRtIcon, static_cast<WORD>(i + 1), dib));
    }
    entries.push_back(Resource(kRtGroupIcon, 1, group));
    restest::ScopedResources resources(restest::BuildRes(entries));

    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1)), icon);
    struct Case {
        int asked, width, bpp;
    };
    for (const Case& c : {Case{32, 32, 8}, Case{16, 16, 4}, Case{24, 32, 8}, Case{40, 48, 4}, Case{64, 48, 4},
                          Case{8, 16, 4}}) {
        w32::IconImage image;
        ASSERT_TRUE(w32::GetIconImage(icon, c.asked, &image));
        EXPECT_EQ(image.width, c.width) << c.asked;
        EXPECT_EQ(image.bitsPerPixel, c.bpp) << c.asked;
        EXPECT_EQ(image.pixels[0], 0xFF123456u) << c.asked;
    }
    // A null instance means the system's icons, which have no 1.
    SetLastError(0);
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(2)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST(Icon, DecodesMaskAndAlphaForms) {
    // 2 x 2 at 32 bpp with alpha: the alpha is used as it is, the mask ignored.
    std::vector<uint8_t> dib;
    const uint32_t header[] = {40, 2, 4, 1 | (32 << 16) /* planes, bit count */, 0, 0, 0, 0, 0, 0};
    for (uint32_t v : header) PutWord(dib, static_cast<WORD>(v)), PutWord(dib, static_cast<WORD>(v >> 16));
    const uint8_t pixels[] = {0x10, 0x20, 0x30, 0x80, 0x11, 0x21, 0x31, 0x00,   // bottom row
                              0x12, 0x22, 0x32, 0xFF, 0x13, 0x23, 0x33, 0x40};  // top row
    dib.insert(dib.end(), std::begin(pixels), std::end(pixels));
    dib.insert(dib.end(), 8, 0xFF);  // the mask: all set, ignored
    ASSERT_EQ(dib.size(), 40u + 16 + 8);
    w32::IconImage image;
    ASSERT_TRUE(w32::DecodeIconImage(dib.data(), dib.size(), &image));
    EXPECT_EQ(image.pixels, (std::vector<uint32_t>{0xFF322212, 0x40332313, 0x80302010, 0x00312111}));

    // 16 colours with a mask: set bits are transparent (alpha and colour 0), clear ones opaque.
    std::vector<uint8_t> masked = IconDib(16, 4, 9);
    masked[masked.size() - 16 * 4] = 0x80;  // the first mask row is the bottom row: its first pixel
    ASSERT_TRUE(w32::DecodeIconImage(masked.data(), masked.size(), &image));
    EXPECT_EQ(image.pixels[15 * 16], 0u);
    EXPECT_EQ(image.pixels[15 * 16 + 1], 0xFF123456u);
    EXPECT_EQ(image.pixels[0], 0xFF123456u);
    masked.resize(masked.size() - 1);  // the mask cut short
    EXPECT_FALSE(w32::DecodeIconImage(masked.data(), masked.size(), &image));
}

TEST(Icon, SystemIconAndStockCursorAreSharedAndTellApart) {
    HICON application = LoadIconA(nullptr, IDI_APPLICATION);
    ASSERT_NE(application, nullptr);
    EXPECT_EQ(LoadIconA(nullptr, IDI_APPLICATION), application);
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), arrow);
    EXPECT_NE(arrow, application);

    WORD stock = 0;
    EXPECT_TRUE(w32::GetCursorStockId(arrow, &stock));
    EXPECT_EQ(stock, 32512);
    EXPECT_FALSE(w32::GetCursorStockId(application, &stock));
    w32::IconImage image;
    EXPECT_FALSE(w32::GetIconImage(arrow, 32, &image));
    ASSERT_TRUE(w32::GetIconImage(application, 32, &image));
    EXPECT_EQ(image.width, 32);
    EXPECT_EQ(image.pixels[16 * 32 + 16], 0xFFFFFFFFu);  // the window's white body

    // The program has no cursors of its own.
    SetLastError(0);
    EXPECT_EQ(LoadCursorA(GetModuleHandleA(nullptr), IDC_ARROW), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
}

TEST(AnsiCodePage, ConvertsUtf16AndReplacesMalformedInput) {
    EXPECT_EQ(w32::Utf16ToAnsi(u"Pelomi ﾊﾞｰｼﾞｮﾝ口\U0001F600"), u8"Pelomi ﾊﾞｰｼﾞｮﾝ口\U0001F600");
    EXPECT_EQ(w32::AnsiToUtf16(std::string(u8"ﾍﾙﾌﾟ(&H)\U0001F600")), u"ﾍﾙﾌﾟ(&H)\U0001F600");
    // Unpaired surrogates, either half, anywhere.
    const char16_t loneHigh[] = {u'a', 0xD800, u'b', 0xDC00};
    EXPECT_EQ(w32::Utf16ToAnsi(loneHigh, 4), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    // Truncated, overlong, surrogate-encoding and stray bytes: one U+FFFD per byte that starts no character.
    struct Case {
        std::string in;
        std::u16string out;
    };
    for (const Case& c : {Case{"\xC3", u"\uFFFD"}, Case{"\xC0\xAF", u"\uFFFD\uFFFD"},
                          Case{"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, Case{"a\x80z", u"a\uFFFDz"},
                          Case{"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}})
        EXPECT_EQ(w32::AnsiToUtf16(c.in), c.out) << c.in;

    const std::string text = u8"a口\U0001F600";  // 1 + 3 + 4 bytes
    const size_t expected[] = {0, 1, 1, 1, 4, 4, 4, 4, 8, 8};
    for (size_t maxBytes = 0; maxBytes < 10; ++maxBytes)
        EXPECT_EQ(w32::AnsiPrefixLength(text, maxBytes), expected[maxBytes]) << maxBytes;
}

}  // namespace
