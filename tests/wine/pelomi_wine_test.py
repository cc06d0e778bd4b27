#!/usr/bin/env python3
"""The Windows program under Wine: a second, independent Win32 runs the same sources as the layer.

Each test: a private X server and PulseAudio daemon (a microphone-like null-sink monitor as the default
source, which Wine's winepulse reaches through PULSE_SERVER) from the helpers of tests/e2e/pelomi_e2e.py, and
a private Wine prefix made for it. The program starts beside the sample sheet; its window has its menu bar
and its icon and shows the sheet's first cell under the bar; a tone from the virtual microphone draws the
bar; Alt+/ opens the version dialog and Enter closes it; File > Exit ends it with exit code 0. The installer
and the zip of scripts/windows-release: each test says what it checks.

Environment: PELOMI_WINDOWS_PROGRAM (pelomi.exe), PELOMI_WINDOWS_PACKAGES (the folder of
pelomi-VERSION-setup.exe and pelomi-VERSION-windows.zip), PELOMI_SHOTS_DIR (screenshots kept; optional).
Exits 77 when Wine or a tool is missing.
"""

import glob
import os
import re
import subprocess
import sys
import unittest
import zipfile
from xml.etree import ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import pelomi_e2e  # noqa: E402  the display, sound and screen helpers
from pelomi_e2e import BLACK, SAMPLE_SHEET, TITLE, Sheet, bar_width, shown_cell, wait_for  # noqa: E402

PROGRAM = os.environ.get("PELOMI_WINDOWS_PROGRAM", "")
PACKAGES = os.environ.get("PELOMI_WINDOWS_PACKAGES", "")
TONE_LEVEL = 60  # the bar is the level plus 5 pixels wide
WINE_TOOLS = ("wine", "wineboot", "wineserver", "Xvfb", "xdotool", "import", "xwininfo", "xprop", "pulseaudio",
              "pacat")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelomi"


class WineDesktop(pelomi_e2e.Desktop):
    """The e2e desktop with a Wine prefix of its own, running the Windows program."""

    def __init__(self, test, sheet=True, dpi=96):
        super().__init__(test, sheet=sheet)
        # The program's strings are in code page 932: a Japanese locale gives Wine that ANSI code page. No Linux
        # menu entries for Start menu shortcuts: winemenubuilder's are Wine's, not the installer's.
        self.prefix = os.path.join(self.work, "prefix")
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", LANG="ja_JP.UTF-8",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        subprocess.run(["wineboot", "--init"], env=self.env, check=True, capture_output=True, timeout=300)
        test.addCleanup(subprocess.run, ["wineserver", "-k"], env=self.env, check=False)
        if dpi != 96:  # the screen's scale as Windows' display settings set it: 192 dpi is 200 %
            self.wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                      str(dpi), "/f")

    def wine(self, *command):
        return subprocess.run(["wine", *command], env=self.env, check=True, capture_output=True, text=True,
                              timeout=300).stdout

    def start(self, *command, cwd=None):
        self.program = subprocess.Popen(["wine", *(command or [PROGRAM])], cwd=cwd or self.cwd, env=self.env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.test.addCleanup(self._end_program)
        self.window = wait_for(lambda: self.find_window(TITLE), seconds=60)
        self.test.assertTrue(self.window, "the main window did not appear")
        return self.window

    def check_first_cell(self, shot):
        """The silent microphone's picture: the bar's stub, and under it the sample sheet's first cell, whole."""
        sheet, wanted = Sheet(SAMPLE_SHEET), (5, (0, 0), True)

        def shown(keep=None):
            canvas = self.canvas(keep)
            cell, difference = shown_cell(canvas, sheet)
            return bar_width(canvas), cell, difference < 2.0

        wait_for(lambda: shown() == wanted, seconds=30)
        self.test.assertEqual(shown(shot), wanted)

    def quit(self):
        self.focus_and_keys(self.window, "alt+f", "x")
        self.test.assertEqual(self.exit_code(seconds=30), 0)

    def wait_until_idle(self):
        """Until every process of the prefix has ended and the Wine server with them (saving the registry)."""
        subprocess.run(["wineserver", "-w"], env=self.env, check=True, timeout=300)

    def leftovers(self, before=(set(), [])):
        """Once Wine is idle: the files of drive_c that `before` had not, but for the users' Temp (where an
        uninstaller runs from a copy of itself), and the registry lines that name the program (not the tests'
        sound devices pelomi_null and PelomiVirtualMicrophone)."""
        self.wait_until_idle()
        files = {path for path in glob.glob(os.path.join(self.prefix, "drive_c", "**"), recursive=True)
                 if not re.search(r"/users/.*/Temp/", path)}
        ours, registry = re.compile(r"pelomi(?!_null|virtualmicrophone)", re.I), []
        for hive in glob.glob(os.path.join(self.prefix, "*.reg")):
            with open(hive, encoding="utf-8", errors="replace") as lines:
                registry += [line for line in lines if ours.search(line)]
        return files - before[0], registry

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
        missing = pelomi_e2e.missing_tools(*WINE_TOOLS)
        if missing or not os.path.exists(PROGRAM):
            raise unittest.SkipTest("needs %s" % (", ".join(missing) if missing else PROGRAM or "PELOMI_WINDOWS_PROGRAM"))

    def test_window_menu_icon_first_cell_bar_version_dialog_and_exit(self):
        d = WineDesktop(self)
        d.start()
        self.assertIn("Icon (32 x 32)", d.run("xprop", "-id", d.window, "_NET_WM_ICON"))
        d.check_first_cell("wine-first-cell")
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

        d.quit()


class WindowsPackagesUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        found = [glob.glob(os.path.join(PACKAGES, "pelomi-*-" + kind)) for kind in ("setup.exe", "windows.zip")]
        missing = pelomi_e2e.missing_tools(*WINE_TOOLS, "wrestool") + ([] if all(found) else [PACKAGES + "/pelomi-*"])
        if missing:
            raise unittest.SkipTest("needs " + ", ".join(missing))
        (cls.setup,), (cls.zip,) = found
        cls.version = re.match(r"pelomi-(.+)-setup\.exe$", os.path.basename(cls.setup)).group(1)

    def test_installer_installs_and_uninstalls_silently_leaving_nothing(self):
        """Installed silently: the files, the uninstall entry Windows lists, the Start menu shortcut that starts
        the program in its folder; uninstalled silently: nothing of ours left in the prefix."""
        d = WineDesktop(self, sheet=False)
        before = d.leftovers()
        d.wine(self.setup, "/S")
        drive = os.path.join(d.prefix, "drive_c")
        # A 32-bit program, in Program Files (x86) on a 64-bit Windows.
        programs = next(name for name in ("Program Files (x86)", "Program Files")
                        if os.path.isdir(os.path.join(drive, name)))
        self.assertEqual(sorted(os.listdir(os.path.join(drive, programs, "Pelomi"))),
                         ["default.bmp", "pelomi.exe", "uninstall.exe"])
        folder = "C:\\%s\\Pelomi\\" % programs
        entry = d.wine("reg", "query", UNINSTALL_KEY, "/reg:32")  # the 32-bit view a 32-bit installer writes
        self.assertLessEqual({("DisplayName", "Pelomi"), ("DisplayVersion", self.version),
                              ("Publisher", "Pelomi developers"), ("DisplayIcon", folder + "pelomi.exe,0"),
                              ("UninstallString", '"%suninstall.exe"' % folder),
                              ("QuietUninstallString", '"%suninstall.exe" /S' % folder)},
                             set(re.findall(r"^ +(\w+) +REG_SZ +(.*?)\s*$", entry, re.M)))
        # The shortcut's working folder (a counted UTF-16 string; Wine counts its NUL too) is the program's.
        shortcut = os.path.join(drive, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", "Pelomi.lnk")
        counted = b"[%c%c]\x00" % (len(folder) - 1, len(folder)) + re.escape(folder[:-1].encode("utf-16-le"))
        with open(shortcut, "rb") as link:
            self.assertRegex(link.read(), counted)
        d.start("start", "/wait", "/unix", shortcut)
        d.check_first_cell("wine-installed-first-cell")
        d.quit()
        d.wait_until_idle()  # the program's process gone, its file free to delete
        d.wine(folder + "uninstall.exe", "/S")  # it runs on from a copy of itself: leftovers() waits for it
        self.assertEqual(d.leftovers(before), (set(), []))

    def test_zip_starts_in_its_folder_on_a_200_percent_screen_with_its_version_and_manifest(self):
        """Unpacked: the three files; its program's version and manifest; started in its folder on a 200 %
        screen, the whole first cell."""
        d = WineDesktop(self, sheet=False, dpi=192)
        folder = os.path.join(d.work, "unzipped")
        with zipfile.ZipFile(self.zip) as archive:
            self.assertEqual(sorted(archive.namelist()), ["README.txt", "default.bmp", "pelomi.exe"])
            self.assertNotIn(b"\n", archive.read("README.txt").replace(b"\r\n", b""), "README.txt wants CR LF")
            archive.extractall(folder)
        program = os.path.join(folder, "pelomi.exe")

        def resource(kind):
            return subprocess.run(["wrestool", "-x", "--raw", "--type=%d" % kind, program], check=True,
                                  capture_output=True).stdout

        strings = set(re.findall(r"\x01(\w+)\x00+([^\x00-\x1f]+)\x00", resource(16).decode("utf-16-le")))
        self.assertLessEqual({("FileVersion", self.version), ("ProductVersion", self.version),
                              ("ProductName", "Pelomi"), ("FileDescription", "Pelomi: マイクの音に合わせて顔が動きます"),
                              ("LegalCopyright", "Copyright (C) 2026 Pelomi developers")}, strings)
        # Windows starts no program whose manifest does not parse.
        found = {(element.tag.split("}")[1], value) for element in ElementTree.fromstring(resource(24)).iter()
                 for value in [element.text, *element.attrib.values()] if value}
        self.assertLessEqual({("assemblyIdentity", "Microsoft.Windows.Common-Controls"),
                              ("supportedOS", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"),  # Windows 7
                              ("supportedOS", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"),  # Windows 10 and 11
                              ("requestedExecutionLevel", "asInvoker"), ("dpiAware", "true")}, found)
        # As Explorer starts a double-clicked program: in its folder.
        d.start(program, cwd=folder)
        d.check_first_cell("wine-unzipped-first-cell")
        d.quit()


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    for test, reason in result.skipped:
        print("pelomi_wine_test: %s skipped: %s" % (test.id(), reason), file=sys.stderr)
    # A class skipped as a whole runs no test and leaves one skip that is no test case.
    ran = result.testsRun - sum(isinstance(test, unittest.TestCase) for test, _ in result.skipped)
    sys.exit(77 if result.skipped and ran == 0 else 0 if result.wasSuccessful() else 1)
