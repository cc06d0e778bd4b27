// The program's shell driven as a user would drive it: start-up with and without default.bmp, blocks drawn,
// clicks, the three commands, the accelerators, the version dialog and the sheet dialog, and quitting.
#include <gtest/gtest.h>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "base/handle_table.h"
#include "bmp_file.h"
#include "capture_cycle.h"
#include "level.h"
#include "main_window.h"
#include "meter_state.h"
#include "picture_bank.h"
#include "resource.h"
#include "sheet_dialog.h"
#include "test_window.h"
#include "testing/headless_display.h"
#include "testing/scripted_file_chooser.h"
#include "testing/scripted_wave_device.h"
#include "user/display_backend.h"
#include "user/input_delivery.h"

namespace {

using w32::ScriptedFileAnswer;
using w32::ScriptedWaveDevice;

const int BLOCK = 3675;
const uint32_t WHITE = 0xFFFFFF;
const uint32_t BLACK = 0x000000;

// Windows the program opens, as the display sees them created: the way to find its dialogs.
struct CreatedWindow {
    HWND window;
    std::string className;
    std::string text;
};
std::vector<CreatedWindow>& Created() {
    static std::vector<CreatedWindow> created;
    return created;
}

w32::DisplayBackend RecordingDisplay() {
    w32::DisplayBackend backend = w32::HeadlessDisplayBackend();
    static void (*headlessCreated)(const w32::DisplayWindowInfo&) = backend.WindowCreated;
    backend.name = "recording headless";
    backend.WindowCreated = [](const w32::DisplayWindowInfo& info) {
        Created().push_back({info.window, info.className ? info.className : "", info.text ? info.text : ""});
        headlessCreated(info);
    };
    return backend;
}

HWND LastCreated(const std::string& className) {
    for (auto it = Created().rbegin(); it != Created().rend(); ++it)
        if (it->className == className && IsWindow(it->window)) return it->window;
    return nullptr;
}

std::vector<uint8_t> BlockWithPeak(uint8_t peak) {
    std::vector<uint8_t> block(BLOCK, 128);
    block[100] = peak;
    return block;
}

// Runs inside the device open that the capture cycle makes for the next block, the n-th open counted from
// the time it is set: that is, while the previous block is being handled, wherever the loop is.
void AtOpen(int n, std::function<void()> action) {
    auto count = std::make_shared<int>(0);
    ScriptedWaveDevice::OnOpen([count, n, action] {
        if (++*count == n) action();
    });
}

class AppShellTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static w32::DisplayBackend recording = RecordingDisplay();
        w32::InstallDisplayBackend(recording);
        instance = GetModuleHandleA(nullptr);
        LoadStringA(instance, IDS_WINDOW_TITLE, windowTitle, TITLE_MAX);
        LoadStringA(instance, IDS_WINDOW_CLASS, windowClassName, TITLE_MAX);
        RegisterMainClass(instance);
    }

    void SetUp() override {
        ASSERT_NE(getcwd(savedDirectory, sizeof(savedDirectory)), nullptr);
        dir = testbmp::TempDir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ScriptedWaveDevice::Reset();
        w32::ResetScriptedFileChooser();
        handlesBefore = w32::LiveHandleCount(w32::HandleKind::Any);
    }
    void TearDown() override {
        if (IsWindow(mainWindow)) DestroyWindow(mainWindow);
        DrainQueue();
        ScriptedWaveDevice::Reset();
        w32::ResetScriptedFileChooser();
        ASSERT_EQ(chdir(savedDirectory), 0);
    }

    void StartProgramWindow() {
        InitStepThresholds();
        ASSERT_EQ(CreateMainWindow(instance, SW_SHOWNORMAL), 1);
    }
    // Runs the message loop the way WinMain does until the queue is empty.
    static int Pump() { return testwin::PumpMessages(); }
    // Empties the queue, WM_QUIT included; returns the exit code of a WM_QUIT found, or -1.
    static int DrainQueue() {
        MSG msg;
        int exitCode = -1;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                exitCode = static_cast<int>(msg.wParam);
            else
                DispatchMessageA(&msg);
        }
        return exitCode;
    }
    // Plays one block through the whole cycle: the device is open, the block is recorded and drawn.
    static void PlayBlock(uint8_t peak) {
        Pump();  // MM_WIM_OPEN: buffer queued, recording started
        ScriptedWaveDevice::Feed(BlockWithPeak(peak));
        Pump();  // MM_WIM_DATA, MM_WIM_CLOSE: measured, next open, drawn
    }
    static std::vector<uint32_t> Client() { return testwin::ReadClient(mainWindow); }
    static uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) { return pixels[y * 216 + x]; }
    static int BarWidth(const std::vector<uint32_t>& pixels) {
        int width = 0;
        while (5 + width < 216 && At(pixels, 5 + width, 15) == WHITE) ++width;
        return width;
    }

    static HINSTANCE instance;
    char savedDirectory[PATH_MAX] = {};
    std::string dir;
    size_t handlesBefore = 0;
};

HINSTANCE AppShellTest::instance;

TEST_F(AppShellTest, MainWindowHasTheTitleMenuAndClientSize) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    StartProgramWindow();
    char title[100] = {};
    GetWindowTextA(mainWindow, title, sizeof(title));
    EXPECT_STREQ(title, "Pelomi2");
    char className[100] = {};
    GetClassNameA(mainWindow, className, sizeof(className));
    EXPECT_STREQ(className, "Pelomi");
    RECT outer = {}, client = {};
    GetWindowRect(mainWindow, &outer);
    GetClientRect(mainWindow, &client);
    EXPECT_EQ(outer.right - outer.left, 232);
    EXPECT_EQ(outer.bottom - outer.top, 255);
    EXPECT_EQ(client.right, 216);
    EXPECT_EQ(client.bottom, 196);
    EXPECT_TRUE(IsWindowVisible(mainWindow));
    HMENU menu = GetMenu(mainWindow);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 2);
}

TEST_F(AppShellTest, CreationLoadsDefaultSheetAndOpensTheDevice) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    StartProgramWindow();
    EXPECT_STREQ(sheetPath, "default.bmp");
    EXPECT_EQ(sheetSize[0], 800);
    EXPECT_EQ(sheetSize[1], 480);
    EXPECT_EQ(cellSize, 160);
    EXPECT_EQ(frameBase, 0);
    EXPECT_NE(blockBuffer, nullptr);
    EXPECT_EQ(ScriptedWaveDevice::Counts().opens, 1);

    PlayBlock(128 + 100);  // level 100: step 3
    std::vector<uint32_t> pixels = Client();
    EXPECT_EQ(BarWidth(pixels), 105);
    EXPECT_EQ(At(pixels, 0, 30), testbmp::PositionColour(480, 0));
    EXPECT_EQ(At(pixels, 159, 189), testbmp::PositionColour(639, 159));
    EXPECT_EQ(ScriptedWaveDevice::Counts().opens, 2);  // the next block is already on its way
}

TEST_F(AppShellTest, WithoutDefaultSheetOnlyTheBarMoves) {
    StartProgramWindow();
    EXPECT_EQ(cellSize, 0);
    PlayBlock(128 + 30);
    std::vector<uint32_t> pixels = Client();
    EXPECT_EQ(BarWidth(pixels), 35);
    for (int y = 30; y < 196; y += 5)
        for (int x = 0; x < 216; x += 5) ASSERT_EQ(At(pixels, x, y), BLACK) << x << "," << y;
    PostMessageA(mainWindow, WM_LBUTTONUP, 0, MAKELPARAM(50, 80));
    Pump();
    EXPECT_EQ(frameBase, 0);
}

TEST_F(AppShellTest, LeftButtonReleaseMovesToTheNextRowAndOtherButtonsDoNot) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    StartProgramWindow();
    const struct {
        UINT message;
        int frameBaseAfter;
    } steps[] = {
        {WM_RBUTTONUP, 0}, {WM_LBUTTONDOWN, 0}, {WM_LBUTTONUP, 5}, {WM_MBUTTONUP, 5},
        {WM_LBUTTONUP, 10}, {WM_LBUTTONUP, 0},
    };
    for (const auto& step : steps) {
        PostMessageA(mainWindow, step.message, 0, MAKELPARAM(100, 100));
        Pump();
        EXPECT_EQ(frameBase, step.frameBaseAfter) << "message " << std::hex << step.message;
    }
    // A real click, as the display delivers it.
    w32::DeliverMouseButton(mainWindow, w32::MouseButton::Left, true, 10, 40, 0);
    w32::DeliverMouseButton(mainWindow, w32::MouseButton::Left, false, 10, 40, 0);
    Pump();
    EXPECT_EQ(frameBase, 5);
    PlayBlock(128);
    EXPECT_EQ(At(Client(), 0, 30), testbmp::PositionColour(0, 160));
}

TEST_F(AppShellTest, QuitCommandDestroysAndPostsExitCodeZero) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    StartProgramWindow();
    Pump();
    ScriptedWaveDevice::Feed(BlockWithPeak(200));  // recording when the command comes
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_QUIT, 0), 0);
    EXPECT_FALSE(IsWindow(mainWindow));
    EXPECT_EQ(blockBuffer, nullptr);
    EXPECT_EQ(captureDevice, nullptr);
    w32::ScriptedWaveCounts counts = ScriptedWaveDevice::Counts();
    EXPECT_EQ(counts.openStreams, 0);
    EXPECT_EQ(DrainQueue(), 0);
    EXPECT_EQ(w32::LiveHandleCount(w32::HandleKind::Any), handlesBefore) << "bank detached, nothing left";
}

TEST_F(AppShellTest, CloseBoxEndsLikeTheQuitCommand) {
    StartProgramWindow();
    w32::DeliverCloseRequest(mainWindow);
    EXPECT_EQ(DrainQueue(), 0);
    EXPECT_FALSE(IsWindow(mainWindow));
}

TEST_F(AppShellTest, UnknownCommandsGoToTheDefaultHandling) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    StartProgramWindow();
    const WORD commands[] = {0, 1, 2, 103, 106, 32772, 32774, 65535};
    for (WORD command : commands)
        EXPECT_EQ(SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(command, 0), 0), 0) << command;
    EXPECT_TRUE(IsWindow(mainWindow));
    EXPECT_EQ(sheetSize[0], 800);
    EXPECT_TRUE(w32::ScriptedFileChooserRequests().empty());
}

TEST_F(AppShellTest, VersionDialogRunsModalWhileTheAnimationGoesOn) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    StartProgramWindow();
    ScriptedWaveDevice::QueueImmediate(BlockWithPeak(128 + 40));
    ScriptedWaveDevice::QueueImmediate(BlockWithPeak(128 + 40));
    bool ownerDisabled = false;
    int barDuringDialog = -1;
    AtOpen(2, [&] {
        // The second block was measured inside the dialog's loop; press Esc on the dialog.
        HWND dialog = LastCreated("#32770");
        ASSERT_NE(dialog, nullptr);
        ownerDisabled = !IsWindowEnabled(mainWindow);
        barDuringDialog = BarWidth(Client());
        w32::DeliverKey(dialog, true, VK_ESCAPE, 0x1B, 0);
    });
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_VERSION, 0), 0);
    HWND dialog = LastCreated("#32770");
    EXPECT_EQ(dialog, nullptr) << "destroyed when it closed";
    ASSERT_FALSE(Created().empty());
    bool sawVersionDialog = false;
    for (const CreatedWindow& w : Created()) sawVersionDialog |= w.className == "#32770" && w.text == "ﾊﾞｰｼﾞｮﾝ情報";
    EXPECT_TRUE(sawVersionDialog);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_EQ(barDuringDialog, 45) << "the first block was drawn while the dialog was open";
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
}

TEST_F(AppShellTest, VersionDialogProcedureEndsWithTheButtonsIdentifier) {
    EXPECT_EQ(VersionDialogProc(nullptr, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(VersionDialogProc(nullptr, WM_COMMAND, MAKEWPARAM(105, 0), 0), FALSE);
    EXPECT_EQ(VersionDialogProc(nullptr, WM_PAINT, 0, 0), FALSE);
}

TEST_F(AppShellTest, WholeProgramAnswersAltSlashAndQuitsWithZero) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    for (int i = 0; i < 8; ++i) ScriptedWaveDevice::QueueImmediate(BlockWithPeak(128 + 10 * i));
    int dialogsSeen = 0;
    auto count = std::make_shared<int>(0);
    ScriptedWaveDevice::OnOpen([&, count] {
        ++*count;
        if (*count == 2) {
            // Alt+/ on the main window, as the keyboard delivers it.
            w32::DeliverKey(mainWindow, true, 0xBF, U'/', w32::kAltHeld);
            w32::DeliverKey(mainWindow, false, 0xBF, 0, w32::kAltHeld);
        } else if (*count == 4) {
            HWND dialog = LastCreated("#32770");
            if (dialog) {
                ++dialogsSeen;
                w32::DeliverKey(dialog, true, VK_RETURN, U'\r', 0);
            }
        } else if (*count == 6) {
            w32::DeliverMenuCommand(mainWindow, IDM_QUIT);
        }
    });
    int exitCode = WinMain(instance, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(dialogsSeen, 1);
    EXPECT_FALSE(IsWindow(mainWindow));
}

// ---- The sheet dialog ---------------------------------------------------------------------------------------

TEST_F(AppShellTest, OpenCommandShowsTheRecordAndLoadsTheChosenSheet) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    std::string other = testbmp::WritePositionSheet(dir + "/other.bmp", 400, 240);
    StartProgramWindow();
    SendMessageA(mainWindow, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(frameBase, 5);
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(other)});
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_OPEN_SHEET, 0), 0);

    std::vector<w32::FileChooserRequest> requests = w32::ScriptedFileChooserRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].title, "とっととファイルを選べ。");
    ASSERT_EQ(requests[0].filters.size(), 2u);
    EXPECT_EQ(requests[0].filters[0].description, "ビットマップファイル(*.BMP)");
    EXPECT_EQ(requests[0].filters[1].description, "ぜんぶ(*.*)");
    EXPECT_TRUE(requests[0].fileMustExist);
    EXPECT_EQ(requests[0].initialName, "");

    EXPECT_EQ(std::string(sheetPath), other);
    EXPECT_STREQ(dialogFileTitle, "other.bmp");
    EXPECT_EQ(sheetSize[0], 400);
    EXPECT_EQ(cellSize, 80);
    EXPECT_EQ(frameBase, 0);

    // The name field remembers the last choice.
    w32::ScriptFileChooser({ScriptedFileAnswer::Cancel()});
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_OPEN_SHEET, 0), 0);
    requests = w32::ScriptedFileChooserRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].initialName, other);
}

TEST_F(AppShellTest, CancelReloadsTheSameSheetOnItsFirstRow) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    StartProgramWindow();
    PlayBlock(128);
    SendMessageA(mainWindow, WM_LBUTTONUP, 0, 0);
    w32::ScriptFileChooser({ScriptedFileAnswer::Cancel()});
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_OPEN_SHEET, 0), 0);
    EXPECT_STREQ(sheetPath, "default.bmp");
    EXPECT_EQ(sheetSize[0], 800);
    EXPECT_EQ(frameBase, 0);
    // The reload blanked the canvas: the next block shows the bar and the first row's cell on black.
    PlayBlock(128);
    std::vector<uint32_t> pixels = Client();
    EXPECT_EQ(At(pixels, 0, 30), testbmp::PositionColour(0, 0));
    EXPECT_EQ(At(pixels, 200, 100), BLACK);
    EXPECT_EQ(At(pixels, 150, 15), BLACK);
}

TEST_F(AppShellTest, ChosenFileThatIsNoPictureLeavesOnlyTheBar) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    std::string text = dir + "/notes.txt";
    FILE* file = fopen(text.c_str(), "w");
    fputs("not a picture", file);
    fclose(file);
    StartProgramWindow();
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(text)});
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_OPEN_SHEET, 0), 0);
    EXPECT_EQ(std::string(sheetPath), text);
    EXPECT_EQ(cellSize, 0);
    SendMessageA(mainWindow, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(frameBase, 0);
    // A later open can load a sheet again.
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(dir + "/default.bmp")});
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_OPEN_SHEET, 0), 0);
    EXPECT_EQ(cellSize, 160);
}

TEST_F(AppShellTest, LongestPathIsCopiedWhole) {
    // A path of exactly 259 characters: nested folders under the test directory.
    std::string path = dir;
    while (path.size() + 1 + 40 < 259 - 20) {
        path += "/" + std::string(40, 'd');
        mkdir(path.c_str(), 0700);
    }
    std::string name(259 - path.size() - 1 - 4, 's');
    path += "/" + name + ".bmp";
    ASSERT_EQ(path.size(), 259u);
    testbmp::WritePositionSheet(path, 100, 40);
    StartProgramWindow();
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(path)});
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_OPEN_SHEET, 0), 0);
    EXPECT_EQ(std::string(sheetPath), path);
    EXPECT_EQ(sheetSize[0], 100);
}

TEST_F(AppShellTest, WhileTheChooserIsOpenClicksBlankAndNoCellIsDrawn) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    StartProgramWindow();
    PlayBlock(128);
    Pump();  // the next block is recording
    // Waiting when the command comes: a finished block, then a click.
    ScriptedWaveDevice::Feed(BlockWithPeak(128 + 22));
    PostMessageA(mainWindow, WM_LBUTTONUP, 0, 0);
    int frameBaseAtNextOpen = -1;
    AtOpen(1, [&] {
        frameBaseAtNextOpen = frameBase;
        w32::DeliverMenuCommand(mainWindow, IDM_OPEN_SHEET);  // the open command again
    });
    // The chooser's loop dispatches DATA, the click, CLOSE (the block is drawn, the next open made), the
    // repeated command and OPEN before the user cancels.
    w32::ScriptFileChooser({ScriptedFileAnswer::Cancel(5)});
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_OPEN_SHEET, 0), 0);

    EXPECT_EQ(frameBaseAtNextOpen, 5) << "the click moved the row while the chooser was open";
    EXPECT_EQ(w32::ScriptedFileChooserRequests().size(), 1u) << "no second chooser";
    std::vector<uint32_t> pixels = Client();
    EXPECT_EQ(BarWidth(pixels), 27) << "the block was drawn while the chooser was open";
    for (int y = 30; y < 190; y += 4)
        for (int x = 0; x < 160; x += 4) ASSERT_EQ(At(pixels, x, y), BLACK) << "no cell at " << x << "," << y;
    EXPECT_EQ(frameBase, 0) << "the cancel reloaded the sheet on its first row";
    EXPECT_EQ(cellSize, 160);
}

TEST_F(AppShellTest, ClosingTheMainWindowWhileTheChooserIsOpenTouchesNothingAfterwards) {
    testbmp::WritePositionSheet("default.bmp", 800, 480);
    std::string other = testbmp::WritePositionSheet(dir + "/other.bmp", 400, 240);
    StartProgramWindow();
    PostMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_QUIT, 0), 0);
    w32::ScriptFileChooser({ScriptedFileAnswer::Choose(other, 2)});
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_OPEN_SHEET, 0), 0);
    EXPECT_FALSE(IsWindow(mainWindow));
    EXPECT_EQ(blockBuffer, nullptr);
    EXPECT_STREQ(sheetPath, "default.bmp") << "the choice came after the window was gone";
    EXPECT_EQ(DrainQueue(), 0);
    EXPECT_EQ(w32::LiveHandleCount(w32::HandleKind::Any), handlesBefore) << "nothing loaded into the detached bank";
}

}  // namespace
