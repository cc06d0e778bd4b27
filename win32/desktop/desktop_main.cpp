// main() of the Linux program: locale, GTK, the GTK, PulseAudio and gdk-pixbuf backends, then WinMain.
// Leaves out Windows' start-up information (STARTUPINFO): WinMain always gets SW_SHOWDEFAULT.
#include <windows.h>

#include <gtk/gtk.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "gtk/gtk_desktop.h"
#include "pixbuf/pixbuf_bmp_decoder.h"
#include "pulse/pulse_wave_device.h"

namespace {

// The layer's ANSI code page is UTF-8, so the C library and GTK must read text as UTF-8 too: the user's
// locale when it is a UTF-8 one, otherwise C.UTF-8 for the character type and the user's for the rest.
void SetProcessLocale() {
    const char* chosen = std::setlocale(LC_ALL, "");
    const char* codeset = std::setlocale(LC_CTYPE, nullptr);
    bool utf8 = chosen != nullptr && codeset != nullptr &&
                (std::strstr(codeset, "UTF-8") != nullptr || std::strstr(codeset, "utf8") != nullptr);
    if (!utf8) std::setlocale(LC_CTYPE, "C.UTF-8");
}

// lpCmdLine is the command line after the program's name; arguments with blanks are quoted again.
std::string CommandLineAfterProgram(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (!line.empty()) line += ' ';
        std::string argument = argv[i];
        bool quote = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
        line += quote ? "\"" + argument + "\"" : argument;
    }
    return line;
}

// Docks and task switchers match a window to its desktop entry (named after the program file) by the Wayland
// app ID or the X11 WM_CLASS, which GTK takes from the program's name: the file's own, not argv[0], which
// whoever starts the program may set to anything.
void NameProgramAfterItsFile() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return;
    path[length] = '\0';
    const char* slash = std::strrchr(path, '/');
    g_set_prgname(slash != nullptr ? slash + 1 : path);
}

}  // namespace

// Provided by the program, like WinMain: what --help and --version print, and the line for any other argument.
extern const char PROGRAM_USAGE[];
extern const char PROGRAM_VERSION[];
extern const char PROGRAM_TAKES_NO_ARGUMENTS[];

int main(int argc, char** argv) {
    // Answered before GTK starts, so that they need no display.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        std::fputs(std::strcmp(argv[1], "--help") == 0 ? PROGRAM_USAGE : PROGRAM_VERSION, stdout);
        return 0;
    }
    SetProcessLocale();
    NameProgramAfterItsFile();
    // The program draws with GDI into shared memory and never with OpenGL, which GTK probes as it opens the
    // display by loading a GL driver (Mesa's is some 45 MB with its compiler) and, on Wayland, EGL. A user
    // who sets GDK_GL keeps what they set.
    setenv("GDK_GL", "disable", 0);
    gtk_disable_setlocale();  // GTK would set LC_ALL from the environment again
    const bool displayOpened = gtk_init_check(&argc, &argv);  // takes GTK's own options out of argv
    if (argc > 1) std::fputs(PROGRAM_TAKES_NO_ARGUMENTS, stderr);
    if (!displayOpened) {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        const char* x11 = std::getenv("DISPLAY");
        std::fprintf(stderr, "no display: cannot open the Wayland display \"%s\" or the X display \"%s\"\n",
                     wayland != nullptr ? wayland : "", x11 != nullptr ? x11 : "");
        return 1;
    }
    if (!w32::UseGtkDisplay()) {
        std::fprintf(stderr, "no display: GTK has no default screen\n");
        return 1;
    }
    w32::UseGtkFileChooser();
    w32::UsePulseWaveDeviceOnThisThread();
    w32::UsePixbufImageDecoder();
    std::string commandLine = CommandLineAfterProgram(argc, argv);
    return WinMain(GetModuleHandleA(nullptr), nullptr, &commandLine[0], SW_SHOWDEFAULT);
}
