// What the Linux program prints for `pelomi --help` and `pelomi --version`, and when it is given arguments
// it does not take. Only the Linux build has a command line to answer; WinMain ignores its own.
extern const char PROGRAM_USAGE[] =
    "Usage: pelomi [--help | --version]\n"
    "\n"
    "Pelomi shows a drawn face that moves its mouth in time with your default microphone: every 1/12 second\n"
    "it measures the sound and shows, under a level bar, one of five mouth stages from a picture sheet.\n"
    "\n"
    "At start it reads the sheet default.bmp from the directory it is started in (the menu entry starts it\n"
    "where the sample sheet is installed). A sheet is one BMP file of square cells, five to a row, one row\n"
    "per face; File > open a lip-flap file (the first item of the File menu) loads another.\n"
    "\n"
    "  left click        the next face (the next row of the sheet)\n"
    "  Alt+F, Alt+H      the File and Help menus\n"
    "  Alt+/ or Alt+?    the version dialog\n"
    "  File > Exit       quit (also the window's close box)\n"
    "\n"
    "  --help            show this and exit\n"
    "  --version         show the version and exit\n";

extern const char PROGRAM_VERSION[] = "Pelomi " PELOMI_VERSION "\n";

extern const char PROGRAM_TAKES_NO_ARGUMENTS[] =
    "pelomi: takes no arguments (ignored); it shows default.bmp from the directory it starts in, and File >\n"
    "open a lip-flap file loads another sheet; pelomi --help tells more\n";
