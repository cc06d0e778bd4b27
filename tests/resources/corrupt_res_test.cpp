// Truncated and corrupted resource data never crashes the reader: every resource call is made on the
// program's .res cut at every length, with every entry's payload cut short, and on hand-made malformed
// entries. Results must stay within what the calls promise. Random changes are the fuzzer's
// (fuzz/res_file_fuzzer.cpp, seeded with the same .res).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "res_builder.h"
#include "resource.h"
#include "resources/dialog_template.h"
#include "resources/icon_object.h"

namespace {

// What the calls gave on one set of resources.
struct Outcome {
    int titleLength = 0;
    bool menu = false;
    bool accelerators = false;
    bool icon = false;
    bool dialog = false;
    bool operator==(const Outcome& o) const {
        return titleLength == o.titleLength && menu == o.menu && accelerators == o.accelerators && icon == o.icon &&
               dialog == o.dialog;
    }
};

void CheckMenu(HMENU menu, int depth) {
    int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 0);
    char text[16];
    for (int i = 0; i < count && depth < 40; ++i) {
        int length = GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        ASSERT_GE(length, 0);
        ASSERT_LT(length, 16);
        ASSERT_EQ(text[length], '\0');
        if (HMENU popup = GetSubMenu(menu, i)) CheckMenu(popup, depth + 1);
    }
}

// Makes every resource call the program makes, and checks each result is well formed.
Outcome CallEverything() {
    Outcome outcome;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    char buffer[100];
    std::memset(buffer, 0x7F, sizeof buffer);
    outcome.titleLength = LoadStringA(instance, IDS_WINDOW_TITLE, buffer, sizeof buffer);
    EXPECT_GE(outcome.titleLength, 0);
    EXPECT_LT(outcome.titleLength, 100);
    EXPECT_EQ(std::strlen(buffer), static_cast<size_t>(outcome.titleLength));
    LoadStringA(instance, IDS_WINDOW_CLASS, buffer, sizeof buffer);

    if (HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAIN_MENU))) {
        outcome.menu = true;
        CheckMenu(menu, 0);
        char text[8];
        GetMenuStringA(menu, IDM_VERSION, text, sizeof text, MF_BYCOMMAND);
        EXPECT_TRUE(DestroyMenu(menu));
    }
    if (HACCEL table = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAIN_ACCEL))) {
        outcome.accelerators = true;
        EXPECT_GE(CopyAcceleratorTableA(table, nullptr, 0), 1);
    }
    for (WORD id : {IDI_MAIN, IDI_MAIN_SMALL}) {
        if (HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(id))) {
            outcome.icon = true;
            w32::IconImage image;
            EXPECT_TRUE(w32::GetIconImage(icon, 32, &image));
            EXPECT_EQ(image.pixels.size(), static_cast<size_t>(image.width) * image.height);
        }
    }
    w32::DialogTemplate dialog;
    outcome.dialog = w32::LoadDialogTemplate(instance, MAKEINTRESOURCEA(IDD_VERSION), &dialog);
    return outcome;
}

class CorruptResources : public ::testing::Test {
protected:
    std::vector<uint8_t> program = restest::ProgramResources();
    std::vector<restest::Entry> entries = restest::SplitRes(program);
};

TEST_F(CorruptResources, FileCutAtEveryLength) {
    Outcome full;
    {
        restest::ScopedResources whole(program);
        full = CallEverything();
    }
    EXPECT_EQ(full, (Outcome{7, true, true, true, true}));
    for (size_t length = 0; length < program.size(); ++length) {
        SCOPED_TRACE(length);
        // An exact-size copy, so reading one byte past it is caught by the address sanitizer.
        std::vector<uint8_t> prefix(program.begin(), program.begin() + static_cast<long>(length));
        restest::ScopedResources cut(prefix);
        CallEverything();
        if (HasFatalFailure()) return;
    }
}

TEST_F(CorruptResources, EveryEntryCutShortAtEveryLength) {
    for (size_t e = 0; e < entries.size(); ++e) {
        for (size_t length = 0; length < entries[e].data.size(); ++length) {
            SCOPED_TRACE(::testing::Message() << "entry " << e << " cut to " << length);
            std::vector<restest::Entry> cut = entries;
            cut[e].data.resize(length);
            restest::ScopedResources resources(restest::BuildRes(cut));
            Outcome outcome = CallEverything();
            if (HasFatalFailure()) return;
            // A cut string block or accelerator table never yields more than the whole one.
            EXPECT_LE(outcome.titleLength, 7);
        }
    }
}

void PutWord(std::vector<uint8_t>& out, WORD value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

TEST_F(CorruptResources, HandMadeMalformedEntries) {
    auto withData = [&](WORD type, WORD name, std::vector<uint8_t> data) {
        restest::Entry entry;
        entry.typeOrdinal = type;
        entry.nameOrdinal = name;
        entry.data = std::move(data);
        return restest::BuildRes({entry});
    };
    std::vector<std::vector<uint8_t>> files;
    // Headers that lie about their sizes.
    std::vector<uint8_t> header = withData(6, 7, {});
    header[32 + 4] = 4;  // header size below its own two DWORDs
    files.push_back(header);
    header[32 + 4] = 0xFF, header[32 + 5] = 0xFF, header[32 + 6] = 0xFF, header[32 + 7] = 0xFF;
    files.push_back(header);
    std::vector<uint8_t> data = withData(6, 7, {});
    data[32] = 0xFF, data[33] = 0xFF, data[34] = 0xFF, data[35] = 0xFF;  // data size 4 GiB
    files.push_back(data);
    // A type name whose string never ends.
    std::vector<uint8_t> unterminated(40, 0x41);
    unterminated[0] = 0, unterminated[4] = 40;
    files.push_back(unterminated);
    // A string block claiming a 65535-character string.
    files.push_back(withData(6, 7, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 'P', 0}));
    // Well-formed popups nested a thousand deep (refused, not recursed into), and a popup that never ends.
    std::vector<uint8_t> deep = {0, 0, 0, 0};
    for (int i = 0; i < 1000; ++i) PutWord(deep, MF_POPUP | MF_END), PutWord(deep, 'x'), PutWord(deep, 0);
    PutWord(deep, MF_END), PutWord(deep, 1), PutWord(deep, 'y'), PutWord(deep, 0);
    files.push_back(withData(4, IDR_MAIN_MENU, deep));
    files.push_back(withData(4, IDR_MAIN_MENU, {0, 0, 0, 0, MF_POPUP, 0, 'x', 0, 0, 0}));
    // A menu header that skips past its own end.
    files.push_back(withData(4, IDR_MAIN_MENU, {0, 0, 0xFF, 0xFF}));
    // An accelerator table without its end flag.
    files.push_back(withData(9, IDR_MAIN_ACCEL, {0x10, 0, '?', 0, 104, 0, 0, 0}));
    // A dialog that claims 65535 items, and an extended one cut inside its font.
    std::vector<uint8_t> dialog = {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    files.push_back(withData(5, IDD_VERSION, dialog));
    files.push_back(withData(5, IDD_VERSION, {1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0,
                                              0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0}));
    // Icon groups pointing at missing, tiny and oversized images.
    std::vector<restest::Entry> icons(3);
    icons[0].typeOrdinal = 14, icons[0].nameOrdinal = IDI_MAIN;
    icons[0].data = {0, 0, 1, 0, 3, 0};
    for (WORD id : {1, 2, 9}) {
        icons[0].data.insert(icons[0].data.end(), {32, 32, 16, 0, 1, 0, 4, 0, 0, 0, 0, 0});
        PutWord(icons[0].data, id);
    }
    icons[1].typeOrdinal = 3, icons[1].nameOrdinal = 1;
    icons[1].data = {40, 0, 0, 0};
    icons[2].typeOrdinal = 3, icons[2].nameOrdinal = 2;
    icons[2].data = {40, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 1, 0, 32, 0};  // 256 x 256 claimed, no pixels
    icons[2].data.resize(40, 0);
    files.push_back(restest::BuildRes(icons));

    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        restest::ScopedResources resources(files[i]);
        Outcome outcome = CallEverything();
        if (HasFatalFailure()) return;
        EXPECT_EQ(outcome, Outcome{}) << "nothing in these files is usable";
    }
}

}  // namespace
