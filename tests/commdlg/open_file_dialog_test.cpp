// GetOpenFileNameA with the scripted chooser standing in for the user: the request the chooser sees, what
// the record receives for each answer, its failures, and the thread's messages while the chooser is open.
#include <windows.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "commdlg/file_chooser.h"
#include "testing/scripted_file_chooser.h"
#include "user/input_delivery.h"

using w32::ScriptedFileAnswer;

namespace {

constexpr char kSentinel = '\xCD';
constexpr UINT kNote = WM_USER + 5;
const char kProgramFilter[] = "ビットマップファイル(*.BMP)\0*.bmp\0ぜんぶ(*.*)\0*.*\0";

// What the recording window received, as "MESSAGE wParam" rows.
std::vector<std::string>& Received() {
    static std::vector<std::string> received;
    return received;
}
std::function<void(UINT message, WPARAM wParam)>& OnNote() {
    static std::function<void(UINT, WPARAM)> onNote;
    return onNote;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kNote:
        Received().push_back("note " + std::to_string(wParam));
        if (OnNote()) OnNote()(message, wParam);
        return 0;
    case WM_LBUTTONDOWN:
        Received().push_back("WM_LBUTTONDOWN");
        return 0;
    case WM_LBUTTONUP:
        Received().push_back("WM_LBUTTONUP");
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class OpenFileDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        w32::ResetScriptedFileChooser();
        Received().clear();
        OnNote() = nullptr;
        char pattern[] = "/tmp/pelomi-commdlg-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        for (const char* name : {"sheet.bmp", "noext"}) Touch(name);
        std::memset(file, kSentinel, sizeof file);
        std::memset(title, kSentinel, sizeof title);
        file[0] = '\0';
        std::memset(&record, 0, sizeof record);
        record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
        record.lpstrFilter = kProgramFilter;
        record.lpstrFile = file;
        record.nMaxFile = MAX_PATH;
        record.lpstrFileTitle = title;
        record.nMaxFileTitle = 64;
        record.lpstrTitle = "とっととファイルを選べ。";
        record.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
        record.lpstrDefExt = "bmp";
    }

    void TearDown() override {
        for (const std::string& path : made) std::remove(path.c_str());
        rmdir(dir.c_str());
        if (window != nullptr) DestroyWindow(window);
        MSG msg;
        for (int i = 0; i < 100 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageA(&msg);
        w32::ResetScriptedFileChooser();
        OnNote() = nullptr;
    }

    std::string Touch(const std::string& name) {
        std::string path = dir + "/" + name;
        std::FILE* created = std::fopen(path.c_str(), "wb");
        if (created != nullptr) std::fclose(created);
        made.push_back(path);
        return path;
    }

    HWND MakeWindow() {
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "PelomiCommdlgTestWindow";
        RegisterClassExA(&windowClass);
        window = CreateWindowExA(0, windowClass.lpszClassName, "main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 232,
                                 255, nullptr, nullptr, windowClass.hInstance, nullptr);
        return window;
    }

    std::string dir;
    std::vector<std::string> made;
    char file[MAX_PATH];
    char title[64];
    OPENFILENAMEA record;
    HWND window = nullptr;
};

TEST_F(OpenFileDialogTest, ChooserSeesTheProgramsRequest) {
    std::strcpy(file, "/somewhere/old.bmp");
    w32::ScriptFileChooser({ScriptedFileAnswer::Cancel()});
    EXPECT_FALSE(GetOpenFileNameA(&record));

    auto requests = w32::ScriptedFileChooserRequests();
    ASSERT_EQ(requests.size(), 1u);
    const w32::FileChooserRequest& request = requests[0];
    EXPECT_EQ(request.owner, nullptr);
    EXPECT_EQ(request.title, "とっととファイルを選べ。");
    ASSERT_EQ(request.filters.size(), 2u);
    EXPECT_EQ(request.filters[0].description, "ビットマップファイル(*.BMP)");
    EXPECT_EQ(request.filters[0].patterns, std::vector<std::string>{"*.bmp"});
    EXPECT_EQ(request.filters[1].description, "ぜんぶ(*.*)");
    EXPECT_EQ(request.filters[1].patterns, std::vector<std::string>{"*.*"});
    EXPECT_EQ(request.filterIndex, 0u);
    EXPECT_EQ(request.initialName, "/somewhere/old.bmp");
    EXPECT_EQ(request.initialDirectory, "");
    EXPECT_EQ(request.defaultExtension, "bmp");
    EXPECT_TRUE(request.fileMustExist);
    EXPECT_TRUE(request.pathMustExist);
}

TEST_F(OpenFileDialogTest, FiltersSplitAtSemicolonsAndIndexCountsFromOne) {
    record.lpstrFilter = "Pictures\0*.bmp; *.dib ;;*.rle\0Broken pair\0";
    record.Flags = 0;
    record.lpstrDefExt = nullptr;
    record.lpstrTitle = nullptr;
    // No NUL within nMaxFile: the initial name stops there.
    std::memcpy(file, "abcdef", 6);
    record.nMaxFile = 4;
    const DWORD indexes[] = {1, 2, 0};
    for (DWORD index : indexes) {
        record.nFilterIndex = index;
        EXPECT_FALSE(GetOpenFileNameA(&record));
    }
    auto requests = w32::ScriptedFileChooserRequests();
    ASSERT_EQ(requests.size(), 3u);
    ASSERT_EQ(requests[0].filters.size(), 1u);  // a description without its pattern ends the list
    EXPECT_EQ(requests[0].filters[0].patterns, (std::vector<std::string>{"*.bmp", "*.dib", "*.rle"}));
    EXPECT_EQ(requests[0].filterIndex, 0u);
    EXPECT_EQ(requests[1].filterIndex, 0u) << "past the last filter: the first";
    EXPECT_EQ(requests[2].filterIndex, 0u);
    EXPECT_EQ(requests[0].initialName, "abcd");
    EXPECT_EQ(requests[0].title, "");
    EXPECT_FALSE(requests[0].fileMustExist);
    EXPECT_FALSE(requests[0].pathMustExist);
}

TEST_F(OpenFileDialogTest, ChoosingWritesPathTitleOffsetsAndFilter) {
    std::string path = dir + "/sheet.bmp";
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(path, 0, 1)});
    ASSERT_TRUE(GetOpenFileNameA(&record));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_EQ(std::string(file), path);
    EXPECT_EQ(file[path.size() + 1], kSentinel) << "nothing written past the NUL";
    EXPECT_EQ(std::string(title), "sheet.bmp");
    EXPECT_EQ(title[10], kSentinel);
    EXPECT_EQ(record.nFileOffset, dir.size() + 1);
    EXPECT_EQ(record.nFileExtension, path.size() - 3);
    EXPECT_EQ(record.nFilterIndex, 2u);
}

// A name without an extension gets the default one, except where only the bare name exists; a relative
// answer counts from the current directory.
TEST_F(OpenFileDialogTest, AnswersAreCompletedToFullPaths) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    struct Case {
        const char* answer;
        DWORD flags;
        std::string expected;
        WORD extensionFromEnd;  // nFileExtension counted back from the end; 0xFFFF: 0 expected
    };
    const Case cases[] = {
        {"sheet", OFN_FILEMUSTEXIST, dir + "/sheet.bmp", 3},
        {"sheet.bmp", OFN_FILEMUSTEXIST, dir + "/sheet.bmp", 3},
        {"noext", OFN_FILEMUSTEXIST, dir + "/noext", 0},
        {"new", 0, dir + "/new.bmp", 3},
        {"new.", 0, dir + "/new.", 0xFFFF},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.answer);
        record.Flags = test.flags;
        w32::ScriptFileChooser({ScriptedFileAnswer::Choose(test.answer)});
        EXPECT_TRUE(GetOpenFileNameA(&record));
        EXPECT_EQ(std::string(file), test.expected);
        if (test.extensionFromEnd == 0xFFFF)
            EXPECT_EQ(record.nFileExtension, 0);
        else
            EXPECT_EQ(record.nFileExtension, test.expected.size() - test.extensionFromEnd);
    }
    ASSERT_EQ(chdir(previous), 0);
}

// Windows' dialog refuses a file that does not exist (or a folder) under OFN_FILEMUSTEXIST and stays
// open; the user's next answer counts.
TEST_F(OpenFileDialogTest, MissingFilesAreRefusedAndTheChooserStaysOpen) {
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(dir + "/missing"), ScriptedFileAnswer::Choose(dir),
                            ScriptedFileAnswer::Choose(dir + "/nofolder/sheet.bmp"),
                            ScriptedFileAnswer::Choose(dir + "/sheet.bmp")});
    ASSERT_TRUE(GetOpenFileNameA(&record));
    EXPECT_EQ(std::string(file), dir + "/sheet.bmp");
    EXPECT_EQ(w32::ScriptedFileChooserRefusals(),
              (std::vector<std::string>{dir + "/missing", dir, dir + "/nofolder/sheet.bmp"}));
    EXPECT_EQ(w32::ScriptedFileChooserRequests().size(), 1u) << "one chooser throughout";

    // Cancelling after a refusal is still a cancel.
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(dir + "/missing.bmp"), ScriptedFileAnswer::Cancel()});
    EXPECT_FALSE(GetOpenFileNameA(&record));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
}

TEST_F(OpenFileDialogTest, PathLengthAgainstTheBuffer) {
    record.Flags = 0;  // these paths need not exist
    std::string fits = "/" + std::string(254, 'a') + ".bmp";  // 259 characters
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(fits)});
    ASSERT_TRUE(GetOpenFileNameA(&record));
    EXPECT_EQ(std::string(file), fits);
    // The title is cut to its buffer (our choice), the call still succeeds.
    EXPECT_EQ(std::string(title), std::string(63, 'a'));

    std::memset(file, kSentinel, sizeof file);
    std::string tooLong = "/" + std::string(255, 'a') + ".bmp";
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(tooLong)});
    EXPECT_FALSE(GetOpenFileNameA(&record));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
    WORD needed;
    std::memcpy(&needed, file, sizeof needed);
    EXPECT_EQ(needed, 261);
    EXPECT_EQ(file[2], kSentinel);
    EXPECT_EQ(file[MAX_PATH - 1], kSentinel);
}

TEST_F(OpenFileDialogTest, FailuresAndTheirErrors) {
    const DWORD badSizes[] = {0, OPENFILENAME_SIZE_VERSION_400A - 1, sizeof(OPENFILENAMEA) + 1};
    for (DWORD size : badSizes) {
        record.lStructSize = size;
        EXPECT_FALSE(GetOpenFileNameA(&record));
        EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
    }
    EXPECT_TRUE(w32::ScriptedFileChooserRequests().empty()) << "no chooser for a bad record";

    record.lStructSize = sizeof(OPENFILENAMEA);
    w32::ScriptFileChooser({ScriptedFileAnswer::Cancel()});
    EXPECT_FALSE(GetOpenFileNameA(&record));
    EXPECT_EQ(CommDlgExtendedError(), 0u) << "the full record is fine, and a cancel clears the error";

    EXPECT_FALSE(GetOpenFileNameA(nullptr));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));
    record.lpstrFile = nullptr;
    EXPECT_FALSE(GetOpenFileNameA(&record));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));
    record.lpstrFile = file;

    HWND gone = MakeWindow();
    DestroyWindow(gone);
    window = nullptr;
    record.hwndOwner = gone;
    EXPECT_FALSE(GetOpenFileNameA(&record));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_DIALOGFAILURE));
    record.hwndOwner = nullptr;

    std::strcpy(file, "kept");
    w32::ScriptFileChooser({ScriptedFileAnswer::NoChooser(), ScriptedFileAnswer::BreakDown()});
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(GetOpenFileNameA(&record));
        EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_DIALOGFAILURE));
        EXPECT_EQ(std::string(file), "kept");
    }
    EXPECT_EQ(w32::OpenScriptedFileChoosers(), 0);
}

// Without an owner the main window stays usable: its posted messages and its clicks are handled while
// the chooser is open, in the order they came.
TEST_F(OpenFileDialogTest, OwnerlessChooserKeepsTheMainWindowGoing) {
    HWND main = MakeWindow();
    PostMessageA(main, kNote, 1, 0);
    EXPECT_TRUE(w32::DeliverMouseButton(main, w32::MouseButton::Left, true, 10, 10, 0));
    EXPECT_TRUE(w32::DeliverMouseButton(main, w32::MouseButton::Left, false, 10, 10, 0));
    PostMessageA(main, kNote, 2, 0);
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(dir + "/sheet.bmp", 4)});
    ASSERT_TRUE(GetOpenFileNameA(&record));
    EXPECT_EQ(Received(), (std::vector<std::string>{"note 1", "WM_LBUTTONDOWN", "WM_LBUTTONUP", "note 2"}));
}

// With an owner the chooser is modal to it: no input, but posted messages still flow.
TEST_F(OpenFileDialogTest, OwnedChooserDisablesItsOwner) {
    HWND main = MakeWindow();
    record.hwndOwner = main;
    bool enabledDuring = true, clickTaken = true;
    OnNote() = [&](UINT, WPARAM) {
        enabledDuring = IsWindowEnabled(main) != FALSE;
        clickTaken = w32::DeliverMouseButton(main, w32::MouseButton::Left, false, 10, 10, 0);
    };
    PostMessageA(main, kNote, 1, 0);
    w32::ScriptFileChooser({ScriptedFileAnswer::Cancel(1)});
    EXPECT_FALSE(GetOpenFileNameA(&record));
    EXPECT_FALSE(enabledDuring);
    EXPECT_FALSE(clickTaken);
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_EQ(Received(), std::vector<std::string>{"note 1"});
    EXPECT_EQ(w32::ScriptedFileChooserRequests()[0].owner, main);
}

// A second GetOpenFileNameA from a message dispatched while the first chooser is open gets a chooser of
// its own; each returns its own answer.
TEST_F(OpenFileDialogTest, SecondChooserWhileTheFirstIsOpen) {
    HWND main = MakeWindow();
    char innerFile[MAX_PATH] = "";
    OPENFILENAMEA inner = record;
    inner.lpstrFile = innerFile;
    inner.lpstrFileTitle = nullptr;
    BOOL innerResult = TRUE;
    int openDuringInner = 0;
    OnNote() = [&](UINT, WPARAM wParam) {
        if (wParam != 1) return;
        w32::ScriptFileChooser({ScriptedFileAnswer::Cancel(1)});
        PostMessageA(main, kNote, 3, 0);
        innerResult = GetOpenFileNameA(&inner);
        openDuringInner = w32::OpenScriptedFileChoosers();
    };
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(dir + "/sheet.bmp", 2)});
    PostMessageA(main, kNote, 1, 0);
    PostMessageA(main, kNote, 2, 0);
    ASSERT_TRUE(GetOpenFileNameA(&record));
    EXPECT_EQ(std::string(file), dir + "/sheet.bmp");
    EXPECT_FALSE(innerResult);
    EXPECT_EQ(innerFile[0], '\0');
    EXPECT_EQ(openDuringInner, 1) << "the inner chooser closed, the outer one still open";
    EXPECT_EQ(w32::OpenScriptedFileChoosers(), 0);
    // The inner loop dispatched note 2, the next in the queue; the outer one went on with note 3.
    EXPECT_EQ(Received(), (std::vector<std::string>{"note 1", "note 2", "note 3"}));
}

TEST_F(OpenFileDialogTest, QuitWhileOpenClosesTheChooserAndIsPostedAgain) {
    PostQuitMessage(4);
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(dir + "/sheet.bmp", 100)});
    std::strcpy(file, "kept");
    EXPECT_FALSE(GetOpenFileNameA(&record));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_EQ(std::string(file), "kept");
    EXPECT_EQ(w32::OpenScriptedFileChoosers(), 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 4u);
}

// A backend may answer from another thread: the answer wakes the waiting loop.
struct ThreadedChooser {
    std::thread answering;
};

void* OpenThreaded(w32::FileChooserSession* session, const w32::FileChooserRequest&) {
    auto* chooser = new ThreadedChooser;
    chooser->answering = std::thread([session] {
        w32::FileChooserAnswer answer;
        answer.outcome = w32::FileChooserOutcome::Chosen;
        answer.path = "/from/another/thread.bmp";
        w32::AnswerFileChooser(session, answer);
    });
    return chooser;
}

void CloseThreaded(void* opened) {
    auto* chooser = static_cast<ThreadedChooser*>(opened);
    chooser->answering.join();
    delete chooser;
}

TEST_F(OpenFileDialogTest, AnswerFromAnotherThreadWakesTheLoop) {
    w32::FileChooserBackend backend{};
    backend.name = "threaded";
    backend.Open = OpenThreaded;
    backend.Close = CloseThreaded;
    ASSERT_TRUE(w32::InstallFileChooserBackend(backend));
    record.Flags = 0;
    BOOL chosen = GetOpenFileNameA(&record);
    w32::UseScriptedFileChooser();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(std::string(file), "/from/another/thread.bmp");
}

}  // namespace
