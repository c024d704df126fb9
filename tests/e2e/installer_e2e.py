"""End-to-end tests of the real vestrel-installer: each case runs the program in a window on a
private Xvfb, against the loopback HTTPS server that CTest's httpsServer fixture starts, with
its own install folder and settings location, and judges it by what a player would see: the
window's pixels, the files in the install folder, the programs it started, its log and its
exit status.

    python3 installer_e2e.py                       every case
    python3 installer_e2e.py --list                the cases, as CTest names them
    python3 installer_e2e.py FirstRun.test_...     one case (how CTest runs them)

Run from the build folder (the program loads vtui/ from its working directory), or set
VESTREL_BUILD_DIR. The server tree build/testenv/www/launcher/launcher/ is rewritten by
every case.
"""

import os
import shutil
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import (AccessLog, Chooser, DesktopCase, Installer, ServerTree,  # noqa: E402
                     bright, build_dir, log_records, md5_hex, near, read_log, run_cases,
                     title_blue, wait_until)

SCREENSHOT_DIR = os.path.join(build_dir(), "e2e-screenshots")
RECORDING_PROGRAM = os.environ.get("VESTREL_RECORDING_PROGRAM",
                                   os.path.join(build_dir(), "vestrel-recording-program"))
GENERAL_HELP_LINK = os.environ.get("VESTREL_GENERAL_HELP_LINK",
                                   "help.example.org/forum/installer-guide")
RENDERER_REFUSAL = os.environ.get("VESTREL_RENDERER_REFUSAL",
                                  os.path.join(build_dir(), "libvestrel-renderer-refusal.so"))

YELLOW_FILL = (255, 255, 161)
BLACK = (0, 0, 0)
# Where the two layouts put things, in window-local client pixels.
COMPACT = (400, 300)
FULL = (800, 600)
CHOOSER = (50, 145, 750, 455)  # left, top, right, bottom of the 700x310 dialog


def recording_program():
    with open(RECORDING_PROGRAM, "rb") as f:
        return f.read()


def sample_tree():
    """A small launcher tree: folders, text and binary files, the launcher and the two
    programs the installer starts (the recording stand-in)."""
    program = recording_program()
    files = {
        "bin/readme.txt": b"Vestrel launcher files\n",
        "bin/engine.dll": bytes(range(256)) * 37,
        "data/maps/first.map": b"".join(i.to_bytes(4, "little") for i in range(5000)),
        "data/maps/held.map": b"map that arrives after the hold\n" * 3,
        "data/settings.ini": b"[video]\r\nwidth=1024\r\n",
        "launcher.exe": b"fresh launcher build\n",
        "updateTool.exe": program,
        "process.exe": program,
    }
    return ["bin", "data", "data/maps"], files


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class FifoHold:
    """Keeps the verification pass waiting: a listed local file that is a FIFO makes the
    installer's hashing block in open() until a writer comes, while the window goes on
    drawing. That gives the screenshots all the time they need in one steady state.

    The reader is left waiting in open(), not in a read: a thread inside fread() holds the
    stream's lock, and the program's final flush of every stream would wait for it."""

    # open() and openat() on the machines the tests run on.
    OPEN_SYSCALLS = {"x86_64": {2, 257}, "aarch64": {56}}

    def __init__(self, path):
        self.path = path

    def create(self):
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        os.mkfifo(self.path)

    def _opening(self, pid, tid):
        task = f"/proc/{pid}/task/{tid}"
        try:
            with open(f"{task}/wchan") as f:
                if f.read().strip() in ("wait_for_partner", "fifo_open"):
                    return True
        except OSError:
            pass
        # Where the kernel hides the sleeping function, the system call and its path
        # argument tell the same.
        try:
            with open(f"{task}/syscall") as f:
                fields = f.read().split()
            if int(fields[0]) not in self.OPEN_SYSCALLS.get(os.uname().machine, ()):
                return False
            address = int(fields[2 if int(fields[0]) != 2 else 1], 16)
            with open(f"/proc/{pid}/mem", "rb") as mem:
                mem.seek(address)
                name = mem.read(len(self.path) + 1)
            return name == self.path.encode() + b"\0"
        except (OSError, ValueError, IndexError):
            return False

    def reached(self, installer):
        try:
            tasks = os.listdir(f"/proc/{installer.pid}/task")
        except OSError:
            return False
        return any(self._opening(installer.pid, tid) for tid in tasks)

    def wait(self, installer, timeout=20.0):
        wait_until(lambda: self.reached(installer) or not installer.running(), timeout,
                   what="the verification pass to reach the held file")
        if not installer.running():
            raise AssertionError(f"the installer ended (status {installer.process.returncode}) "
                                 f"before reaching the held file:\n{installer.printed()}")

    def release(self, data):
        """Gives the waiting reader `data` and the end of the file."""
        fd = os.open(self.path, os.O_WRONLY | os.O_NONBLOCK)
        try:
            os.set_blocking(fd, True)
            os.write(fd, data)
        finally:
            os.close(fd)


class InstallerCase(DesktopCase):
    """Per case: an Xvfb, a temporary folder holding the settings location and the install
    folder, and the server tree; all cleaned up whatever happens."""

    program = "vestrel-installer"  # in the build folder

    def setUp(self):
        # A failure's screenshot from an earlier run would mislead.
        self.failure_shot = os.path.join(SCREENSHOT_DIR,
                                         f"failed-{self.id().split('.', 1)[1]}.png")
        if os.path.exists(self.failure_shot):
            os.unlink(self.failure_shot)
        super().setUp()
        self.temp = self.scratch
        self.config_home = os.path.join(self.temp, "config")
        os.makedirs(self.config_home)
        self.parent = os.path.join(self.temp, "install")
        self.folder = os.path.join(self.parent, "VestrelLauncher")
        os.makedirs(self.folder)
        self.server = ServerTree()
        self.folders, self.files = sample_tree()
        self.installer = None

    def keep_screen_of_failure(self):
        # What the screen showed when a case failed, for the one who reads the failure.
        result = getattr(getattr(self, "_outcome", None), "result", None)
        problems = getattr(result, "errors", []) + getattr(result, "failures", [])
        if any(test is self for test, _ in problems):
            if os.path.exists(self.failure_shot):
                return  # taken already, while an earlier run of the program was up
            try:
                self.x.screenshot().save_png(self.failure_shot)
                print(f"screen at the failure: {self.failure_shot}", file=sys.stderr)
            except Exception as e:  # the failure itself matters more
                print(f"no screenshot of the failure: {e}", file=sys.stderr)

    def start(self, remembered=True, extra_env=None):
        if remembered:
            self.remember()
        self.installer = Installer(self.x, self.config_home, extra_env,
                                   program=self.program).start()
        self.addCleanup(self.installer.stop)
        self.addCleanup(self.keep_screen_of_failure)  # while the program still runs
        return self.installer

    def remember(self):
        Installer(self.x, self.config_home).remember(self.folder + "/")

    def local(self, relative):
        return os.path.join(self.folder, relative)

    def finish(self, timeout=30.0):
        try:
            return self.installer.wait(timeout)
        except Exception:
            self.fail(f"the installer did not end within {timeout} s; it printed:\n"
                      f"{self.installer.printed()}")

    def hold(self, relative="data/maps/held.map"):
        hold = FifoHold(self.local(relative))
        hold.create()
        return hold

    def screenshot(self, window, name=None):
        image = self.x.screenshot().window_part(window)
        if name is not None:
            image.save_png(os.path.join(SCREENSHOT_DIR, name))
        return image

    def stall_one_download(self):
        """One more file, whose download goes silent halfway: the others all arrive."""
        held = "stall-here/data/big.bin"
        body = bytes(range(256)) * 4096
        self.folders.append("stall-here/data")
        self.files[held] = body
        self.server.publish(self.folders, self.files)
        stalling = os.path.join(self.server.site, "stall", "launcher", "launcher", "data",
                                "big.bin")
        write(stalling, body)
        self.addCleanup(os.unlink, stalling)
        return held, body

    def wait_all_but_half_of(self, held, body):
        others = ["launcher_new.exe" if p == "launcher.exe" else p for p in self.files if p != held]
        # The held file arrives under its temporary name until it is verified.
        partial = self.local(held) + ".vestrel-part"
        wait_until(lambda: all(os.path.exists(self.local(p)) for p in others) and
                   os.path.exists(partial) and
                   os.path.getsize(partial) >= len(body) // 2 - (64 << 10),
                   30, what="every other file and half the held one")
        time.sleep(0.5)
        self.x.move_to_corner()

    def share_fetched(self, held):
        """The share of the tree's bytes in, while every file but `held` is and `held` has
        arrived as far as its temporary file holds."""
        total = sum(len(data) for data in self.files.values())
        partial = os.path.getsize(self.local(held) + ".vestrel-part")
        return (total - len(self.files[held]) + partial) / total

    def log(self):
        """The log's records between its banners, and whether both banners are there."""
        return log_records(read_log(self.folder))

    def downloads(self, records):
        """The normalised local paths of the [ЗАГРУЗКА] records, in order."""
        prefix = "[ЗАГРУЗКА] "
        return [os.path.normpath(r[len(prefix):]) for r in records if r.startswith(prefix)]

    def record_of(self, program):
        path = self.local(program + ".record")
        with open(path) as f:
            return dict(line.split("=", 1) for line in f.read().splitlines())

    def assert_started_both(self):
        tool = self.record_of("updateTool.exe")
        self.assertEqual(os.path.normpath(tool["argv[0]"]), self.local("updateTool.exe"))
        self.assertEqual(tool["argv[1]"], self.folder + "/")  # the install root as stored
        self.assertEqual(tool["cwd"], self.folder)
        self.assertEqual(tool["session-leader"], "1")
        launcher = self.record_of("process.exe")
        self.assertEqual(os.path.normpath(launcher["argv[0]"]), self.local("process.exe"))
        self.assertEqual(launcher["argv[1]"], "debu")
        self.assertEqual(launcher["cwd"], self.folder)
        self.assertEqual(launcher["session-leader"], "1")
        for record in (tool, launcher):
            # Nothing of the installer's leaks into the started programs.
            self.assertEqual(record["fds"].split(), ["0:/dev/null", "1:/dev/null", "2:/dev/null"])

    def assert_started_none(self):
        for program in ("updateTool.exe", "process.exe"):
            self.assertFalse(os.path.exists(self.local(program + ".record")),
                             f"{program} was started")

    def assert_installed(self):
        for relative, data in self.files.items():
            name = "launcher_new.exe" if relative == "launcher.exe" else relative
            self.assertEqual(md5_hex(read(self.local(name))), md5_hex(data), relative)

    def assert_clean_end(self, records, started, ended):
        self.assertTrue(started, "the log does not begin with the start banner")
        self.assertTrue(ended, "the log does not end with the end banner")
        self.assertFalse([r for r in records if "Vestrel Installer Log" in r],
                         "a banner inside the log")

    def assert_no_gui_settings_file(self):
        # The GUI toolkit must not leave its own settings file anywhere.
        for folder in (build_dir(), self.folder):
            self.assertFalse(os.path.exists(os.path.join(folder, "imgui.ini")),
                             f"imgui.ini in {folder}")

    def assert_buttons_frameless(self, window):
        """Close and minimise buttons are at their places and look the same with the pointer
        away, hovering and pressed: no frame or highlight is ever drawn around them."""
        w = window.width
        area = (w - 75, 30, w - 15, 70)
        self.x.move_to_corner()
        time.sleep(0.2)
        image = self.screenshot(window)
        away = image.region(*area)
        # The light glyphs sit where the buttons' images go (10x9 for close, 11x3 for
        # minimise, inside their 4x3 pixel padding), and nowhere else around them.
        close = (w - 41, 45, w - 31, 55)
        hide = (w - 66, 48, w - 55, 51)

        def inside(x, y, rect):
            return rect[0] <= x < rect[2] and rect[1] <= y < rect[3]
        light = [(x, y) for y in range(35, 62) for x in range(w - 75, w - 25)
                 if bright(image.pixel(x, y), 150)]
        self.assertGreaterEqual(sum(inside(x, y, close) for x, y in light), 20, "close glyph")
        self.assertGreaterEqual(sum(inside(x, y, hide) for x, y in light), 6, "minimise glyph")
        self.assertEqual([p for p in light if not inside(*p, close) and not inside(*p, hide)],
                         [], "light pixels beside the buttons")

        def changed():
            now = self.screenshot(window).region(*area)
            return sum(a != b for a, b in zip(now, away))
        for x, y in ((w - 36, 50), (w - 58, 48)):
            self.x.move(window, x, y)
            time.sleep(0.25)
            self.assertEqual(changed(), 0, f"pixels changed while hovering ({x}, {y})")
            # Pressed, then let go away from the button, which is no click.
            self.x.run(["xdotool", "mousedown", "1"])
            try:
                time.sleep(0.25)
                self.assertEqual(changed(), 0, f"pixels changed while pressing ({x}, {y})")
            finally:
                self.x.move(window, w // 2, window.height - 20)
                time.sleep(0.1)
                self.x.run(["xdotool", "mouseup", "1"])
            time.sleep(0.1)
        self.assertTrue(self.installer.running())


class RememberedFolder(InstallerCase):

    protocol = "HTTP/2.0"  # what the server speaks on the port the program asks

    def test_compact_window_repairs_the_folder_and_starts_both_programs(self):
        self.server.publish(self.folders, self.files)
        requests = AccessLog()
        # The folder as a previous run left it: one correct file, one damaged, a wrong
        # launcher.exe, the player's own files, and a few files still missing.
        write(self.local("bin/readme.txt"), self.files["bin/readme.txt"])
        write(self.local("bin/engine.dll"), b"damaged")
        write(self.local("launcher.exe"), b"the launcher that may be running")
        write(self.local("notes/player.txt"), b"mine")
        write(self.local("data/player.cfg"), b"also mine")
        hold = self.hold()
        untouched = ["bin/readme.txt", "notes/player.txt", "data/player.cfg", "launcher.exe"]
        before = {p: (read(self.local(p)), os.stat(self.local(p)).st_mtime_ns,
                      os.stat(self.local(p)).st_ino) for p in untouched}
        names_before = {name for _, dirs, files in os.walk(self.folder) for name in dirs + files}

        installer = self.start()
        window = installer.main_window()
        self.assertEqual((window.width, window.height), COMPACT)
        self.assertEqual((window.x, window.y),
                         ((self.x.width - COMPACT[0]) // 2, (self.x.height - COMPACT[1]) // 2))
        hold.wait(installer)
        self.x.move_to_corner()
        time.sleep(0.2)
        image = self.screenshot(window, "remembered-compact.png")
        label = image.region(172, 260, 231, 277)
        self.assertGreater(sum(bright(p, 230) for p in label), 60, "no white ЗАПУСК label")
        self.assertFalse(any(bright(p, 230) for p in image.region(172, 280, 231, 290)))
        self.assertNotIn(BLACK, image.region(120, 282, 280, 288), "a bar while only checking")
        self.assert_buttons_frameless(window)
        self.assert_started_none()  # nothing may start before the folder is complete

        hold.release(b"an old map")
        self.assertEqual(self.finish(), 0)

        self.assert_installed()
        for path, (data, mtime, inode) in before.items():
            st = os.stat(self.local(path))
            self.assertEqual((read(self.local(path)), st.st_mtime_ns, st.st_ino),
                             (data, mtime, inode), f"{path} was touched")
        self.assert_started_both()
        self.assertEqual(installer.stored(), self.folder + "/")
        self.assert_no_gui_settings_file()

        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        lists = [self.local(n) for n in ("udirs.lists", "ufile.lists", "uhash.lists")]
        self.assertEqual(self.downloads(records[:3]), lists, "the lists come first, in order")
        checks = [i for i, r in enumerate(records) if r.startswith("[ПРОВЕРКА] ")]
        self.assertTrue(checks)
        self.assertEqual(checks, list(range(3, 3 + len(checks))), "[ПРОВЕРКА] lines together")
        checked = {records[i][len("[ПРОВЕРКА] "):] for i in checks}
        self.assertLessEqual(names_before, checked, "entries the walk did not report")
        fetched = records[3 + len(checks):]
        self.assertTrue(all(r.startswith("[ЗАГРУЗКА] ") for r in fetched), fetched)
        expected = {self.local(p) for p in ("bin/engine.dll", "data/maps/first.map",
                                            "data/maps/held.map", "data/settings.ini",
                                            "launcher.exe", "updateTool.exe", "process.exe")}
        self.assertEqual(sorted(self.downloads(fetched)), sorted(expected),
                         "exactly the missing and wrong files are downloaded, each once")
        protocols = requests.protocols()
        self.assertEqual(len(protocols), 3 + len(expected))
        self.assertEqual(set(protocols), {self.protocol})
        if self.protocol == "HTTP/2.0":
            lists = [".launcher/" + n for n in ("udirs.lists", "ufile.lists", "uhash.lists")]
            self.assertEqual(len(requests.connections(lists)), 1, "the lists share a connection")


class RememberedFolderOverHttp1(RememberedFolder):
    """The same repair from the test server's port that speaks only HTTP/1.1, with a build
    of the program that asks there."""

    program = "vestrel-installer-http1"
    protocol = "HTTP/1.1"


class UnusableRememberedFolder(InstallerCase):
    """A remembered folder that is gone is made again; one that cannot be made is forgotten,
    and the first run's chooser asks for another."""

    def test_folder_whose_parent_is_gone_is_made_again(self):
        self.server.publish(self.folders, self.files)
        shutil.rmtree(self.parent)
        self.start()
        self.assertEqual(self.finish(), 0)
        self.assert_installed()

    def test_folder_that_cannot_be_made_is_forgotten_and_asked_for_again(self):
        readonly = os.path.join(self.temp, "readonly")
        os.makedirs(readonly)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=1m", "vestrel-e2e",
                                  readonly], capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest(f"no read-only volume: {mounted.stderr.strip()}")
        self.addCleanup(subprocess.run, ["umount", "-l", readonly])
        gone = os.path.join(readonly, "gone", "VestrelLauncher") + "/"
        Installer(self.x, self.config_home).remember(gone)
        self.server.publish(self.folders, self.files)
        installer = self.start(remembered=False)
        window = installer.main_window()
        self.assertEqual((window.width, window.height), FULL)
        self.x.move_to_corner()
        chooser = Chooser(self.x, window)
        chooser.wait_shown()
        self.assertEqual(installer.stored(), "")
        chooser.choose_with_the_mouse(self.parent)
        self.assertEqual(self.finish(), 0)
        self.assert_installed()
        records = self.log()[0]
        self.assertEqual(records[:2], [
            f"[ОШИБКА] Запомненная папка установки {gone} недоступна (Read-only file system) "
            "и забыта", "[ПРОЦЕСС] Путь выбран."])


class CompactProgress(InstallerCase):

    def test_thin_bar_under_the_label_shows_the_share_of_the_download_done(self):
        held, body = self.stall_one_download()
        window = self.start().main_window()
        self.wait_all_but_half_of(held, body)
        image = self.screenshot(window, "remembered-compact-progress.png")
        # The share of the bytes in, as on the full layout's bar, of the 156 px under 'ЗАПУСК'.
        end = 122 + int(156 * self.share_fetched(held))
        for x in (122, 200, end - 3):
            self.assertTrue(near(image.pixel(x, 285), YELLOW_FILL), f"fill at ({x}, 285)")
        for x, y in ((end + 3, 285), (278, 285), (121, 285), (200, 282), (200, 287)):
            self.assertEqual(image.pixel(x, y), BLACK, f"track at ({x}, {y})")
        for x, y in ((119, 285), (280, 285), (200, 281), (200, 288)):
            self.assertNotEqual(image.pixel(x, y), BLACK, f"outside the track at ({x}, {y})")
        label = image.region(172, 260, 231, 277)
        self.assertGreater(sum(bright(p, 230) for p in label), 60, "the label stays")
        self.x.click(window, COMPACT[0] - 36, 50)
        self.assertEqual(self.finish(10), 0)


class FirstRun(InstallerCase):

    def test_folder_chosen_with_the_mouse_is_stored_and_installed(self):
        self.server.publish(self.folders, self.files)
        hold = self.hold()
        installer = self.start(remembered=False)
        window = installer.main_window()
        self.assertEqual((window.width, window.height), FULL)
        self.assertEqual((window.x, window.y),
                         ((self.x.width - FULL[0]) // 2, (self.x.height - FULL[1]) // 2))
        self.x.move_to_corner()
        chooser = Chooser(self.x, window)
        image = chooser.wait_shown()
        image.save_png(os.path.join(SCREENSHOT_DIR, "first-run-chooser.png"))

        # The 700x310 dialog, centred: a border at x 50 and 749 and y 145 and 454, the title
        # bar's blue filling rows 146..166 between the side borders (the title's letters
        # break it up in the middle rows), the dimmed window just outside.
        left, top, right, bottom = CHOOSER
        for y in (top + 1, top + 4, top + 19, top + 21):
            row = [image.pixel(x, y) for x in range(left + 1, right - 1)]
            self.assertTrue(all(title_blue(p) for p in row), f"title bar row {y}")
        for y in range(top + 1, top + 22):
            self.assertTrue(title_blue(image.pixel(right - 2, y)), f"title bar at row {y}")
        for y in (top, top + 10, top + 22, 300, bottom - 1, bottom):
            self.assertFalse(title_blue(image.pixel(left - 1, y)), f"left of the dialog, {y}")
            self.assertFalse(title_blue(image.pixel(right, y)), f"right of the dialog, {y}")
        for x in (left + 1, 400, right - 2):
            self.assertFalse(title_blue(image.pixel(x, top)), f"the top border at {x}")
            self.assertFalse(title_blue(image.pixel(x, top + 22)), f"below the title, {x}")
        border = image.pixel(400, bottom - 1)
        for x, y in ((left, 300), (right - 1, 300), (left + 1, bottom - 1),
                     (right - 2, bottom - 1)):
            self.assertTrue(near(image.pixel(x, y), border, 6), f"border at ({x}, {y})")
        for x, y in ((left - 1, 300), (right, 300), (400, bottom), (400, bottom + 1)):
            self.assertFalse(near(image.pixel(x, y), border, 6), f"no border at ({x}, {y})")
        self.assertEqual(installer.stored(), "")  # the store exists, holding no folder
        self.assertFalse(os.path.exists(self.local("installer.log")))

        chooser.choose_with_the_mouse(self.parent)
        hold.wait(installer)
        # The choice is stored at once, not only when the program ends.
        self.assertEqual(installer.stored(), self.folder + "/")
        records, started, ended = self.log()
        self.assertTrue(started)
        self.assertFalse(ended)
        self.assertEqual(records[0], "[ПРОЦЕСС] Путь выбран.")
        self.assertEqual(self.downloads(records[1:2]), [self.local("udirs.lists")])

        # The full layout after the choice: the foreground panel and the progress bar, still
        # empty while the folder is being checked (no file has been downloaded yet).
        self.x.move_to_corner()
        time.sleep(0.2)
        image = self.screenshot(window, "first-run-install.png")
        for x in (38, 400, 757):
            self.assertFalse(near(image.pixel(x, 554), YELLOW_FILL), f"fill at ({x}, 554)")
        for x, y in ((758, 554), (759, 554), (760, 554), (761, 554), (36, 549), (37, 554),
                     (35, 548), (400, 548), (400, 550), (400, 557), (400, 559), (761, 559),
                     (38, 554), (400, 551), (400, 556), (757, 554)):
            self.assertEqual(image.pixel(x, y), BLACK, f"track at ({x}, {y})")
        for x, y in ((762, 554), (34, 554), (400, 547), (400, 560)):
            self.assertNotEqual(image.pixel(x, y), BLACK, f"outside the track at ({x}, {y})")
        self.assertFalse(any(title_blue(p) for p in image.region(60, 150, 740, 160)),
                         "the chooser is still shown")
        self.assert_foreground_panel(image)
        self.assert_buttons_frameless(window)

        hold.release(b"")
        self.assertEqual(self.finish(), 0)
        self.assert_installed()
        self.assert_started_both()
        self.assertEqual(installer.stored(), self.folder + "/")
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        self.assertEqual(records[0], "[ПРОЦЕСС] Путь выбран.")
        self.assert_no_gui_settings_file()

    def progress_line(self, image):
        """Where the line of text above the bar has bright pixels: their first and last x."""
        xs = [x for x in range(FULL[0]) for y in range(524, 542) if bright(image.pixel(x, y))]
        self.assertTrue(xs, "no line of text above the bar")
        return min(xs), max(xs)

    def test_bar_shows_the_share_of_the_download_done(self):
        held, body = self.stall_one_download()
        checking = self.hold()
        installer = self.start(remembered=False)
        window = installer.main_window()
        self.x.move_to_corner()
        chooser = Chooser(self.x, window)
        chooser.wait_shown()
        chooser.choose_with_the_mouse(self.parent)
        checking.wait(installer)
        time.sleep(0.2)
        # "Проверено файлов: N из 10", centred on the bar.
        left, right = self.progress_line(self.screenshot(window, "first-run-checking.png"))
        self.assertLessEqual(abs((left + right) / 2 - 400), 4)
        checking.release(b"an old map")
        self.wait_all_but_half_of(held, body)
        image = self.screenshot(window, "first-run-progress.png")
        # "Загружено X МБ из Y МБ · Z МБ/с", wider, centred likewise.
        wide_left, wide_right = self.progress_line(image)
        self.assertLess(wide_left, left)
        self.assertLessEqual(abs((wide_left + wide_right) / 2 - 400), 4)
        # Eight of nine files done and the ninth, the largest, half received: the share of the
        # bytes in, of the 720 px.
        end = 38 + int(720 * self.share_fetched(held))
        for x in (38, 400, end - 4):
            self.assertTrue(near(image.pixel(x, 554), YELLOW_FILL), f"fill at ({x}, 554)")
        for x in (end + 4, 757):
            self.assertEqual(image.pixel(x, 554), BLACK, f"empty track at ({x}, 554)")
        self.x.click(window, FULL[0] - 36, 50)
        self.assertEqual(self.finish(10), 0)
        self.assert_started_none()

    def assert_foreground_panel(self, image):
        """The foreground panel, drawn 120 px down: its gold top edge at row 132, and its thin
        light outline at column 15 and row 486, which the background alone does not have."""
        def lighter(a, b):
            return sum(a) - sum(b) >= 40
        r, g, b = image.pixel(400, 132)
        self.assertTrue(r >= 180 and g >= 150 and b <= 150, f"top edge {(r, g, b)}")
        for x in (100, 700):
            edge = image.pixel(x, 132)
            self.assertTrue(lighter(edge, image.pixel(x, 130)) and
                            lighter(edge, image.pixel(x, 135)), f"top edge at x {x}")
        for y in (200, 300, 450):
            edge = image.pixel(15, y)
            self.assertTrue(lighter(edge, image.pixel(13, y)) and
                            lighter(edge, image.pixel(17, y)), f"left edge at y {y}")
        for x in (100, 400, 700):
            edge = image.pixel(x, 486)
            self.assertTrue(lighter(edge, image.pixel(x, 484)) and
                            lighter(edge, image.pixel(x, 488)), f"bottom edge at x {x}")

    def close_while_choosing(self, close, timeout):
        self.server.publish(self.folders, self.files)
        installer = self.start(remembered=False)
        window = installer.main_window()
        self.x.move_to_corner()
        Chooser(self.x, window).wait_shown()
        close(window)
        # No folder is known yet: nothing is stored, logged or created.
        self.assertEqual(self.finish(timeout), 0)
        self.assertEqual(installer.stored(), "")
        self.assertEqual(os.listdir(self.folder), [])
        self.assertEqual(installer.printed(), "")
        self.assert_no_gui_settings_file()

    def test_alt_f4_while_choosing_writes_nothing(self):
        def alt_f4(window):
            self.x.move(window, 400, 80)
            self.x.key("alt+F4")
        self.close_while_choosing(alt_f4, 10)

    # The dialog is modal, yet the window's own close button must still end the program.
    def test_close_button_while_choosing_writes_nothing(self):
        self.close_while_choosing(lambda window: self.x.click(window, FULL[0] - 36, 50), 3)


    # A drag that starts in the dialog and ends over the close button is no click on it, even
    # when the press, the move and the release all come before the next frame: the dialog
    # still takes typing afterwards, and only a real click ends the program.
    def test_drag_from_the_dialog_onto_the_close_button_closes_nothing(self):
        def drag_then_close(window):
            chooser = Chooser(self.x, window)
            self.x.move(window, *Chooser.NAME_FIELD)
            self.x.run(["xdotool", "mousedown", "1", "mousemove", "--window", window.id,
                        str(FULL[0] - 36), "50", "mouseup", "1"])
            chooser.type_into_name_field("abc")
            self.assertTrue(self.installer.running())
            self.x.click(window, FULL[0] - 36, 50)
        self.close_while_choosing(drag_then_close, 3)

class FailingDownload(InstallerCase):

    def test_failed_download_shows_two_boxes_and_is_retried(self):
        missing = "data/maps/first.map"
        self.server.publish(self.folders, self.files, unpublished={missing})
        installer = self.start()
        installer.main_window()

        first = wait_until(lambda: installer.error_boxes(), 20, what="the first error box")
        self.assertEqual(len(first), 1)
        self.x.screenshot().save_png(os.path.join(SCREENSHOT_DIR, "download-error-box.png"))
        self.assertTrue(installer.running())
        # The fetcher's box, then the download worker's. The two differ in size (the first
        # carries the help text), which tells them apart even when the second reuses the
        # first one's window id. Retries meanwhile (their pauses are drawn at random) are
        # only logged.
        seen = []
        for _ in range(2):
            box = wait_until(lambda: [b for b in installer.error_boxes()
                                      if not seen or (b.id, b.width, b.height) != seen[-1]],
                             10, what="an error box")[0]
            seen.append((box.id, box.width, box.height))
            self.x.focus(box)
            self.x.key("Return")
        self.server.publish_file(missing, self.files[missing])
        self.assertEqual(self.finish(), 0)
        self.assertGreater(seen[0][1], seen[1][1], "the fetcher's box comes first")
        # The fetcher also offers the help guide once (to the recording xdg-open stand-in).
        self.assertEqual(installer.opened_links(), [f"https://{GENERAL_HELP_LINK}"])

        self.assert_installed()
        self.assert_started_both()
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        target = self.local(missing)
        failed = [i for i, r in enumerate(records)
                  if r == f"[ОШИБКА] Не удалось загрузить файл ({target})"]
        self.assertTrue(failed, "a failed attempt")
        fetched = [i for i, r in enumerate(records)
                   if r.startswith("[ЗАГРУЗКА] ") and os.path.normpath(r[11:]) == target]
        self.assertEqual(len(fetched), 1)
        self.assertGreater(fetched[0], failed[-1], "the retry comes after the failures")


class Shutdown(InstallerCase):
    """Every way of closing the window runs the same shutdown: the folder saved, the end
    banner written last, status 0, nothing started."""

    def assert_normal_shutdown(self, installer, status):
        self.assertEqual(status, 0)
        # The store was removed while the program ran; only the shutdown's save restores it.
        self.assertEqual(installer.stored(), self.folder + "/")
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        self.assert_started_none()
        self.assert_no_gui_settings_file()

    def start_held(self):
        self.server.publish(self.folders, self.files)
        hold = self.hold()
        installer = self.start()
        window = installer.main_window()
        hold.wait(installer)
        os.unlink(installer.settings_file)
        return installer, window

    def test_close_button_while_an_error_box_is_up(self):
        self.server.publish(self.folders, self.files, unpublished={"bin/engine.dll"})
        installer = self.start()
        window = installer.main_window()
        box = wait_until(lambda: installer.error_boxes(), 20, what="an error box")[0]
        os.unlink(installer.settings_file)
        # The box blocks only the download worker; moved off the window, as a player would,
        # it leaves the close button free to click.
        self.x.move_window(box, 0, 0)
        self.x.click(window, COMPACT[0] - 36, 50)
        self.assert_normal_shutdown(installer, self.finish(10))
        self.assertNotIn("[ЗАГРУЗКА] " + self.local("bin/engine.dll"), self.log()[0])

    def test_close_button_against_a_server_that_never_answers(self):
        self.server.publish(self.folders, self.files)
        self.addCleanup(self.server.silence())
        installer = self.start()
        window = installer.main_window()
        wait_until(lambda: self.server.held_requests(".launcher/udirs.lists") > 0, 20,
                   what="the folder list's request to be held")
        os.unlink(installer.settings_file)
        # The run waits on the network, never the window: it closes at once (timed from the
        # end of the click, which itself lasts a tenth of a second).
        self.x.click(window, window.width - 36, 50)
        clicked = time.monotonic()
        status = self.finish(10)
        self.assertLess(time.monotonic() - clicked, 1.0)
        self.assert_normal_shutdown(installer, status)

    def test_alt_f4(self):
        installer, window = self.start_held()
        self.x.move(window, 200, 150)
        self.x.key("alt+F4")
        self.assert_normal_shutdown(installer, self.finish(10))

    def test_sigterm(self):
        installer, window = self.start_held()
        installer.signal(signal.SIGTERM)
        self.assert_normal_shutdown(installer, self.finish(10))


class FailedRenderer(InstallerCase):
    """Without a graphics device nothing can be shown: the program ends with status 1 and
    no box. The refusal library makes SDL_CreateRenderer fail (SDL falls back from an
    unknown SDL_RENDER_DRIVER to its other drivers, so the hint alone cannot)."""

    def run_refused(self, remembered):
        self.assertTrue(os.path.exists(RENDERER_REFUSAL), RENDERER_REFUSAL)
        self.server.publish(self.folders, self.files)
        installer = self.start(remembered, {"LD_PRELOAD": RENDERER_REFUSAL})
        # A box would keep the program waiting for a click, and a box that cannot be shown
        # is written to the terminal: ending at once with nothing printed is silence.
        self.assertEqual(self.finish(15), 1)
        self.assertEqual(installer.printed(), "")
        self.assert_started_none()
        return installer

    def test_first_run(self):
        installer = self.run_refused(remembered=False)
        self.assertEqual(installer.stored(), "")
        self.assertEqual(os.listdir(self.folder), [])

    def test_remembered_folder(self):
        installer = self.run_refused(remembered=True)
        self.assertEqual(installer.stored(), self.folder + "/")
        self.assertFalse(os.path.exists(self.local("udirs.lists")), "the run went on")


class EndOfRun(InstallerCase):

    def test_refused_list_ends_the_run_from_the_worker(self):
        self.server.publish(self.folders, self.files)
        self.server.write_list("ufile.lists", "bin/readme.txt\n../outside.txt\n")
        installer = self.start()
        window = installer.main_window()
        box = wait_until(lambda: installer.error_boxes(), 20, what="the refusal's box")[0]
        self.assertTrue(installer.running())
        self.assertTrue(self.x.mapped(window), "the window went away behind the box")
        self.x.focus(box)
        self.x.key("Return")
        # The verification worker ends the process while the window thread is still
        # drawing frames; the status must not suffer from it.
        self.assertEqual(self.finish(10), 0)
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        self.assertIn("[ОШИБКА] Недопустимая строка в списке ufile.lists: ../outside.txt",
                      records)
        self.assertEqual(records[-1], "[ОШИБКА] Во время проверки файлов произошла ошибка.")
        self.assertFalse(os.path.exists(os.path.join(self.parent, "outside.txt")))
        self.assertFalse(os.path.exists(self.local("bin/readme.txt")))
        self.assert_started_none()

    def test_launch_path_ends_with_status_0_twenty_times(self):
        self.folders, self.files = ["bin"], {
            "bin/readme.txt": b"small\n",
            "updateTool.exe": recording_program(),
            "process.exe": recording_program(),
        }
        self.server.publish(self.folders, self.files)
        self.remember()
        for run in range(20):
            for program in ("updateTool.exe", "process.exe"):
                try:
                    os.unlink(self.local(program + ".record"))
                except FileNotFoundError:
                    pass
            installer = Installer(self.x, self.config_home).start()
            self.addCleanup(installer.stop)
            try:
                status = installer.wait(20)
            except Exception:
                self.fail(f"run {run + 1} did not end: {installer.printed()}")
            self.assertEqual(status, 0, f"run {run + 1}")
            self.assert_started_both()
            records, started, ended = self.log()
            self.assert_clean_end(records, started, ended)
            installer.stop()
        self.assert_installed()


if __name__ == "__main__":
    run_cases()
