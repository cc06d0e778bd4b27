#!/usr/bin/env python3
"""What a newcomer runs first: the demo command, installing on a desktop, and scripts/run without a display.

The demo runs the real program on its own X server and sound server; every process it starts inherits a
marker variable set here, so that whatever is left behind afterwards can be found by its environment.

Environment: PELOMI_PROGRAM (the program), PELOMI_SOURCE_DIR (the repository), PELOMI_BUILD_DIR (the build
tree to install from), PELOMI_CMAKE (the cmake to install with). Exits 77 when every test it ran was skipped.
"""

import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import unittest
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("PELOMI_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
from pelomi_e2e import (CLIENT_H, CLIENT_W, Image, SAMPLE_SHEET, Sheet, missing_tools, run_as_ctest,  # noqa: E402
                        shown_cell, wait_for)

PROGRAM = os.environ.get("PELOMI_PROGRAM", "")
BUILD = os.environ.get("PELOMI_BUILD_DIR", "")
CMAKE = os.environ.get("PELOMI_CMAKE", "cmake")
DEMO = os.path.join(SOURCE, "scripts", "demo")
MARKER = "PELOMI_FIRSTRUN_MARK"


# ---- processes left behind ---------------------------------------------------------------------------

def marked_processes(mark):
    """{pid: command line} of the processes whose environment holds MARKER=mark (zombies have none)."""
    wanted = ("%s=%s" % (MARKER, mark)).encode()
    found = {}
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                environment = f.read().split(b"\0")
            with open("/proc/%s/cmdline" % name, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
        except OSError:
            continue  # gone meanwhile, or not ours to read
        if wanted in environment:
            found[int(name)] = command
    return found


def kinds(processes):
    """Which of the servers, the program and the player are among the processes."""
    seen = set()
    for command in processes.values():
        program = os.path.basename(command.split(" ", 1)[0])
        if program in ("Xvfb", "pulseaudio", "paplay"):
            seen.add(program)
        elif command.split(" ", 1)[0] == PROGRAM:
            seen.add("program")
    return seen


class DemoRun:
    """One run of scripts/demo with the program under test, in a temporary directory of its own that it
    also takes as TMPDIR; its progress lines are collected as they come."""

    def __init__(self, test):
        self.mark = uuid.uuid4().hex
        self.dir = tempfile.mkdtemp(prefix="pelomi-firstrun.")
        test.addCleanup(shutil.rmtree, self.dir, True)
        self.scratch = os.path.join(self.dir, "tmp")
        os.makedirs(self.scratch)
        self.gif = os.path.join(self.dir, "out", "demo.gif")
        env = dict(os.environ, PELOMI_PROGRAM=PROGRAM, TMPDIR=self.scratch)
        env[MARKER] = self.mark
        self.process = subprocess.Popen(["bash", DEMO, self.gif], env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, start_new_session=True)
        test.addCleanup(self._end)
        self.stderr = []
        self.reader = threading.Thread(target=lambda: self.stderr.extend(self.process.stderr), daemon=True)
        self.reader.start()

    def said(self, words):
        return any(words in line for line in self.stderr)

    def finish(self, seconds=150):
        """Waits for the run to end; returns what it printed on stdout (a line or two)."""
        self.process.wait(timeout=seconds)
        self.reader.join(10)  # a process left behind would hold stderr open: the survivors check names it
        return self.process.stdout.read()

    def survivors(self):
        """The processes of this run still there once they have had a few seconds to go."""
        wait_for(lambda: not marked_processes(self.mark), 10)
        return marked_processes(self.mark)

    def _end(self):
        # A failed test must not leave the run behind for the next one.
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self.reader.join(5)  # at the end of stderr once every process holding it is gone
        self.process.stdout.close()
        self.process.stderr.close()
        for pid in marked_processes(self.mark):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass


def gif_frames(path):
    """The frames of a GIF as full canvases (later frames only store what changed), and their delays."""
    data = subprocess.run(["convert", path, "-coalesce", "-depth", "8", "rgb:-"], check=True,
                          capture_output=True).stdout
    info = subprocess.run(["identify", "-format", "%W %H %T\n", path], check=True, capture_output=True,
                          text=True).stdout.split()
    sizes = {(int(info[i]), int(info[i + 1])) for i in range(0, len(info), 3)}
    delays = [int(info[i + 2]) for i in range(0, len(info), 3)]
    size = CLIENT_W * CLIENT_H * 3
    frames = [Image(CLIENT_W, CLIENT_H, data[i:i + size]) for i in range(0, len(data), size)]
    return frames, delays, sizes


# ---- the tests ---------------------------------------------------------------------------------------

class DemoTest(unittest.TestCase):
    def setUp(self):
        missing = missing_tools("Xvfb", "pulseaudio")
        if missing:
            self.skipTest("missing tools: " + ", ".join(missing))
        self.assertTrue(PROGRAM and os.access(PROGRAM, os.X_OK), "no program binary (set PELOMI_PROGRAM)")

    def start_and_see_it_running(self, run):
        """Waits until the speech plays, and checks that the servers, the program and the player are all
        found by their mark: otherwise finding none of them afterwards would prove nothing."""
        self.assertTrue(wait_for(lambda: run.said("recording"), 60), "".join(run.stderr))
        found = wait_for(lambda: kinds(marked_processes(run.mark)) >= {"Xvfb", "pulseaudio", "program", "paplay"}, 10)
        self.assertTrue(found, marked_processes(run.mark))

    def test_records_the_speech_and_the_click_and_leaves_nothing_running(self):
        run = DemoRun(self)
        self.start_and_see_it_running(run)
        stdout = run.finish()
        self.assertEqual(run.process.returncode, 0, "".join(run.stderr))
        self.assertEqual(stdout.strip().splitlines()[-1], run.gif, "the GIF's path is printed last")
        self.assertEqual(run.survivors(), {})
        self.assertEqual(os.listdir(run.scratch), [], "temporary files left behind")

        frames, delays, sizes = gif_frames(run.gif)
        self.assertEqual(sizes, {(CLIENT_W, CLIENT_H)}, "frames are the client area")
        self.assertGreater(len({frame.data for frame in frames}), 1, "the GIF does not move")
        self.assertEqual(len(frames), len(delays))
        # Frames are taken once per block, 1/12 s, which GIF's 1/100 s ticks give as 8 or 9.
        self.assertTrue(all(0 < delay <= 300 for delay in delays), delays)
        self.assertIn(max(set(delays), key=delays.count), (8, 9), delays)
        # The speech moves the mouth through the first face, the click moves on to the second face, and the
        # second line moves its mouth too.
        sheet = Sheet(SAMPLE_SHEET)
        cells = []
        for frame in frames:
            cell, difference = shown_cell(frame, sheet)
            if difference < 2.0 and (not cells or cells[-1] != cell):
                cells.append(cell)
        rows = [row for row, _ in cells]
        self.assertEqual(rows, sorted(rows), cells)
        self.assertEqual(set(rows), {0, 1}, cells)
        for row in (0, 1):
            self.assertGreaterEqual(len({column for r, column in cells if r == row}), 2, cells)

    def test_terminated_midway_it_stops_everything_it_started(self):
        run = DemoRun(self)
        self.start_and_see_it_running(run)
        run.process.send_signal(signal.SIGTERM)
        run.finish()
        self.assertEqual(run.process.returncode, 128 + signal.SIGTERM)
        self.assertEqual(run.survivors(), {})
        self.assertEqual(os.listdir(run.scratch), [], "temporary files left behind")
        self.assertFalse(os.path.exists(run.gif))


ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
METAINFO = "share/metainfo/io.github.pelomi.pelomi.metainfo.xml"
INSTALLED = sorted(["bin/pelomi", "share/applications/pelomi.desktop", "share/doc/pelomi/changelog.gz", "share/doc/pelomi/copyright", METAINFO,
                    "share/pelomi/default.bmp"] +
                   ["share/icons/hicolor/%dx%d/apps/pelomi.png" % (size, size) for size in ICON_SIZES])


class InstallTest(unittest.TestCase):
    def setUp(self):
        if not BUILD:
            self.skipTest("no build tree (set PELOMI_BUILD_DIR)")
        self.dir = tempfile.mkdtemp(prefix="pelomi-install.")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def install(self, prefix, destdir=None):
        env = dict(os.environ)
        env.pop("DESTDIR", None)
        if destdir:
            env["DESTDIR"] = destdir
        done = subprocess.run([CMAKE, "--install", BUILD, "--prefix", prefix, "--strip"], env=env,
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    @staticmethod
    def entry(path):
        """The [Desktop Entry] keys of a .desktop file."""
        keys = {}
        with open(path, encoding="utf-8") as f:
            for line in f:
                if "=" in line and not line.startswith("#"):
                    key, value = line.rstrip("\n").split("=", 1)
                    keys[key] = value
        return keys

    @staticmethod
    def string_value(value):
        """A Desktop Entry string value with its escapes (\\s \\n \\t \\r \\\\) undone."""
        out, i = [], 0
        while i < len(value):
            if value[i] == "\\" and i + 1 < len(value):
                out.append({"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}.get(value[i + 1], "\\" + value[i + 1]))
                i += 2
            else:
                out.append(value[i])
                i += 1
        return "".join(out)

    @classmethod
    def exec_arguments(cls, value):
        """The arguments of an Exec value, read by the Desktop Entry rules for quoting and escapes."""
        text, args, i = cls.string_value(value), [], 0
        while i < len(text):
            if text[i] == " ":
                i += 1
                continue
            arg = []
            if text[i] == '"':
                i += 1
                while text[i] != '"':
                    if text[i] == "\\" and text[i + 1] in '"`$\\':
                        i += 1
                    arg.append(text[i])
                    i += 1
                i += 1
            else:
                while i < len(text) and text[i] != " ":
                    arg.append(text[i])
                    i += 1
            args.append("".join(arg).replace("%%", "%"))
        return args

    def valid_entry(self, prefix):
        """The installed menu entry's keys, after checking that it is valid and names the installed program
        (run in the sheet's directory) exactly."""
        desktop = os.path.join(prefix, "share", "applications", "pelomi.desktop")
        if shutil.which("desktop-file-validate"):
            done = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
            self.assertEqual((done.returncode, done.stdout + done.stderr), (0, ""))
        entry = self.entry(desktop)
        self.assertEqual(self.exec_arguments(entry["Exec"]), [os.path.join(prefix, "bin", "pelomi")])
        self.assertEqual(self.string_value(entry["Path"]), os.path.join(prefix, "share", "pelomi"))
        return entry

    def installed_files(self, root):
        return sorted(os.path.relpath(os.path.join(d, f), root) for d, _, files in os.walk(root) for f in files)

    def test_program_sheet_menu_entry_and_icons_land_where_a_desktop_finds_them(self):
        prefix = os.path.join(self.dir, "prefix")
        self.install(prefix)
        self.assertEqual(self.installed_files(prefix), INSTALLED)
        program = os.path.join(prefix, "bin", "pelomi")
        self.assertTrue(os.access(program, os.X_OK))
        self.assertNotIn(".symtab", subprocess.run(["readelf", "-S", "-W", program], capture_output=True,
                                                   text=True).stdout, "the installed program is not stripped")
        with open(os.path.join(prefix, "share", "pelomi", "default.bmp"), "rb") as f, \
                open(SAMPLE_SHEET, "rb") as g:
            self.assertTrue(f.read() == g.read(), "the installed sheet is not the sample sheet")

        entry = self.valid_entry(prefix)
        # The program reads default.bmp from its working directory.
        self.assertEqual(entry["Icon"], "pelomi")
        self.assertEqual(entry["Terminal"], "false")
        if shutil.which("appstreamcli"):
            done = subprocess.run(["appstreamcli", "validate", "--no-net", os.path.join(prefix, METAINFO)],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

        # The theme's icons are one drawing at every size: the small ones the program's own icons, pixel for pixel.
        icons = os.path.join(SOURCE, "app", "icons", "pelomi.ico")
        for size in ICON_SIZES:
            png = os.path.join(prefix, "share", "icons", "hicolor", "%dx%d" % (size, size), "apps", "pelomi.png")
            shape = subprocess.run(["identify", "-format", "%m %wx%h", png], capture_output=True, text=True)
            self.assertEqual(shape.stdout, "PNG %dx%d" % (size, size))
        for index, size in ((0, 32), (1, 16)):
            png = os.path.join(prefix, "share", "icons", "hicolor", "%dx%d" % (size, size), "apps", "pelomi.png")
            compared = subprocess.run(["compare", "-metric", "AE", "%s[%d]" % (icons, index), png, "null:"],
                                      capture_output=True, text=True)
            self.assertEqual(compared.stderr.strip(), "0", "pixels differ from the .ico's %dx%d image" % (size, size))

    def test_staged_install_names_the_final_paths_and_uninstall_leaves_nothing(self):
        stage = os.path.join(self.dir, "stage")
        self.install("/opt/pelomi", destdir=stage)
        entry = self.entry(os.path.join(stage, "opt", "pelomi", "share", "applications", "pelomi.desktop"))
        self.assertEqual(shlex.split(entry["Exec"]), ["/opt/pelomi/bin/pelomi"])
        self.assertEqual(entry["Path"], "/opt/pelomi/share/pelomi")

        # Uninstalling as the README says; the folders the program shares with others stay.
        prefix = os.path.join(self.dir, "prefix with space")
        os.makedirs(os.path.join(prefix, "bin"))
        self.install(prefix)
        entry = self.entry(os.path.join(prefix, "share", "applications", "pelomi.desktop"))
        self.assertEqual(shlex.split(entry["Exec"]), [os.path.join(prefix, "bin", "pelomi")])
        subprocess.run([CMAKE, "--build", BUILD, "--target", "uninstall"], check=True, capture_output=True)
        self.assertEqual(self.installed_files(prefix), [])
        left = sorted(os.path.relpath(d, prefix) for d, _, _ in os.walk(prefix))
        self.assertFalse([d for d in left if "pelomi" in d], left)
        self.assertIn("bin", left)

    def test_menu_entry_names_a_prefix_with_quotes_dollars_and_percents_exactly(self):
        # (CMake itself cannot install under a name with a backslash.)
        prefix = os.path.join(self.dir, 'odd "q" `b` $HOME %f 100%')
        self.install(prefix)
        self.valid_entry(prefix)


class PackageTest(unittest.TestCase):
    """The Debian package, built from this build tree as the README says."""

    def test_debian_package_holds_the_install_with_computed_dependencies(self):
        if not BUILD:
            self.skipTest("no build tree (set PELOMI_BUILD_DIR)")
        missing = [tool for tool in ("dpkg-deb", "dpkg-shlibdeps", "readelf") if not shutil.which(tool)]
        if missing:
            self.skipTest("missing: " + " ".join(missing))
        out = tempfile.mkdtemp(prefix="pelomi-package.")
        self.addCleanup(shutil.rmtree, out, True)
        cpack = os.path.join(os.path.dirname(CMAKE), "cpack")
        done = subprocess.run([cpack, "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()
        deb = os.path.join(out, "pelomi_2.0_%s.deb" % arch)
        self.assertTrue(os.path.exists(deb), os.listdir(out))

        fields = {}
        for line in subprocess.run(["dpkg-deb", "-f", deb], capture_output=True, text=True).stdout.splitlines():
            if ":" in line and not line.startswith(" "):
                key, value = line.split(":", 1)
                fields[key] = value.strip()
        self.assertEqual({k: fields.get(k) for k in ("Package", "Version", "Architecture", "Section")},
                         {"Package": "pelomi", "Version": "2.0", "Architecture": arch, "Section": "sound"})
        depends = [d.split()[0] for d in fields.get("Depends", "").split(",")]
        for library in ("libc6", "libgtk-3-0", "libpulse0", "libgdk-pixbuf-2.0-0"):
            self.assertIn(library, depends)

        listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True).stdout.splitlines()
        files = sorted(line.split()[-1][len("./usr/"):] for line in listing if not line.startswith("d"))
        self.assertEqual(files, INSTALLED)
        root = os.path.join(out, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        entry = InstallTest.entry(os.path.join(root, "usr", "share", "applications", "pelomi.desktop"))
        self.assertEqual((shlex.split(entry["Exec"]), entry["Path"]), (["/usr/bin/pelomi"], "/usr/share/pelomi"))
        self.assertNotIn(".symtab", subprocess.run(["readelf", "-S", "-W", os.path.join(root, "usr", "bin", "pelomi")],
                                                   capture_output=True, text=True).stdout)
        if shutil.which("lintian"):
            report = subprocess.run(["lintian", "--tag-display-limit", "0", deb], capture_output=True, text=True)
            errors = [line for line in report.stdout.splitlines() if line.startswith("E:")]
            self.assertEqual(errors, [], report.stdout + report.stderr)


class CommandLineTest(unittest.TestCase):
    """--help and --version answer without a display; any other argument is named as ignored."""

    def run_program(self, *args):
        if not PROGRAM:
            self.skipTest("no program (set PELOMI_PROGRAM)")
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        return subprocess.run([PROGRAM] + list(args), env=env, capture_output=True, text=True, timeout=60)

    def test_help_and_version_print_on_stdout_and_exit_0(self):
        with open(os.path.join(SOURCE, "app", "pelomi.rc"), encoding="utf-8") as f:
            shown = [line.split('"')[1] for line in f if '"Pelomi Ver' in line]
        self.assertEqual(len(shown), 1)  # the version dialog's line
        for args, expected in ((["--version"], shown[0].replace(" Ver", " ") + "\n"), (["--help"], None)):
            done = self.run_program(*args)
            self.assertEqual((done.returncode, done.stderr), (0, ""), args)
            if expected:
                self.assertEqual(done.stdout, expected)
            else:
                for words in ("Usage: pelomi", "default.bmp", "left click", "Alt+/", "--version"):
                    self.assertIn(words, done.stdout)

    def test_other_arguments_are_named_as_ignored_and_it_starts_as_usual(self):
        for args in (["sheet.bmp"], ["--help", "--version"], ["-x"]):
            done = self.run_program(*args)
            lines = done.stderr.splitlines()
            self.assertIn("takes no arguments", lines[0], args)
            self.assertIn("no display", done.stderr, args)  # and went on to start, as without arguments
            self.assertEqual((done.returncode, done.stdout), (1, ""), args)


class RunScriptTest(unittest.TestCase):
    def test_without_a_display_it_says_so_and_points_at_the_demo(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        done = subprocess.run(["bash", os.path.join(SOURCE, "scripts", "run")], env=env, capture_output=True,
                              text=True, timeout=60)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("no display", done.stderr)
        self.assertIn("scripts/demo", done.stderr)
        self.assertEqual(done.stdout, "")


if __name__ == "__main__":
    run_as_ctest()
