#!/usr/bin/env python3
"""The Windows program under Wine: a second, independent Win32 runs the same sources as the layer.

One run: a private X server and PulseAudio daemon (a microphone-like null-sink monitor as the default source,
which Wine's winepulse reaches through PULSE_SERVER) from the helpers of tests/e2e/pelomi_e2e.py, and a
private Wine prefix made for the run. The program starts beside the sample sheet; its window has its menu
bar and its icon; a tone from the virtual microphone draws the bar; Alt+/ opens the version dialog and Enter
closes it; File > Exit ends it with exit code 0.

Environment: PELOMI_WINDOWS_PROGRAM (pelomi.exe), PELOMI_SHOTS_DIR (screenshots kept; optional). Exits 77
when Wine or a tool is missing.
"""

import os
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import pelomi_e2e  # noqa: E402  the display, sound and screen helpers
from pelomi_e2e import BLACK, TITLE, bar_width, wait_for  # noqa: E402

PROGRAM = os.environ.get("PELOMI_WINDOWS_PROGRAM", "")
TONE_LEVEL = 60  # the bar is the level plus 5 pixels wide


class WineDesktop(pelomi_e2e.Desktop):
    """The e2e desktop with a Wine prefix of its own, running the Windows program."""

    def __init__(self, test):
        super().__init__(test)
        # The program's strings are in code page 932: a Japanese locale gives Wine that ANSI code page.
        self.env.update(WINEPREFIX=os.path.join(self.work, "prefix"), WINEDEBUG="-all", LANG="ja_JP.UTF-8",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        subprocess.run(["wineboot", "--init"], env=self.env, check=True, capture_output=True, timeout=300)
        test.addCleanup(subprocess.run, ["wineserver", "-k"], env=self.env, check=False)

    def start(self):
        self.program = subprocess.Popen(["wine", PROGRAM], cwd=self.cwd, env=self.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        self.test.addCleanup(self._end_program)
        self.window = wait_for(lambda: self.find_window(TITLE), seconds=60)
        self.test.assertTrue(self.window, "the main window did not appear")
        return self.window

    def other_windows(self):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], capture_output=True,
                               text=True, env=self.env).stdout.split()
        return [window for window in found if window != self.window]

    def menu_rows(self):
        """Wine's X window holds the menu bar over the client area, which the program paints black."""
        _, _, _, height = self.geometry(self.window)
        strip = self.window_shot(self.window, None)
        rows = 0
        while rows < height and strip.px(1, rows) != BLACK:
            rows += 1
        return rows

    def client_origin(self):
        x, y, _, _ = self.geometry(self.window)
        return x, y + self.menu_rows()

    def focus_and_keys(self, window, *keys):
        self.run("xdotool", "windowfocus", "--sync", window)
        self.keys(*keys)


class WindowsProgramUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = pelomi_e2e.missing_tools("wine", "wineboot", "wineserver", "Xvfb", "xdotool", "import",
                                           "xwininfo", "xprop", "pulseaudio", "pacat")
        if missing or not os.path.exists(PROGRAM):
            raise unittest.SkipTest("needs %s" % (", ".join(missing) if missing else PROGRAM or "PELOMI_WINDOWS_PROGRAM"))

    def test_window_menu_icon_bar_version_dialog_and_exit(self):
        d = WineDesktop(self)
        d.start()
        self.assertIn("Icon (32 x 32)", d.run("xprop", "-id", d.window, "_NET_WM_ICON"))
        d.play(TONE_LEVEL)
        self.assertTrue(wait_for(lambda: bar_width(d.canvas()) == TONE_LEVEL + 5, seconds=20),
                        "the bar is %d pixels wide, not %d" % (bar_width(d.canvas()), TONE_LEVEL + 5))
        # Now that the client area is painted, the rows above it are the menu bar, with its items' text.
        menu = d.window_shot(d.window, "wine-main-window")
        rows = d.menu_rows()
        self.assertGreater(rows, 10, "no menu bar over the client area")
        colours = {menu.px(x, y) for y in range(rows) for x in range(menu.width // 2)}
        self.assertGreater(len(colours), 2, "the menu bar has no item text")

        d.focus_and_keys(d.window, "alt+slash")
        dialogs = wait_for(d.other_windows)
        self.assertTrue(dialogs, "Alt+/ did not open the version dialog")
        d.window_shot(dialogs[0], "wine-version-dialog")
        d.focus_and_keys(dialogs[0], "Return")
        self.assertTrue(wait_for(lambda: not d.other_windows()), "Enter did not close the version dialog")

        d.focus_and_keys(d.window, "alt+f", "x")
        self.assertEqual(d.exit_code(seconds=30), 0)


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    skipped_all = result.testsRun > 0 and len(result.skipped) == result.testsRun
    sys.exit(77 if skipped_all else 0 if result.wasSuccessful() else 1)
