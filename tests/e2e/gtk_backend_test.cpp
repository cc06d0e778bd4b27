// The GTK display backend and file chooser driven through the X server as a user would (XTest), checked from both
// sides: the messages a window procedure receives, and what GTK and the server show. The pixel tests run on a
// Wayland compositor too (weston), which they read back with weston-screenshooter.
#include <windows.h>
#include <commdlg.h>

#include <dirent.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gtk/gtk_desktop.h"

#include <gdk/gdkwayland.h>
#include <wayland-client.h>

// X11 last: its macros (None, Bool, Status) clash with names in the headers above.
#include <gdk/gdkx.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

constexpr int kMenuId = 10;
constexpr int kDialogId = 20;
constexpr UINT kExitCommand = 203;
constexpr UINT kSlashKey = 0xBF;  // VK_OEM_2

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Seen& other) const { return message == other.message && wParam == other.wParam; }
};
std::vector<Seen> seen;

bool Recorded(UINT message) {
    return (message >= WM_KEYDOWN && message <= WM_SYSCHAR) ||
           (message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK) || message == WM_COMMAND || message == WM_SIZE ||
           message == WM_CLOSE;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (Recorded(message)) seen.push_back({message, wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

// Runs the thread's messages and GTK until `done` holds. The server answers within a few round trips; the
// bound only keeps a broken test from hanging.
template <class Done>
bool PumpUntil(Done done) {
    for (int i = 0; i < 10000 && !done(); ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!done()) g_usleep(2000);
    }
    return done();
}

// Lets everything already sent to the server come back and be handled.
void Settle() {
    gdk_display_sync(gdk_display_get_default());
    int rounds = 0;
    PumpUntil([&] { return ++rounds > 25; });
}

const char* LabelOf(GtkWidget* widget) {
    if (GTK_IS_MENU_ITEM(widget)) return gtk_menu_item_get_label(GTK_MENU_ITEM(widget));
    if (GTK_IS_BUTTON(widget)) return gtk_button_get_label(GTK_BUTTON(widget));
    if (GTK_IS_LABEL(widget)) return gtk_label_get_label(GTK_LABEL(widget));
    return nullptr;
}

// Input as the X server makes it for a user (XTest): to the focused window, and to what is under the pointer.
Display* XDisplay() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

void FakeKey(KeySym key, bool press) {
    XTestFakeKeyEvent(XDisplay(), XKeysymToKeycode(XDisplay(), key), press, CurrentTime);
    XFlush(XDisplay());
}

void FakeClick(GtkWidget* widget, int x, int y, unsigned button = 1) {
    int originX = 0, originY = 0;
    gdk_window_get_origin(gtk_widget_get_window(widget), &originX, &originY);
    XTestFakeMotionEvent(XDisplay(), -1, originX + x, originY + y, CurrentTime);
    XTestFakeButtonEvent(XDisplay(), button, True, CurrentTime);
    XTestFakeButtonEvent(XDisplay(), button, False, CurrentTime);
    XFlush(XDisplay());
}

// The first widget of `type` under `root` (menus included), with this label when one is given.
GtkWidget* FindWidget(GtkWidget* root, GType type, const char* label = nullptr) {
    if (root == nullptr) return nullptr;
    if (G_TYPE_CHECK_INSTANCE_TYPE(root, type) &&
        (label == nullptr || (LabelOf(root) != nullptr && std::strcmp(LabelOf(root), label) == 0)))
        return root;
    GtkWidget* found = nullptr;
    if (GTK_IS_MENU_ITEM(root)) found = FindWidget(gtk_menu_item_get_submenu(GTK_MENU_ITEM(root)), type, label);
    if (found == nullptr && GTK_IS_CONTAINER(root)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(root));
        for (GList* child = children; child != nullptr && found == nullptr; child = child->next)
            found = FindWidget(GTK_WIDGET(child->data), type, label);
        g_list_free(children);
    }
    return found;
}

GtkWidget* FindTopLevel(const char* title) {
    GtkWidget* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
        const char* itemTitle = gtk_window_get_title(GTK_WINDOW(item->data));
        if (itemTitle != nullptr && std::strcmp(itemTitle, title) == 0 &&
            gtk_widget_get_visible(GTK_WIDGET(item->data)))
            found = GTK_WIDGET(item->data);
    }
    g_list_free(windows);
    return found;
}

class GtkBackendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!gtk_init_check(nullptr, nullptr) || !w32::UseGtkDisplay()) return;
        w32::UseGtkFileChooser();
        ready = true;
    }

    void SetUp() override {
        if (!ready) GTEST_SKIP() << "no display";
        seen.clear();
    }

    void TearDown() override {
        for (HWND window : windows)
            if (IsWindow(window)) DestroyWindow(window);
        Settle();
    }

    // A WS_OVERLAPPEDWINDOW of 232 x 255 (client 216 x 196 under a one-line menu), shown and on screen.
    HWND Open(const char* title, UINT classStyle = 0, bool withMenu = true) {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        const char* className = classStyle & CS_DBLCLKS ? "GtkTestDoubleClicks" : "GtkTestWindow";
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = classStyle;
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
        windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(2));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_WINDOW + 1));
        windowClass.lpszClassName = className;
        RegisterClassExA(&windowClass);  // fails harmlessly from the second test on
        HMENU menu = withMenu ? LoadMenuA(instance, MAKEINTRESOURCEA(kMenuId)) : nullptr;
        HWND window = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 232, 255, nullptr,
                                      menu, instance, nullptr);
        windows.push_back(window);
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        // Our choice: the window goes on the screen at the main loop's next turn.
        EXPECT_EQ(FindTopLevel(title), nullptr);
        PumpUntil([&] { return (toplevel = FindTopLevel(title)) != nullptr; });
        area = FindWidget(toplevel, GTK_TYPE_DRAWING_AREA);
        menuBar = FindWidget(toplevel, GTK_TYPE_MENU_BAR);
        PumpUntil([&] { return area != nullptr && gtk_widget_get_mapped(area) && AreaSize() == ClientSize(window); });
        Settle();
        seen.clear();
        return window;
    }

    static std::pair<int, int> ClientSize(HWND window) {
        RECT client{};
        GetClientRect(window, &client);
        return {client.right, client.bottom};
    }
    std::pair<int, int> AreaSize() const {
        return {gtk_widget_get_allocated_width(area), gtk_widget_get_allocated_height(area)};
    }
    std::pair<int, int> ServerWindowSize() const {
        GdkWindow* window = gtk_widget_get_window(toplevel);
        return {gdk_window_get_width(window), gdk_window_get_height(window)};
    }

    void Click(int x, int y, unsigned button = 1) { FakeClick(area, x, y, button); }

    static bool ready;
    std::vector<HWND> windows;
    GtkWidget* toplevel = nullptr;
    GtkWidget* area = nullptr;
    GtkWidget* menuBar = nullptr;
};

bool GtkBackendTest::ready = false;

TEST_F(GtkBackendTest, ClientAreaIsExactlyUsersUnderTheMenuBarAndFollowsSizeChanges) {
    HWND window = Open("sizes");
    ASSERT_NE(menuBar, nullptr);
    EXPECT_EQ(ClientSize(window), std::make_pair(216, 196));
    EXPECT_EQ(AreaSize(), std::make_pair(216, 196));
    int menuHeight = gtk_widget_get_allocated_height(menuBar);
    EXPECT_GT(menuHeight, 0);
    EXPECT_EQ(ServerWindowSize(), std::make_pair(216, menuHeight + 196));

    // The program resizes: the screen follows.
    MoveWindow(window, 26, 26, 300, 300, TRUE);
    EXPECT_TRUE(PumpUntil([&] { return AreaSize() == std::make_pair(284, 241); }));
    EXPECT_EQ(ServerWindowSize(), std::make_pair(284, menuHeight + 241));

    // The user resizes, also narrower than the menu bar, as Windows allows: the program hears it once, as
    // WM_SIZE with the new client size, and the menu bar keeps its height.
    int barWidth = 0;
    gtk_widget_get_preferred_width(menuBar, &barWidth, nullptr);
    for (auto [width, height] : {std::pair{400, 250}, {barWidth / 2, 20}}) {
        SCOPED_TRACE(width);
        seen.clear();
        gtk_window_resize(GTK_WINDOW(toplevel), width, menuHeight + height);
        EXPECT_TRUE(PumpUntil([&] { return ClientSize(window) == std::make_pair(width, height); }));
        Settle();
        std::vector<Seen> sizes;
        for (const Seen& message : seen)
            if (message.message == WM_SIZE) sizes.push_back(message);
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_EQ(sizes[0].lParam, MAKELPARAM(width, height));
        EXPECT_EQ(AreaSize(), std::make_pair(width, height));
        EXPECT_EQ(gtk_widget_get_allocated_height(menuBar), menuHeight);
    }
}

// The pixels of a picture, as 0x00RRGGBB words, row by row.
std::vector<uint32_t> PixbufWords(GdkPixbuf* shown, int x, int y, int width, int height) {
    std::vector<uint32_t> result;
    if (shown == nullptr || x < 0 || y < 0 || x + width > gdk_pixbuf_get_width(shown) ||
        y + height > gdk_pixbuf_get_height(shown))
        return result;
    const guchar* pixels = gdk_pixbuf_get_pixels(shown);
    int stride = gdk_pixbuf_get_rowstride(shown), channels = gdk_pixbuf_get_n_channels(shown);
    for (int row = y; row < y + height; ++row) {
        for (int column = x; column < x + width; ++column) {
            const guchar* p = pixels + row * stride + column * channels;
            result.push_back(static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2]);
        }
    }
    return result;
}

bool OnWayland() { return !GDK_IS_X11_DISPLAY(gdk_display_get_default()); }

// Where weston shows the top-left corner of the window's surface (GTK's shadow included), from weston-debug's
// scene graph.
bool WestonSurfaceOrigin(const char* title, int* x, int* y) {
    gchar* graph = nullptr;
    if (!g_spawn_command_line_sync("weston-debug scene-graph", &graph, nullptr, nullptr, nullptr)) return false;
    std::string text(graph != nullptr ? graph : "");
    g_free(graph);
    size_t at = text.find(std::string("top-level window '") + title + "'");
    if (at == std::string::npos || (at = text.find("position: ", at)) == std::string::npos) return false;
    return std::sscanf(text.c_str() + at, "position: (%d, %d)", x, y) == 2;
}

// The whole of weston's screen as weston-screenshooter saves it (in the directory it runs in).
GdkPixbuf* WestonScreen() {
    char folder[] = "/tmp/pelomi-screen.XXXXXX";
    if (mkdtemp(folder) == nullptr) return nullptr;
    gchar* argv[] = {const_cast<gchar*>("weston-screenshooter"), nullptr};
    GdkPixbuf* screen = nullptr;
    if (g_spawn_sync(folder, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr)) {
        if (DIR* listing = opendir(folder)) {
            while (dirent* entry = readdir(listing)) {
                if (entry->d_name[0] == '.') continue;
                std::string path = std::string(folder) + "/" + entry->d_name;
                if (screen == nullptr) screen = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
                std::remove(path.c_str());
            }
            closedir(listing);
        }
    }
    rmdir(folder);
    return screen;
}

// Our choice: a window's rectangle follows the position GTK reports for it, also where the compositor places
// windows itself and ignores the positions asked for (Wayland).
TEST_F(GtkBackendTest, WindowRectanglesFollowThePositionGtkReports) {
    HWND window = Open("position");
    for (POINT asked : {POINT{26, 26}, POINT{140, 90}}) {
        MoveWindow(window, asked.x, asked.y, 232, 255, TRUE);
        auto matches = [&] {
            int x = -1, y = -1;
            gtk_window_get_position(GTK_WINDOW(toplevel), &x, &y);
            RECT rect{};
            GetWindowRect(window, &rect);
            return rect.left == x && rect.top == y;
        };
        EXPECT_TRUE(PumpUntil(matches)) << asked.x << ", " << asked.y;
        Settle();
        EXPECT_TRUE(matches());
        RECT rect{};
        GetWindowRect(window, &rect);
        EXPECT_EQ(rect.right - rect.left, 232);  // the size stays as asked
        EXPECT_EQ(rect.bottom - rect.top, 255);
    }
}

int ScaleOf(GtkWidget* toplevel) { return gdk_window_get_scale_factor(gtk_widget_get_window(toplevel)); }

// What the screen shows of the client area (at the bottom of the window), in the screen's own pixels (a
// window of scale N has N x N of them for each of its own): what the X server holds, or what weston composes.
std::vector<uint32_t> ServerPixels(GtkWidget* toplevel, GtkWidget* menuBar, int width, int height) {
    const int scale = ScaleOf(toplevel);
    int menuX = 0, menuY = 0;  // in the window's surface, under GTK's title bar on Wayland
    gtk_widget_translate_coordinates(menuBar, toplevel, 0, 0, &menuX, &menuY);
    menuY += gtk_widget_get_allocated_height(menuBar);
    if (OnWayland()) {
        int x = 0, y = 0;
        if (!WestonSurfaceOrigin(gtk_window_get_title(GTK_WINDOW(toplevel)), &x, &y)) return {};
        GdkPixbuf* screen = WestonScreen();
        std::vector<uint32_t> result =
            PixbufWords(screen, (x + menuX) * scale, (y + menuY) * scale, width * scale, height * scale);
        if (screen != nullptr) g_object_unref(screen);
        return result;
    }
    std::vector<uint32_t> result;
    w32::FinishX11Puts();
    XImage* shown = XGetImage(XDisplay(), GDK_WINDOW_XID(gtk_widget_get_window(toplevel)), menuX * scale,
                              menuY * scale, width * scale, height * scale, AllPlanes, ZPixmap);
    if (shown == nullptr) return result;
    for (int y = 0; y < height * scale; ++y)
        for (int x = 0; x < width * scale; ++x) result.push_back(XGetPixel(shown, x, y) & 0xFFFFFFu);
    XDestroyImage(shown);
    return result;
}

// The picture as a window of `scale` must show it: every pixel an exact scale x scale block.
std::vector<uint32_t> ScaledUp(const std::vector<uint32_t>& pixels, int width, int scale) {
    std::vector<uint32_t> result;
    for (size_t row = 0; row < pixels.size() / width; ++row)
        for (int i = 0; i < scale; ++i)
            for (int x = 0; x < width; ++x) result.insert(result.end(), scale, pixels[row * width + x]);
    return result;
}

// Counts the pixels that differ (reporting the first few); the screen must match the client surface exactly.
int CountWrongPixels(const std::vector<uint32_t>& shown, const std::vector<uint32_t>& expected, int width,
                     const char* step) {
    if (shown.size() != expected.size()) {
        ADD_FAILURE() << step << ": read " << shown.size() << " pixels back";
        return static_cast<int>(expected.size());
    }
    int wrong = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (shown[i] != expected[i] && wrong++ < 5)
            ADD_FAILURE() << step << ": pixel (" << i % width << ", " << i / width << ") is " << std::hex
                          << shown[i] << ", not " << expected[i];
    }
    return wrong;
}

// What the screen shows once it shows `expected`: read at once, or, for pictures drawn in GTK's next frame,
// read again while GTK's main loop runs until it matches (or a generous bound). On Wayland the compositor's
// answers so far (buffer releases) are read first, as the main loop would, but no main
// loop turns and GTK draws nothing.
// Counts the screen's pixels that are not what the window's scale makes of `expected`, a client-sized picture.
int WrongPixelsOnScreen(const std::vector<uint32_t>& expected, bool inGtksFrames, GtkWidget* toplevel,
                        GtkWidget* menuBar, int width, int height, const char* step) {
    const int scale = ScaleOf(toplevel);
    const std::vector<uint32_t> wanted = ScaledUp(expected, width, scale);
    if (OnWayland()) wl_display_roundtrip(gdk_wayland_display_get_wl_display(gdk_display_get_default()));
    std::vector<uint32_t> shown = ServerPixels(toplevel, menuBar, width, height);
    for (int i = 0; i < 50 && inGtksFrames && shown != wanted; ++i) {
        Settle();
        shown = ServerPixels(toplevel, menuBar, width, height);
    }
    return CountWrongPixels(shown, wanted, width * scale, step);
}

// Draws a pattern, then bands, rows and single pixels over it, on a window of its own, and checks after each
// call and after the window is hidden and shown that the screen shows exactly the client surface: at once,
// with no message loop turning, unless `inGtksFrames`.
void CheckPixelsReachTheScreen(HWND window, GtkWidget* toplevel, GtkWidget* area, GtkWidget* menuBar,
                               bool inGtksFrames) {
    constexpr int kWidth = 216, kHeight = 196;
    // A pattern no two neighbouring pixels share, drawn without a message loop turning afterwards.
    std::vector<uint32_t> expected(kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            expected[y * kWidth + x] =
                static_cast<uint32_t>((x * 5 % 256) << 16 | (y * 7 % 256) << 8 | ((x + y) % 256));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pattern = expected;
    HDC dc = GetDC(window);
    StretchDIBits(dc, 0, 0, kWidth, kHeight, 0, 0, kWidth, kHeight, pattern.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    auto wrongOnScreen = [&](const char* step, bool inFrames) {
        return WrongPixelsOnScreen(expected, inFrames, toplevel, menuBar, kWidth, kHeight, step);
    };
    EXPECT_EQ(wrongOnScreen("whole pattern", inGtksFrames), 0);

    // Later drawings change a few rows, one pixel, or nothing: each is on the server as it returns.
    struct Step {
        const char* name;
        int x, y, width, height;
        DWORD rop;
    };
    const Step steps[] = {
        {"white band", 0, 5, kWidth, 20, WHITENESS},
        {"same band again", 0, 5, kWidth, 20, WHITENESS},
        {"black bottom row", 0, kHeight - 1, kWidth, 1, BLACKNESS},
        {"one inverted pixel", 100, 120, 1, 1, DSTINVERT},
        {"inverted top row", 0, 0, kWidth, 1, DSTINVERT},
    };
    for (const Step& step : steps) {
        PatBlt(dc, step.x, step.y, step.width, step.height, step.rop);
        for (int y = step.y; y < step.y + step.height; ++y) {
            for (int x = step.x; x < step.x + step.width; ++x) {
                uint32_t& pixel = expected[y * kWidth + x];
                pixel = step.rop == WHITENESS ? 0xFFFFFFu : step.rop == BLACKNESS ? 0u : ~pixel & 0xFFFFFFu;
            }
        }
        EXPECT_EQ(wrongOnScreen(step.name, inGtksFrames), 0);
    }
    ReleaseDC(window, dc);

    // Uncovered again (hidden and shown), the window repaints what it last showed.
    gtk_widget_hide(toplevel);
    Settle();
    gtk_widget_show(toplevel);
    PumpUntil([&] { return gtk_widget_get_mapped(area); });
    Settle();
    EXPECT_EQ(wrongOnScreen("re-exposed", true), 0);
}

// The default: put from shared memory on X11, committed on a subsurface of our own on Wayland, either way on
// the screen before the call returns.
TEST_F(GtkBackendTest, PixelsDrawnOnTheWindowAreOnTheScreenAtOnce) {
    HWND window = Open("pixels");
    CheckPixelsReachTheScreen(window, toplevel, area, menuBar, false);
}

// Where neither can be had: painted through cairo at once on X11, drawn in GTK's next frame on Wayland.
TEST_F(GtkBackendTest, PixelsDrawnThroughGtkAreOnTheScreen) {
    w32::UseX11SharedMemory(false);
    w32::UseWaylandSubsurface(false);
    HWND window = Open("pixels through GTK");
    CheckPixelsReachTheScreen(window, toplevel, area, menuBar, OnWayland());
    w32::UseX11SharedMemory(true);
    w32::UseWaylandSubsurface(true);
}

// Our choice: while the window is made smaller than the picture and the program has not yet heard of it,
// the picture on our own subsurface shows only what the client area has room for, as GTK's frames would.
TEST_F(GtkBackendTest, PictureStaysInsideAClientAreaMadeSmaller) {
    if (!OnWayland()) GTEST_SKIP() << "the X server clips to the window itself";
    HWND window = Open("cropped");
    constexpr int kWidth = 216, kHeight = 196, kSmallWidth = 160, kSmallHeight = 120;
    HDC dc = GetDC(window);
    PatBlt(dc, 0, 0, kWidth, kHeight, BLACKNESS);
    ReleaseDC(window, dc);
    const std::vector<uint32_t> black(kWidth * kHeight, 0);
    EXPECT_EQ(WrongPixelsOnScreen(black, false, toplevel, menuBar, kWidth, kHeight, "before"), 0);

    // Only GTK's loop turns: the program does not hear of the smaller size and keeps its picture.
    gtk_window_resize(GTK_WINDOW(toplevel), kSmallWidth, gtk_widget_get_allocated_height(menuBar) + kSmallHeight);
    GtkWidget* client = gtk_widget_get_parent(area);
    auto blackOutsideClient = [&] {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        const int scale = ScaleOf(toplevel), width = gtk_widget_get_allocated_width(client),
                  height = gtk_widget_get_allocated_height(client);
        const std::vector<uint32_t> shown = ServerPixels(toplevel, menuBar, kWidth, kHeight);
        int outside = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            const int x = static_cast<int>(i % (kWidth * scale)) / scale, y = static_cast<int>(i / (kWidth * scale)) / scale;
            if (shown[i] == 0 && (x >= width || y >= height)) ++outside;
        }
        return shown.empty() || width >= kWidth ? -1 : outside;
    };
    int outside = -1;
    for (int i = 0; i < 50 && (outside = blackOutsideClient()) != 0; ++i) g_usleep(20000);
    EXPECT_EQ(outside, 0);
    RECT rect{};
    GetClientRect(window, &rect);
    EXPECT_EQ(rect.right, kWidth);  // the program has not heard of it
}

// Alt+/ and Alt+Shift+/ as a window procedure receives them (after TranslateMessage) on two layouts.
TEST_F(GtkBackendTest, AltSlashAndAltQuestionAreSysCharsOnUsAndJapaneseLayouts) {
    for (const char* layout : {"us", "jp"}) {
        SCOPED_TRACE(layout);
        std::string command = std::string("setxkbmap ") + layout;
        ASSERT_EQ(std::system(command.c_str()), 0);
        HWND window = Open(layout);
        (void)window;
        // '?' is Shift and the '/' key on both layouts.
        for (auto [key, press] : {std::pair{XK_Alt_L, true}, {XK_slash, true}, {XK_slash, false}}) FakeKey(key, press);
        PumpUntil([] { return seen.size() >= 4; });
        for (auto [key, press] :
             {std::pair{XK_Shift_L, true}, {XK_slash, true}, {XK_slash, false}, {XK_Shift_L, false}, {XK_Alt_L, false}})
            FakeKey(key, press);
        const std::vector<Seen> expected = {
            {WM_SYSKEYDOWN, VK_MENU, 0}, {WM_SYSKEYDOWN, kSlashKey, 0}, {WM_SYSCHAR, '/', 0},
            {WM_SYSKEYUP, kSlashKey, 0}, {WM_SYSKEYDOWN, VK_SHIFT, 0},  {WM_SYSKEYDOWN, kSlashKey, 0},
            {WM_SYSCHAR, '?', 0},        {WM_SYSKEYUP, kSlashKey, 0},   {WM_SYSKEYUP, VK_SHIFT, 0},
            {WM_SYSKEYUP, VK_MENU, 0},
        };
        EXPECT_TRUE(PumpUntil([&] { return seen.size() >= expected.size(); }));
        Settle();
        EXPECT_EQ(seen, expected);
        // Alt context (bit 29) on all; previous state (30) and transition (31) clear on presses, set on releases.
        for (const Seen& message : seen) {
            DWORD bits = static_cast<DWORD>(message.lParam) & 0xE0000000u;
            bool release = message.message == WM_SYSKEYUP;
            EXPECT_EQ(bits, release ? 0xE0000000u : 0x20000000u)
                << std::hex << message.message << " " << message.wParam;
        }
        DestroyWindow(window);
        Settle();
    }
    ASSERT_EQ(std::system("setxkbmap us"), 0);
}

TEST_F(GtkBackendTest, MenuBarKeepsTheMenusTextsAndPostsItsCommands) {
    Open("menus");
    ASSERT_NE(menuBar, nullptr);
    GtkWidget* file = FindWidget(menuBar, GTK_TYPE_MENU_ITEM, "_File");
    ASSERT_NE(file, nullptr);
    EXPECT_NE(FindWidget(menuBar, GTK_TYPE_MENU_ITEM, "_Open..."), nullptr);
    EXPECT_NE(FindWidget(menuBar, GTK_TYPE_SEPARATOR_MENU_ITEM), nullptr);
    GtkWidget* greyed = FindWidget(menuBar, GTK_TYPE_MENU_ITEM, "Save__As & Close");
    ASSERT_NE(greyed, nullptr);
    EXPECT_FALSE(gtk_widget_get_sensitive(greyed));

    gtk_menu_item_activate(GTK_MENU_ITEM(FindWidget(menuBar, GTK_TYPE_MENU_ITEM, "E_xit")));
    EXPECT_TRUE(PumpUntil([] { return !seen.empty(); }));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(seen[0].wParam, MAKEWPARAM(kExitCommand, 0));  // HIWORD 0: from a menu
    EXPECT_EQ(seen[0].lParam, 0);

    // Alt+F is the menu's mnemonic: GTK opens the menu and the program sees no F.
    seen.clear();
    FakeKey(XK_Alt_L, true);
    FakeKey(XK_f, true);
    FakeKey(XK_f, false);
    FakeKey(XK_Alt_L, false);
    GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(file));
    EXPECT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(submenu); }));
    gtk_menu_shell_cancel(GTK_MENU_SHELL(menuBar));
    Settle();
    for (const Seen& message : seen) EXPECT_NE(message.wParam, static_cast<WPARAM>('F')) << message.message;
}

TEST_F(GtkBackendTest, ClicksArriveAtClientPointsAndNotWhileDisabled) {
    HWND window = Open("clicks");
    EnableWindow(window, FALSE);
    EXPECT_FALSE(gtk_widget_is_sensitive(menuBar));
    Click(30, 40);
    Settle();
    EXPECT_TRUE(seen.empty());

    EnableWindow(window, TRUE);
    EXPECT_TRUE(gtk_widget_is_sensitive(menuBar));
    Click(30, 40);
    Click(215, 195, 3);
    const std::vector<Seen> expected = {
        {WM_LBUTTONDOWN, MK_LBUTTON, 0}, {WM_LBUTTONUP, 0, 0}, {WM_RBUTTONDOWN, MK_RBUTTON, 0}, {WM_RBUTTONUP, 0, 0}};
    EXPECT_TRUE(PumpUntil([&] { return seen.size() >= expected.size(); }));
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(seen.size(), expected.size());
    EXPECT_EQ(seen[1].lParam, MAKELPARAM(30, 40));
    EXPECT_EQ(seen[3].lParam, MAKELPARAM(215, 195));
}

TEST_F(GtkBackendTest, ThreeQuickPressesAreOneDoubleClickOnlyForDoubleClickClasses) {
    for (UINT style : {0u, static_cast<UINT>(CS_DBLCLKS)}) {
        SCOPED_TRACE(style);
        HWND window = Open(style ? "double" : "single", style, false);
        for (int i = 0; i < 3; ++i) Click(10, 10);
        UINT second = style ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
        const std::vector<Seen> expected = {{WM_LBUTTONDOWN, MK_LBUTTON, 0}, {WM_LBUTTONUP, 0, 0},
                                            {second, MK_LBUTTON, 0},         {WM_LBUTTONUP, 0, 0},
                                            {WM_LBUTTONDOWN, MK_LBUTTON, 0}, {WM_LBUTTONUP, 0, 0}};
        EXPECT_TRUE(PumpUntil([&] { return seen.size() >= expected.size(); }));
        EXPECT_EQ(seen, expected);
        DestroyWindow(window);
        Settle();
    }
}

TEST_F(GtkBackendTest, CloseBoxClosesThroughWmCloseAndTitleAndIconsFollowTheWindow) {
    HWND window = Open("first title");
    SetWindowTextA(window, "題名 ２");
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(toplevel)), "題名 ２");
    GList* icons = gtk_window_get_icon_list(GTK_WINDOW(toplevel));
    std::vector<int> sizes;
    for (GList* icon = icons; icon != nullptr; icon = icon->next)
        sizes.push_back(gdk_pixbuf_get_width(GDK_PIXBUF(icon->data)));
    g_list_free(icons);
    EXPECT_EQ(sizes, std::vector<int>({32, 16}));

    gtk_window_close(GTK_WINDOW(toplevel));
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_CLOSE));
    EXPECT_EQ(FindTopLevel("題名 ２"), nullptr);
}

// The dialog test runs inside DialogBoxParamA's loop: a GLib timeout looks at the dialog and answers it.
HWND shownDialog;  // set by the dialog procedure

struct DialogVisit {
    HWND owner;
    GtkWidget* ownerWindow;
    int stage = 0;
    std::vector<std::string> problems;
};

void Check(DialogVisit* visit, bool ok, const char* what) {
    if (!ok) visit->problems.push_back(what);
}

gboolean VisitDialog(gpointer data) {
    auto* visit = static_cast<DialogVisit*>(data);
    GtkWidget* dialog = FindTopLevel("Backend dialog");
    if (dialog == nullptr || !gtk_widget_get_mapped(dialog)) return G_SOURCE_CONTINUE;
    if (visit->stage++ > 0) {
        // Second run: Enter is IDOK.
        FakeKey(XK_Return, true);
        FakeKey(XK_Return, false);
        return G_SOURCE_REMOVE;
    }
    Check(visit, gtk_window_get_transient_for(GTK_WINDOW(dialog)) == GTK_WINDOW(visit->ownerWindow),
          "not transient for its owner");
    Check(visit, !gtk_window_get_resizable(GTK_WINDOW(dialog)), "resizable");
    Check(visit,
          gdk_window_get_width(gtk_widget_get_window(dialog)) == 300 &&
              gdk_window_get_height(gtk_widget_get_window(dialog)) == 120,
          "not 150 x 60 dialog units");
    Check(visit, !gtk_widget_is_sensitive(gtk_bin_get_child(GTK_BIN(visit->ownerWindow))), "owner not disabled");
    GtkWidget* plain = FindWidget(dialog, GTK_TYPE_LABEL, "A && B");
    Check(visit, plain != nullptr && !gtk_label_get_use_underline(GTK_LABEL(plain)), "SS_NOPREFIX text");
    GtkWidget* prefixed = FindWidget(dialog, GTK_TYPE_LABEL, "_Name");
    Check(visit, prefixed != nullptr && gtk_label_get_use_underline(GTK_LABEL(prefixed)), "prefixed text");
    GtkWidget* ok = FindWidget(dialog, GTK_TYPE_BUTTON, "OK");
    GtkWidget* cancel = FindWidget(dialog, GTK_TYPE_BUTTON, "_Cancel");
    Check(visit, ok != nullptr && cancel != nullptr && prefixed != nullptr, "controls missing");
    if (ok == nullptr || cancel == nullptr || prefixed == nullptr) {
        EndDialog(shownDialog, 3);                 // IDABORT
        PostMessageA(shownDialog, WM_NULL, 0, 0);  // the modal loop looks at the end after a message
        return G_SOURCE_REMOVE;
    }
    int x = -1, y = -1;
    gtk_widget_translate_coordinates(ok, dialog, 0, 0, &x, &y);
    Check(visit, x == 200 && y == 10, "OK not at (100, 5) dialog units");
    Check(visit, gtk_widget_get_allocated_width(ok) == 80 && gtk_widget_get_allocated_height(ok) == 24,
          "OK not 40 x 12 units");
    gtk_widget_translate_coordinates(prefixed, dialog, 0, 0, &x, &y);
    Check(visit, x == 10 && y == 40, "label not at (5, 20) dialog units");
    Check(visit, gtk_widget_has_default(ok), "OK is not the default button");
    gtk_button_clicked(GTK_BUTTON(cancel));
    return G_SOURCE_REMOVE;
}

TEST_F(GtkBackendTest, DialogControlsSitAtTheirTemplatePixelsAndAnswerClicksAndEnter) {
    HWND owner = Open("owner");
    DialogVisit visit{owner, toplevel, 0, {}};
    HINSTANCE instance = GetModuleHandleA(nullptr);
    auto proc = [](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        if (message == WM_INITDIALOG) shownDialog = dialog;
        return message == WM_INITDIALOG;
    };
    g_timeout_add(20, VisitDialog, &visit);
    EXPECT_EQ(DialogBoxParamA(instance, MAKEINTRESOURCEA(kDialogId), owner, proc, 0), IDCANCEL);
    for (const std::string& problem : visit.problems) ADD_FAILURE() << problem;
    EXPECT_TRUE(gtk_widget_is_sensitive(menuBar));

    g_timeout_add(20, VisitDialog, &visit);
    EXPECT_EQ(DialogBoxParamA(instance, MAKEINTRESOURCEA(kDialogId), owner, proc, 0), IDOK);
}

// The chooser test answers from a GLib timeout too, once GTK has selected the file it was asked to.
struct ChooserVisit {
    std::string choose;  // empty: cancel
    std::vector<std::string> problems;
};

bool Matches(GtkFileFilter* filter, const char* name) {
    GtkFileFilterInfo info{};
    info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
    info.display_name = name;
    return gtk_file_filter_filter(filter, &info);
}

gboolean VisitChooser(gpointer data) {
    auto* visit = static_cast<ChooserVisit*>(data);
    GtkWidget* dialog = FindTopLevel("Pick a picture");
    if (dialog == nullptr || !gtk_widget_get_mapped(dialog)) return G_SOURCE_CONTINUE;
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    if (visit->choose.empty()) {
        GSList* filters = gtk_file_chooser_list_filters(chooser);
        if (g_slist_length(filters) != 2) {
            visit->problems.push_back("not two filters");
        } else {
            auto* pictures = GTK_FILE_FILTER(filters->data);
            auto* everything = GTK_FILE_FILTER(filters->next->data);
            if (std::strcmp(gtk_file_filter_get_name(pictures), "Pictures (*.bmp)") != 0 ||
                gtk_file_chooser_get_filter(chooser) != pictures)
                visit->problems.push_back("first filter not named or not selected");
            if (!Matches(pictures, "a.bmp") || !Matches(pictures, "B.BMP") || !Matches(pictures, "c.Bmp") ||
                Matches(pictures, "d.png") || Matches(pictures, "bmp"))
                visit->problems.push_back("*.bmp does not match as Windows does");
            if (!Matches(everything, "README") || !Matches(everything, "e.png"))
                visit->problems.push_back("*.* does not match every file");
        }
        g_slist_free(filters);
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
        return G_SOURCE_REMOVE;
    }
    gchar* selected = gtk_file_chooser_get_filename(chooser);
    bool there = selected != nullptr && visit->choose == selected;
    g_free(selected);
    if (!there) {
        gtk_file_chooser_select_filename(chooser, visit->choose.c_str());
        return G_SOURCE_CONTINUE;
    }
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    return G_SOURCE_REMOVE;
}

TEST_F(GtkBackendTest, FileChooserShowsTheRequestAndAnswersWithTheChosenFile) {
    char folder[] = "/tmp/pelomi-chooser.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string picture = std::string(folder) + "/Face.BMP";
    std::fclose(std::fopen(picture.c_str(), "wb"));

    char file[MAX_PATH] = "";
    OPENFILENAMEA record{};
    record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    record.lpstrFilter = "Pictures (*.bmp)\0*.bmp\0All (*.*)\0*.*\0";
    record.lpstrFile = file;
    record.nMaxFile = sizeof file;
    record.lpstrTitle = "Pick a picture";
    record.lpstrInitialDir = folder;
    record.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

    ChooserVisit cancel;
    g_timeout_add(20, VisitChooser, &cancel);
    EXPECT_FALSE(GetOpenFileNameA(&record));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    for (const std::string& problem : cancel.problems) ADD_FAILURE() << problem;

    ChooserVisit choose{picture, {}};
    g_timeout_add(20, VisitChooser, &choose);
    EXPECT_TRUE(GetOpenFileNameA(&record));
    EXPECT_EQ(std::string(file), picture);
    EXPECT_EQ(record.nFilterIndex, 1u);

    std::remove(picture.c_str());
    rmdir(folder);
}

}  // namespace
