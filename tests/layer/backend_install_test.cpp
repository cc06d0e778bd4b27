// Installing backends, in a program that starts with none (this test has the plain GoogleTest main): each
// call that needs a missing backend fails as Windows fails without one and says once on stderr what is
// missing; a table lacking a required member is refused by name; the optional ones get their defaults.
// The error codes and lines are our choices (layer only).
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>
#include <mmsystem.h>

#include <errno.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "bmp_file.h"
#include "commdlg/file_chooser.h"
#include "gdi/image_decoder.h"
#include "user/display_backend.h"
#include "wave/wave_device.h"

namespace {

// stderr's lines, without the program's name that starts each.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    const std::string prefix = std::string(program_invocation_short_name) + ": ";
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : line);
    return lines;
}

HWND MakeWindow() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "PelomiInstallTest";
    RegisterClassExA(&windowClass);
    return CreateWindowExA(0, "PelomiInstallTest", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 80, nullptr, nullptr,
                           nullptr, nullptr);
}

TEST(BackendInstall, WithoutBackendsEachCallFailsAndSaysOnceWhatIsMissing) {
    const std::string sheet = testbmp::WritePositionSheet(testbmp::TempDir() + "/sheet.bmp", 5, 1);
    testing::internal::CaptureStderr();
    for (int twice = 0; twice < 2; ++twice) {
        SetLastError(0);
        EXPECT_EQ(MakeWindow(), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        const WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 11025, 11025, 1, 8, 0};
        HWAVEIN device = nullptr;
        EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
        EXPECT_EQ(waveInGetNumDevs(), 0u);
        char file[MAX_PATH] = "";
        OPENFILENAMEA record = {};
        record.lStructSize = sizeof(record);
        record.lpstrFile = file;
        record.nMaxFile = sizeof(file);
        EXPECT_FALSE(GetOpenFileNameA(&record));
        EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_DIALOGFAILURE));
        EXPECT_EQ(LoadImageA(nullptr, sheet.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    }
    // Message queues need no display.
    PostQuitMessage(7);
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 7u);
    const std::string picture = "picture \"" + sheet + "\" not loaded: no image decoder installed";
    EXPECT_EQ(Lines(testing::internal::GetCapturedStderr()),
              (std::vector<std::string>{
                  "no display installed: windows cannot be created",
                  "no sound backend installed: waveInOpen gives MMSYSERR_NODRIVER",
                  "no file chooser installed: GetOpenFileNameA fails with CDERR_DIALOGFAILURE",
                  picture,
                  picture,  // LoadImageA names every file it does not load
              }));
}

TEST(BackendInstall, TablesLackingARequiredMemberAreRefusedByName) {
    w32::DisplayBackend display{};
    display.name = "bare";
    w32::WaveBackend sound{};
    sound.name = "bare";
    w32::FileChooserBackend chooser{};
    chooser.name = "bare";
    chooser.Open = [](w32::FileChooserSession*, const w32::FileChooserRequest&) -> void* { return nullptr; };
    w32::ImageDecoderBackend decoder{};
    decoder.name = "bare";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(w32::InstallDisplayBackend(display));
    EXPECT_FALSE(w32::InstallWaveBackend(sound));
    EXPECT_FALSE(w32::InstallFileChooserBackend(chooser));
    EXPECT_FALSE(w32::InstallImageDecoderBackend(decoder));
    EXPECT_EQ(Lines(testing::internal::GetCapturedStderr()),
              (std::vector<std::string>{
                  "display backend \"bare\" not installed: it has no WindowCreated",
                  "sound backend \"bare\" not installed: it has no Lock",
                  "file chooser backend \"bare\" not installed: it has no Close",
                  "image decoder backend \"bare\" not installed: it has no DecodeBmp",
              }));
    EXPECT_FALSE(w32::DisplayInstalled());
    EXPECT_EQ(chooser.MessageDispatched, nullptr) << "a refused table is left as it was";
}

// A display of its three required members: every other call USER makes goes to a default, which shows
// nothing and waits and wakes on the queue's own flag.
TEST(BackendInstall, OptionalMembersGetDefaultsCallersNeedNotCheck) {
    static std::vector<std::string> told;
    w32::DisplayBackend display{};
    display.name = "required only";
    display.WindowCreated = [](const w32::DisplayWindowInfo&) { told.push_back("created"); };
    display.WindowDestroyed = [](HWND) { told.push_back("destroyed"); };
    display.SurfaceChanged = [](HWND, const w32::PixelSurface&) {};
    ASSERT_TRUE(w32::InstallDisplayBackend(display));
    EXPECT_TRUE(display.WindowShown && display.WindowMoved && display.WindowTextChanged && display.WindowEnabled &&
                display.MenuChanged && display.PollEvents && display.WaitForEvents && display.Wake &&
                display.ScreenSize);

    HWND window = MakeWindow();
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOW);
    MoveWindow(window, 5, 5, 120, 90, TRUE);
    SetWindowTextA(window, "renamed");
    EnableWindow(window, FALSE);
    PostMessageA(window, WM_USER, 0, 0);
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));  // waits through the default, which the post woke
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(told, (std::vector<std::string>{"created", "destroyed"}));
}

}  // namespace
