#!/usr/bin/env python3
"""The real kestrune-orvalis on an X server, driven as a person drives it: keys typed with
xdotool, files opened with the program while its window is open, and lock folders that another
user set up. It starts its own virtual X server (Xvfb), on a display number the server picks
itself, so that runs side by side never share one; each test starts the program from a copy of
its folder with settings, runtime, cache and home folders of its own.

- Tab from the file list reaches Stop Converting during a run, and Space stops it.
- A second `kestrune-orvalis FILE` adds FILE to the open window's list when it is idle, and is
  refused with a message during a run; a second start without files ends at once, silently.
- A lock folder that is a planted link, or another user's, is not used: the program starts
  anyway and writes nothing there.
- SIGTERM, SIGHUP or SIGINT end the program with 130 whatever dialog is open over the window.
- A display that goes away mid-run (the X server killed) leaves no page folder and no
  unfinished image behind.
- On a 1280x800 screen at QT_SCALE_FACTOR=2 the whole window is on the screen.

Usage: window_desktop_test.py BIN_DIR
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

BIN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/bin")
PROGRAM_FILES = ("kestrune-orvalis", "libtavrinx.so", "help.html")
TITLE = "^Kestrune Orvalis$"
PAGE = "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Kestrune) show showpage\n"
ENDLESS = "%!PS\n{ 1 pop } loop\n"
NOBODY = 65534
# How long the test waits for something it needs to happen before it gives up: only a guard
# against a hang, long enough for the busiest machine. Verdicts never depend on it.
HANG_GUARD = 180


def wait_until(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], capture_output=True, text=True, timeout=HANG_GUARD)


def xdotool_on(display, *arguments):
    return subprocess.run(["xdotool", *arguments], capture_output=True, text=True, timeout=20,
                          env=dict(os.environ, DISPLAY=display))


def children_named(pid, name):
    """The processes named `name` whose parent is `pid`."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        if comm == name and fields[0] != "Z" and int(fields[1]) == pid:
            found.append(int(entry))
    return found


class Desktop:
    """A copy of the program with folders of its own, and the programs started from it."""

    def __init__(self, root, runtime=True):
        self.root = root
        os.chmod(root, 0o755)  # so that another user can reach the folders set up for it
        self.program_folder = os.path.join(root, "program")
        self.docs = os.path.join(root, "docs")
        self.run_folder = os.path.join(root, "run")
        self.cache = os.path.join(root, "cache")
        for folder in (self.program_folder, self.docs, os.path.join(root, "home"),
                       os.path.join(root, "tmp")):
            os.makedirs(folder)
        for name in PROGRAM_FILES:
            shutil.copy2(os.path.join(BIN, name), self.program_folder)
        # PNG beside each source file. The preview pane is hidden: its own interpreter would be
        # counted with the run's here (the preview is tested in window_run_test).
        with open(os.path.join(self.program_folder, "Profile.ini"), "w") as f:
            f.write("[Set]\ntype=3\nmode=0\nPreview=0\n")
        self.env = dict(os.environ)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.env.update(HOME=os.path.join(root, "home"), TMPDIR=os.path.join(root, "tmp"),
                        XDG_CACHE_HOME=self.cache)
        if runtime:
            os.makedirs(self.run_folder, mode=0o700)
            self.env["XDG_RUNTIME_DIR"] = self.run_folder
        else:
            self.env.pop("XDG_RUNTIME_DIR", None)
        self.processes = []

    def write(self, name, text):
        path = os.path.join(self.docs, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def start(self, *files, env=None):
        process = subprocess.Popen([os.path.join(self.program_folder, "kestrune-orvalis"), *files],
                                   cwd=self.docs, env=env or self.env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        self.processes.append(process)
        return process

    def second_start(self, *files):
        """A start while the window is open: (exit status, what it printed)."""
        process = self.start(*files)
        out, err = process.communicate(timeout=HANG_GUARD)
        return process.returncode, out + err

    def windows(self, process):
        found = xdotool("search", "--onlyvisible", "--pid", str(process.pid), "--name", TITLE)
        return found.stdout.split()

    def main_window(self, process):
        def shown():
            if process.poll() is not None:
                raise AssertionError("the program ended: " + process.stderr.read())
            return self.windows(process)
        return wait_until(shown, HANG_GUARD, "the window")[0]

    def type_keys(self, window, *keys):
        xdotool("windowfocus", "--sync", window)
        time.sleep(0.3)
        xdotool("key", "--delay", "150", *keys)
        time.sleep(0.5)

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
            try:
                process.communicate(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.communicate()


class WindowOnTheDesktop(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.holders = []

    def tearDown(self):
        for holder in self.holders:
            holder.kill()
            holder.wait()
        self.folder.cleanup()

    def desktop(self, **options):
        desktop = Desktop(self.folder.name, **options)
        self.addCleanup(desktop.close)
        return desktop

    def test_keyboard_and_files_opened_while_the_window_is_open(self):
        d = self.desktop()
        endless = d.write("endless.ps", ENDLESS)
        d.write("page.ps", PAGE)
        d.write("late.ps", PAGE)
        first = d.start(endless)
        window = d.main_window(first)

        # Idle: a second start's file joins the list (a relative name, from where it ran).
        status, said = d.second_start("page.ps")
        self.assertEqual((status, said), (0, ""))
        # A second start without files ends at once, without a word or a window.
        self.assertEqual(d.second_start(), (1, ""))

        # From the list to Start Converting with Tab (format, mode, folder, Start), Space.
        d.type_keys(window, "Tab", "Tab", "Tab", "Tab", "space")
        wait_until(lambda: children_named(first.pid, "gs"), HANG_GUARD, "the run's interpreter")

        # During the run: refused, and the window says so beside itself.
        status, said = d.second_start("late.ps")
        self.assertEqual(status, 1)
        self.assertIn("cannot be added while a conversion runs", said)
        self.assertIn(os.path.join(d.docs, "late.ps"), said)
        wait_until(lambda: len(d.windows(first)) == 2, HANG_GUARD, "the window's message")

        # Back to the list (Shift+Tab past the folder field), then Tab, Tab, Space on Stop.
        d.type_keys(window, "shift+Tab", "shift+Tab")
        self.assertTrue(children_named(first.pid, "gs"))  # still converting
        d.type_keys(window, "Tab", "Tab", "space")
        wait_until(lambda: not children_named(first.pid, "gs"), HANG_GUARD, "the interpreter to end")
        time.sleep(1)
        self.assertIsNone(first.poll())
        self.assertEqual(children_named(first.pid, "gs"), [])  # no file goes on after Stop
        # The next file may have been converted beside the endless one: whole, if it is there.
        page = os.path.join(d.docs, "page_001.png")
        if os.path.exists(page):
            with open(page, "rb") as image:
                self.assertEqual(image.read()[-8:-4], b"IEND")
        self.assertEqual([n for n in os.listdir(d.docs) if n.endswith(".part")], [])

        # Idle again: files are taken, by the bytes of their names.
        latin1 = os.fsdecode(b"caf\xe9.ps")
        d.write(latin1, PAGE)
        self.assertEqual(d.second_start("late.ps", latin1), (0, ""))

    def test_ending_signals_stop_the_run_and_clean_up(self):
        d = self.desktop()
        tmp = d.env["TMPDIR"]
        # A page folder left by a run that was killed: its lock file is there, nobody holds it.
        stale = os.path.join(tmp, "mtmp_4242_abcdef")
        os.makedirs(stale)
        with open(os.path.join(stale, "doc_001.bmp"), "wb") as f:
            f.write(b"BM")
        open(stale + ".lock", "w").close()
        endless = d.write("endless.ps", PAGE + ENDLESS)
        for ending in (signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=ending.name):
                process = d.start(endless)
                window = d.main_window(process)
                self.assertFalse(os.path.exists(stale), "the stale page folder stays")
                d.type_keys(window, "Tab", "Tab", "Tab", "Tab", "space")
                wait_until(lambda: children_named(process.pid, "gs"), HANG_GUARD, "the interpreter")
                wait_until(lambda: os.path.exists(os.path.join(d.docs, "endless_001.png")), HANG_GUARD,
                           "the first page")
                process.send_signal(ending)
                # The interpreter never ends by itself: only the signal ends the run.
                _, said = process.communicate(timeout=HANG_GUARD)
                self.assertEqual(process.returncode, 130, said)
                self.assertEqual(children_named(process.pid, "gs"), [])
                self.assertEqual([n for n in os.listdir(tmp) if n.startswith("mtmp_")], [])
                self.assertEqual([n for n in os.listdir(d.docs) if n.endswith(".part")], [])

    def test_ending_signals_with_a_dialog_open(self):
        d = self.desktop()
        cases = (("the settings sheet", ("alt+s",), signal.SIGTERM),
                 ("the about box", ("F1",), signal.SIGHUP),
                 ("the file chooser", ("alt+a",), signal.SIGINT))
        for name, keys, ending in cases:
            with self.subTest(dialog=name, signal=ending.name):
                process = d.start()
                window = d.main_window(process)
                d.type_keys(window, *keys)
                wait_until(lambda: len(xdotool("search", "--onlyvisible", "--pid",
                                               str(process.pid)).stdout.split()) >= 2, HANG_GUARD, name)
                process.send_signal(ending)
                _, said = process.communicate(timeout=HANG_GUARD)
                self.assertEqual(process.returncode, 130, said)

    def test_lost_display_cleans_up_as_sigterm_does(self):
        d = self.desktop()
        tmp = d.env["TMPDIR"]
        endless = d.write("endless.ps", PAGE + ENDLESS)
        with VirtualScreen(publish=False) as screen:
            env = dict(d.env, DISPLAY=screen.display)
            process = d.start(endless, env=env)
            window = wait_until(lambda: xdotool_on(screen.display, "search", "--onlyvisible",
                                                   "--pid", str(process.pid), "--name", TITLE)
                                .stdout.split(), HANG_GUARD, "the window")[0]
            xdotool_on(screen.display, "windowfocus", "--sync", window)
            time.sleep(0.3)
            xdotool_on(screen.display, "key", "--delay", "150", "Tab", "Tab", "Tab", "Tab",
                       "space")
            wait_until(lambda: os.path.exists(os.path.join(d.docs, "endless_001.png")), HANG_GUARD,
                       "the first page")
            self.assertTrue([n for n in os.listdir(tmp) if n.startswith("mtmp_")])
            screen.server.kill()
            screen.server.wait(timeout=HANG_GUARD)
            _, said = process.communicate(timeout=HANG_GUARD)
        self.assertEqual(process.returncode, 130, said)
        self.assertEqual(children_named(process.pid, "gs"), [])
        self.assertEqual([n for n in os.listdir(tmp) if n.startswith("mtmp_")], [], said)
        self.assertEqual([n for n in os.listdir(d.docs) if n.endswith(".part")], [])

    def test_window_fits_a_small_screen_at_scale_factor_two(self):
        d = self.desktop()
        with VirtualScreen(publish=False, size="1280x800x24") as screen:
            env = dict(d.env, DISPLAY=screen.display, QT_SCALE_FACTOR="2")
            process = d.start(d.write("page.ps", PAGE), env=env)
            window = wait_until(lambda: xdotool_on(screen.display, "search", "--onlyvisible",
                                                   "--pid", str(process.pid), "--name", TITLE)
                                .stdout.split(), HANG_GUARD, "the window")[0]
            def geometry():
                shape = xdotool_on(screen.display, "getwindowgeometry", "--shell", window).stdout
                values = dict(line.split("=") for line in shape.split())
                return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

            def inside():
                x, y, w, h = geometry()
                return x >= 0 and y >= 0 and x + w <= 1280 and y + h <= 800
            # The window fits itself to the screen once it is shown: wait for that, however long
            # a busy machine takes, and say where it stood when it never did.
            try:
                wait_until(inside, HANG_GUARD, "the window inside the screen")
            except AssertionError:
                self.fail(geometry())
            shots = os.environ.get("ORVALIS_SCREENSHOT_DIR")
            if shots:
                os.makedirs(shots, exist_ok=True)
                subprocess.run(["import", "-display", screen.display, "-window", "root",
                                os.path.join(shots, "window-1280x800-scale2.png")],
                               timeout=HANG_GUARD)
            process.send_signal(signal.SIGTERM)
            process.communicate(timeout=HANG_GUARD)
            self.assertEqual(process.returncode, 130)

    def test_planted_link_is_not_used_as_the_lock_folder(self):
        d = self.desktop()
        chosen = os.path.join(self.folder.name, "chosen")
        os.makedirs(chosen, mode=0o700)
        os.symlink(chosen, os.path.join(d.run_folder, "kestrune-orvalis"))
        first = d.start()
        d.main_window(first)
        self.assertEqual(os.listdir(chosen), [])
        self.assertTrue(os.path.exists(
            os.path.join(d.cache, "kestrune-orvalis", "kestrune-orvalis.lock")))
        # The next place holds the lock and the way in for files.
        status, said = d.second_start(d.write("doc.ps", PAGE))
        self.assertEqual((status, said), (0, ""))
        self.assertEqual(os.listdir(chosen), [])

    @unittest.skipUnless(os.geteuid() == 0, "a second user takes root to play")
    def test_lock_folder_of_another_user_is_not_used(self):
        # No runtime folder, a cache folder everyone may write into, and another user who made
        # the lock folder there first and holds the lock.
        d = self.desktop(runtime=False)
        os.makedirs(d.cache)
        os.chmod(d.cache, 0o1777)
        theirs = os.path.join(d.cache, "kestrune-orvalis")
        holder = subprocess.Popen(
            ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", "sh", "-c",
             'umask 077; mkdir "$1" && exec 9>"$1/kestrune-orvalis.lock" && flock 9 &&'
             ' : > "$1.held" && exec sleep infinity', "sh", theirs],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.holders.append(holder)
        # Once it holds the lock (it says so beside its folder, which must hold the lock alone).
        wait_until(lambda: os.path.exists(theirs + ".held"), HANG_GUARD, "the other user's lock")
        first = d.start()
        d.main_window(first)  # it starts, unguarded, instead of ending silently
        self.assertEqual(os.listdir(theirs), ["kestrune-orvalis.lock"])
        self.assertEqual(os.stat(theirs).st_uid, NOBODY)


class VirtualScreen:
    """An Xvfb server on a free display: -displayfd lets the server take the first free number
    itself and says it only once it accepts clients, so there is neither a race for the number
    nor a wait that guesses. -noreset: an X server resets itself whenever its last client leaves,
    and refuses the clients that come while it does, which would be the next program started."""

    def __init__(self, publish=True, size="1280x1024x24"):
        self.publish = publish  # DISPLAY of this process and its children
        self.size = size

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.size, "-noreset",
             "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as announced:
            number = announced.readline().strip()
        if not number.isdigit():
            self.server.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        if self.publish:
            os.environ["DISPLAY"] = self.display
            os.environ.pop("XAUTHORITY", None)
        # A client that gets an answer, before the program is the first to try.
        wait_until(lambda: xdotool_on(self.display, "getdisplaygeometry").returncode == 0,
                   HANG_GUARD, "the X server")
        return self

    def __exit__(self, *unused):
        if self.server.poll() is None:
            self.server.terminate()
        self.server.wait(timeout=HANG_GUARD)


if __name__ == "__main__":
    with VirtualScreen():
        result = unittest.main(argv=sys.argv[:1], verbosity=2, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
