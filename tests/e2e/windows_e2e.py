"""End-to-end tests of the Windows program: vestrel-installer.exe as players get it (the zip
unpacked into a folder of its own) runs under Wine in a window on a private Xvfb, with a
wineserver of its own, against the loopback HTTPS server that CTest's httpsServer fixture
starts. Its install folder, C:/vestrel-e2e/install/ unless a case names another, is kept in
the registry value; a case may start Wine under a Unix locale of its own, which sets the
system's ANSI code page (scripts/setup generates ru_RU.UTF-8 and en_US.UTF-8).

    python3 windows_e2e.py --list                 the cases, as CTest names them
    python3 windows_e2e.py UpdateFlow.test_...    one case (how CTest runs them)

Run from the build folder, or set VESTREL_WINDOWS_BUILD to what scripts/build-windows made
(build/windows: the zip, the Wine prefix and project/ with the recording stand-in and the
keyed program, which trusts the tests' publisher keys) and VESTREL_TEST_ENV_DIR to the test
server's folder. The Windows build's server base is
https://localhost:18443/windows/launcher, so the served tree is www/windows/launcher/launcher/,
apart from the Linux tests' and the demo's. Screenshots go to build/windows/screenshots/, the
program's output and copies of its log and records to build/windows/test-output/.
"""

import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from connect_proxy import ConnectProxy  # noqa: E402
from desktop import (AccessLog, DesktopCase, Image, ServerTree, Wine,  # noqa: E402
                     WineInstaller, build_dir, publisher, run_cases, test_env_dir,
                     wait_until)

WINDOWS_BUILD = os.path.abspath(os.environ.get("VESTREL_WINDOWS_BUILD",
                                               os.path.join(build_dir(), "windows")))
PROJECT = os.path.join(WINDOWS_BUILD, "project")
ZIP = os.path.join(WINDOWS_BUILD, "vestrel-installer-windows.zip")
RECORDER = os.path.join(PROJECT, "vestrel-windows-recorder.exe")
# The installer trusting the tests' throwaway publisher keys (tests/e2e/keys): built beside
# the players' program, never packed into their zip.
KEYED = os.path.join(PROJECT, "vestrel-installer-keyed.exe")
KEYS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "keys")
SCREENSHOTS = os.path.join(WINDOWS_BUILD, "screenshots")
OUTPUT = os.path.join(WINDOWS_BUILD, "test-output")

# The install folder as the program stores it (most cases use this one).
INSTALL_WIN = "C:/vestrel-e2e/install/"
# A folder whose name Windows-1251 holds but Windows-1252 does not, and one that Windows-1251
# cannot hold at all.
CYRILLIC_WIN = "C:/Игры/Vestrel Launcher/"
UNUSABLE_WIN = "C:/游戏/"
# The server base's path, as the test server's access log shows requests for the tree.
SERVED_PATH = "/windows/launcher/launcher/"

# Every wait is bounded by one of these (seconds).
WINDOW_WAIT = 60
RUN_WAIT = 90
BOX_WAIT = 60
CLOSE_WAIT = 30



# Pixel classes, with channels in 0..1.
def white(r, g, b):
    return r > 0.9 and g > 0.9 and b > 0.9


def light_grey(r, g, b):
    return r > 0.6 and g > 0.6 and b > 0.6


def title_bar(r, g, b):
    return b > 0.35 and b > r + 0.1


def red(r, g, b):
    return r > 0.8 and g < 0.2 and b < 0.2


def gold(r, g, b):
    return r > 0.6 and 0.35 < g < r and b < g


def green(r, g, b):
    return g > 0.8 and r < 0.2 and b < 0.2


def dark(r, g, b):
    return r < 0.25 and g < 0.25 and b < 0.3


def count(image, width, height, x, y, kind):
    """How many pixels of the region width x height at (x, y) are of the kind."""
    part = image.crop(x, y, width, height)
    return sum(kind(r / 255, g / 255, b / 255) for r, g, b in part.region(0, 0, part.width,
                                                                           part.height))


# A stamp as the log writes it: [year-month-day-hour-minute-second] without leading zeros.
STAMP = r"\[[0-9]{4}(-[0-9]{1,2}){5}\]"
END = re.compile(r"\r\n--------------\r\n\[\d{4}(-\d{1,2}){5}\] "
                 r"Vestrel Installer Log завершил работу!\r\n\Z")
# An old date for the one correct file: a download would change it.
OLD_MTIME = int(time.mktime((2001, 2, 3, 4, 5, 6, 0, 0, -1)))



def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def under_locale(lang):
    """Runs the case's Wine under this Unix locale, and so under that locale's ANSI code
    page, instead of the one the tests run under."""
    def tag(method):
        method.wine_lang = lang
        return method
    return tag


def crlf_only(data):
    """Every LF ends a CR LF, every CR starts one, and there is at least one."""
    pairs = data.count(b"\r\n")
    return data.count(b"\n") > 0 and data.count(b"\n") == pairs and data.count(b"\r") == pairs


class WindowsCase(DesktopCase):
    """Per case: an Xvfb, a wineserver for the prefix on that display, the unpacked zip, the
    server tree and the install folder; all cleaned up whatever happens. Each check is a
    subtest, so that one failing check does not hide the others."""

    REQUIRED = ((ZIP, "run scripts/build-windows"), (RECORDER, "run scripts/build-windows"))
    SCRATCH_PREFIX = "vestrel-windows-e2e-"

    def setUp(self):
        os.makedirs(SCREENSHOTS, exist_ok=True)
        os.makedirs(OUTPUT, exist_ok=True)
        self.make_scratch()
        self.player = os.path.join(self.scratch, "player")
        with zipfile.ZipFile(ZIP) as archive:
            archive.extractall(self.player)
        self.server = ServerTree(site="windows")
        self.addCleanup(shutil.rmtree, self.server.site, ignore_errors=True)
        self.start_x()

        lang = getattr(getattr(self, self._testMethodName), "wine_lang", None)
        self.wine = Wine(self.x, os.path.join(WINDOWS_BUILD, "wineprefix"), lang=lang)
        self.addCleanup(self.wine.stop)
        self.wine.start()
        self.use_install_folder(INSTALL_WIN)
        self.installer = WineInstaller(self.wine, self.player, OUTPUT, unstripped=PROJECT)
        self.addCleanup(self.installer.clean_registry)
        self.addCleanup(self.installer.stop)

    def use_install_folder(self, folder):
        """The install folder of this case as the program stores it ("C:/a/b/"), as the
        system normalises it (C:\\a\\b), and below the prefix for Linux; its top folder
        below C: is removed before a run and after the case."""
        parts = folder[len("C:/"):].strip("/").split("/")
        self.install_win = folder
        self.install_native = "C:\\" + "\\".join(parts)
        self.install_dir = self.wine.drive_c(*parts)
        self.install_top = self.wine.drive_c(parts[0])
        self.addCleanup(shutil.rmtree, self.install_top, ignore_errors=True)

    # ---- Checks ------------------------------------------------------------------------------

    def check(self, name, ok, detail=""):
        with self.subTest(name):
            self.assertTrue(ok, detail)
        return bool(ok)

    def check_equal(self, name, got, wanted):
        with self.subTest(name):
            self.assertEqual(got, wanted)

    def check_pixels(self, image, width, height, x, y, kind, at_least=None, at_most=None):
        n = count(image, width, height, x, y, kind)
        region = f"{width}x{height}+{x}+{y}"
        if at_least is not None:
            self.check(f"at least {at_least} {kind.__name__} pixels in {region}",
                       n >= at_least, f"{n} pixels of {region} are {kind.__name__}")
        if at_most is not None:
            self.check(f"at most {at_most} {kind.__name__} pixels in {region}",
                       n <= at_most, f"{n} pixels of {region} are {kind.__name__}")

    # ---- The server tree and the install folder ----------------------------------------------

    def publish_tree(self, late_too):
        """Three folders, four data files and the two programs (the recording stand-in);
        data/late.bin is listed, and published only when `late_too`."""
        recorder = read(RECORDER)
        self.files = {
            "updateTool.exe": recorder,
            "process.exe": recorder,
            "data/readme.txt": b"Vestrel test data\r\nsecond line\r\n",
            "data/wrong.txt": b"the right bytes of this file\n",
            "data/sub/blob.bin": os.urandom(300000),
            "data/late.bin": os.urandom(70000),
        }
        self.server.publish(["data", "data/sub", "maps"], self.files,
                            unpublished=() if late_too else {"data/late.bin"})

    def publish_late(self):
        self.server.publish_file("data/late.bin", self.files["data/late.bin"])

    def local(self, relative):
        return os.path.join(self.install_dir, relative)

    def holds(self, relative, data):
        """True when the install folder's file exists and holds exactly `data`."""
        return os.path.isfile(self.local(relative)) and read(self.local(relative)) == data

    def prepare_install_folder(self):
        """The player's folder before a run: one correct file (dated in the past, so that a
        download would show), one wrong file and one file the server does not list."""
        shutil.rmtree(self.install_top, ignore_errors=True)
        write(self.local("data/readme.txt"), self.files["data/readme.txt"])
        os.utime(self.local("data/readme.txt"), (OLD_MTIME, OLD_MTIME))
        write(self.local("data/wrong.txt"), b"stale bytes from an older release\n")
        self.keep = b"the player keeps this\n"
        write(self.local("data/keep.txt"), self.keep)

    def start_remembered(self, name):
        self.publish_tree(late_too=False)
        self.prepare_install_folder()
        self.installer.remember(INSTALL_WIN)
        self.installer.start(name)
        return self.installer.main_window(WINDOW_WAIT)

    # ---- What the run left -------------------------------------------------------------------

    def save_artefacts(self, name):
        for file in ("installer.log", "updateTool.exe.record", "process.exe.record"):
            if os.path.exists(self.local(file)):
                shutil.copy(self.local(file), os.path.join(OUTPUT, f"{name}.{file}"))

    def log_bytes(self):
        return read(self.local("installer.log"))

    def log_text(self):
        """The log decoded from Windows-1251 (an error when it is not valid Windows-1251)."""
        return self.log_bytes().decode("cp1251")

    def log_lines(self):
        return self.log_text().replace("\r", "").split("\n")

    def log_has_line(self, body):
        """A stamped record whose text matches the regular expression `body`."""
        return any(re.fullmatch(f"{STAMP} {body}", line) for line in self.log_lines())

    def log_has_bare_line(self, body):
        # Error records start with a line break, so their text stands on a line of its own.
        return any(re.fullmatch(body, line) for line in self.log_lines())

    def check_log_ends(self, name):
        text = self.log_text()
        self.check(name, END.search(text), f"the log ends with: {text[-120:]!r}")

    def tool_record(self):
        """What updateTool.exe records: the command line as given (a blank, then the
        argument: the folder as stored) and the working directory, which the system hands
        the started program in its normalised form."""
        return f"commandline=[ {self.install_win}] cwd=[{self.install_native}]"

    def launcher_record(self):
        return f"commandline=[ debu] cwd=[{self.install_native}]"

    def record(self, program):
        """The record a started stand-in wrote, once it is there (they are started detached
        and may still be writing when the installer has ended); None when there is none."""
        path = self.local(program + ".record")
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and not (os.path.exists(path) and
                                                   os.path.getsize(path) > 0):
            time.sleep(0.2)
        time.sleep(0.3)
        if not os.path.exists(path):
            return None
        return read(path).decode("utf-8").rstrip("\n")

    def wait_programs_gone(self):
        """The stand-ins exit at once; wait until none is left, so that the next run's check
        for a running launcher sees none."""
        pattern = (".".join(self.install_win[len("C:/"):].strip("/").split("/")) +
                   r".*(updateTool|process)\.exe")

        def gone():
            return subprocess.run(["pgrep", "-f", pattern],
                                  stdout=subprocess.DEVNULL).returncode != 0
        try:
            wait_until(gone, 20, interval=0.2)
        except TimeoutError:
            pass

    def blocked_download(self, window):
        """The download of data/late.bin has failed and its error box is up (not some other
        error's)."""
        return self.installer.wait_error_box(window, BOX_WAIT) and self.log_has_bare_line(
            r"\[ОШИБКА\] Во время загрузки файла произошла неизвестная ошибка \(.*\) \(VTNetwork\)")

    def check_log(self, raw):
        """The flow's log: its encoding, line ends, banners and the downloads it records."""
        self.check("the log is Windows-1251",
                   "Log запущен!".encode("cp1251") in raw and "запущен".encode() not in raw)
        self.check("every log line ends in CR LF", crlf_only(raw))
        head = raw[:200].decode("cp1251", errors="replace").replace("\r", "").split("\n")[:3]
        self.check("the log starts with the start banner",
                   re.fullmatch(f"{STAMP} Vestrel Installer Log запущен!\\|--------------\\|\\|",
                                "|".join(head) + "|"), head)
        for file in ("data/sub/blob.bin", "data/late.bin", "data/wrong.txt", "updateTool.exe",
                     "process.exe"):
            self.check(f"the log records downloading {file}",
                       self.log_has_line(r"\[ЗАГРУЗКА\] " + re.escape(self.install_win + file)))
        self.check("the log records no download of the correct data/readme.txt",
                   not self.log_has_line(r"\[ЗАГРУЗКА\] " +
                                         re.escape(self.install_win + "data/readme.txt")))
        for name in ("udirs", "ufile", "uhash"):
            self.check(f"the log records fetching {name}.lists",
                       self.log_has_line(r"\[ЗАГРУЗКА\] " +
                                         re.escape(f"{self.install_win}{name}.lists")))
        self.check_log_ends("the log ends with the end banner")

    # ---- The whole update flow ---------------------------------------------------------------

    def update_flow(self, name):
        """One run on the remembered folder prepared by prepare_install_folder, with the tree
        of publish_tree (everything published), and the checks of all it should have done.
        Returns the test server's requests during the run."""
        self.publish_tree(late_too=True)
        self.prepare_install_folder()
        self.installer.remember(self.install_win)
        requests = AccessLog(SERVED_PATH)
        self.installer.start(name)
        window = self.installer.main_window(WINDOW_WAIT)
        self.check("the window maps", window is not None)
        self.check_equal("exits with status 0", self.installer.wait(RUN_WAIT), 0)
        self.save_artefacts(name)
        for file in ("updateTool.exe", "process.exe", "data/sub/blob.bin", "data/late.bin"):
            self.check(f"{file} downloaded byte for byte",
                       self.holds(file, read(self.server.path(file))))
        self.check("the wrong data/wrong.txt replaced by the served bytes",
                   self.holds("data/wrong.txt", read(self.server.path("data/wrong.txt"))))
        readme = self.local("data/readme.txt")
        self.check_equal("the correct data/readme.txt kept, not downloaded again",
                         int(os.stat(readme).st_mtime) if os.path.exists(readme) else None,
                         OLD_MTIME)
        self.check("the unlisted data/keep.txt kept as it was", self.holds("data/keep.txt",
                                                                           self.keep))
        self.check("the listed folders exist (maps/ empty)",
                   os.path.isdir(self.local("maps")) and os.path.isdir(self.local("data/sub")))
        self.check_equal("updateTool.exe started with the folder and working directory",
                         self.record("updateTool.exe"), self.tool_record())
        self.check_equal("process.exe started with 'debu' and working directory",
                         self.record("process.exe"), self.launcher_record())

        if self.check("installer.log is in the install folder",
                      os.path.exists(self.local("installer.log"))):
            self.check_log(raw=self.log_bytes())
        self.check_equal("the registry value is still the folder", self.installer.stored(),
                         self.install_win)
        self.wait_programs_gone()
        return requests

    def check_chooser_layout(self, name, window):
        """The full 800x600 layout with the folder chooser open on it."""
        # The chooser is drawn from the second frame on; wait for its title bar.
        image = self.screenshot_when(name, window, 5000, (600, 16, 100, 148), title_bar)
        geometry = self.x.geometry(window.id)
        self.check_equal("full window is 800x600", (geometry.width, geometry.height), (800, 600))
        # The chooser's title bar spans x 50..750 at y 148..164, and nothing of its colour is
        # left or right of it.
        self.check_pixels(image, 696, 16, 52, 148, title_bar, at_least=10000)
        self.check_pixels(image, 48, 16, 0, 148, title_bar, at_most=20)
        self.check_pixels(image, 48, 16, 752, 148, title_bar, at_most=20)
        # Its body is dark (y 170..450), its title text light (x 55..330, y 148..164).
        self.check_pixels(image, 690, 280, 55, 170, dark, at_least=150000)
        self.check_pixels(image, 275, 16, 55, 148, light_grey, at_least=200)
        # The close button at x 755..770, y 43..56, minimise at x 733..748, y 45..52, and the
        # background around them stays dark (x 700..735, y 35..60).
        self.check_pixels(image, 15, 13, 755, 43, light_grey, at_least=8)
        self.check_pixels(image, 15, 7, 733, 45, light_grey, at_least=6)
        self.check_pixels(image, 35, 25, 700, 35, light_grey, at_most=6)

    def moment(self):
        """A point in file time before what the run writes (see logs_written_since)."""
        marker = os.path.join(self.scratch, "before-the-run")
        write(marker, b"")
        time.sleep(1)
        return os.stat(marker).st_mtime_ns

    def logs_written_since(self, since):
        """Every installer.log below C: or the player's folder written after `since`."""
        return [os.path.join(top, "installer.log")
                for folder in (self.wine.drive_c(), self.player)
                for top, _, files in os.walk(folder) if "installer.log" in files
                and os.stat(os.path.join(top, "installer.log")).st_mtime_ns > since]

    # ---- Screenshots -------------------------------------------------------------------------

    def screenshot(self, name, window):
        """The whole screen and the window cut out of it, both saved; returns the window's."""
        window = self.x.geometry(window.id)
        screen = self.x.screenshot()
        screen.save_png(os.path.join(SCREENSHOTS, f"{name}-screen.png"))
        image = screen.crop(window.x, window.y, window.width, window.height)
        image.save_png(os.path.join(SCREENSHOTS, f"{name}.png"))
        return image

    def screenshot_when(self, name, window, n, region, kind):
        """Screenshots until the region holds at least n pixels of the kind (the first frames
        may not be drawn yet), for at most 15 s; returns the last."""
        deadline = time.monotonic() + 15
        while True:
            image = self.screenshot(name, window)
            if count(image, *region, kind) >= n or time.monotonic() >= deadline:
                return image
            time.sleep(0.5)


class Package(unittest.TestCase):

    def test_zip_holds_the_exe_vtui_and_the_fonts_licence_at_its_top(self):
        with zipfile.ZipFile(ZIP) as archive:
            names = set(archive.namelist())
            # Nothing else: the keyed test program stays out of players' hands.
            self.assertEqual({name.split("/")[0] for name in names},
                             {"vestrel-installer.exe", "vtui", "licenses"})
            self.assertIn("vestrel-installer.exe", names)
            self.assertIn("vtui/fonts/Roboto-Medium.ttf", names)
            # The font ships with the statement of its licence and that licence's full text.
            statement = archive.read("licenses/Roboto-copyright.txt").decode()
            self.assertIn("Upstream-Name: Roboto", statement)
            self.assertIn("License: Apache-2.0", statement)
            licence = archive.read("licenses/Apache-2.0.txt").decode()
            self.assertIn("Apache License", licence)
            self.assertIn("Version 2.0", licence)

    def test_exe_is_signed_and_carries_the_projects_version(self):
        with tempfile.TemporaryDirectory(prefix="vestrel-package-") as folder:
            with zipfile.ZipFile(ZIP) as archive:
                exe = archive.extract("vestrel-installer.exe", folder)
            # Signed by the test CA's certificate (scripts/test makes both), not just signed.
            ca = os.path.join(test_env_dir(), "codesign", "ca.pem")
            verify = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", exe],
                                    capture_output=True, text=True, timeout=120)
            resources = subprocess.run(["x86_64-w64-mingw32-windres", "-i", exe, "-O", "rc"],
                                       capture_output=True, text=True, timeout=120)
        with self.subTest("signature"):
            self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
            self.assertRegex(verify.stdout, r"Message digest algorithm\s*:\s*SHA256")
            self.assertRegex(verify.stdout, r"Text description\s*:\s*Vestrel Installer\n")

        self.assertEqual(resources.returncode, 0, resources.stderr)
        # windres writes characters beyond ASCII as \xNNNN in L"..." strings.
        values = {name: re.sub(r"\\x([0-9a-fA-F]{4})", lambda m: chr(int(m[1], 16)), text)
                  for name, text in re.findall(r'VALUE "(\w+)", L?"((?:[^"\\]|\\.)*)"',
                                               resources.stdout)}
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        version = re.search(r"project\(VestrelInstaller\b[^)]*\bVERSION ([0-9.]+)",
                            read(os.path.join(root, "CMakeLists.txt")).decode())[1].split(".")
        version += ["0"] * (4 - len(version))
        company = re.search(r"^VESTREL_COMPANY_NAME:STRING=(.*)$",
                            read(os.path.join(PROJECT, "CMakeCache.txt")).decode(), re.M)[1]
        with self.subTest("version resource"):
            self.assertEqual(
                {name: values.get(name) for name in ("ProductName", "CompanyName",
                 "FileVersion", "ProductVersion", "OriginalFilename")},
                {"ProductName": "Vestrel Installer", "CompanyName": company,
                 "FileVersion": ".".join(version), "ProductVersion": ".".join(version),
                 "OriginalFilename": "vestrel-installer.exe"})
            for field in ("FILEVERSION", "PRODUCTVERSION"):
                self.assertRegex(resources.stdout, rf"\n\s*{field} {', '.join(version)}\n")
            self.assertRegex(resources.stdout, r'VALUE "Translation", 0x409, 1200\n')


class UpdateFlow(WindowsCase):

    def test_remembered_folder_is_repaired_and_both_programs_start(self):
        self.update_flow("flow")


class CompactLayout(WindowsCase):

    def test_failing_download_blocks_behind_error_boxes_then_recovers(self):
        window = self.start_remembered("compact")
        self.assertIsNotNone(window, "the compact window maps")
        self.assertTrue(self.blocked_download(window),
                        "an error box for data/late.bin appears while it is missing on the server")
        # The box blocks only the download worker; the window keeps drawing behind it.
        image = self.screenshot_when("compact", window, 40, (58, 16, 172, 260), white)
        geometry = self.x.geometry(window.id)
        self.check_equal("compact window is 400x300", (geometry.width, geometry.height),
                         (400, 300))
        # 'ЗАПУСК' in white at x 172..230, y 260..276, and no white beside it.
        self.check_pixels(image, 58, 16, 172, 260, white, at_least=40)
        self.check_pixels(image, 60, 16, 100, 260, white, at_most=0)
        self.check_pixels(image, 40, 16, 240, 260, white, at_most=0)
        # The close button at x 355..370, y 43..56, minimise at x 333..348, y 45..52.
        self.check_pixels(image, 15, 13, 355, 43, light_grey, at_least=8)
        self.check_pixels(image, 15, 7, 333, 45, light_grey, at_least=6)

        # Publish the file first, then dismiss: every failed attempt shows another box.
        self.publish_late()
        self.installer.dismiss_boxes(window, BOX_WAIT)
        self.check_equal("after the boxes are dismissed the run completes with status 0",
                         self.installer.wait(RUN_WAIT), 0)
        self.save_artefacts("compact")
        self.check("data/late.bin downloaded once published",
                   os.path.exists(self.local("data/late.bin")) and
                   read(self.local("data/late.bin")) == self.files["data/late.bin"])
        late = re.escape(INSTALL_WIN + "data/late.bin")
        self.check("the log records the failed attempt",
                   self.log_has_line(r"\[ОШИБКА\] Не удалось загрузить файл \(" + late + r"\)"))
        self.check("the log records the later download",
                   self.log_has_line(r"\[ЗАГРУЗКА\] " + late))
        self.check_log_ends("the log ends with the end banner")
        self.check_equal("process.exe started after the recovery", self.record("process.exe"),
                         self.launcher_record())
        self.wait_programs_gone()

    def test_alt_f4_while_a_download_is_blocked(self):
        window = self.start_remembered("altf4")
        self.assertIsNotNone(window, "the compact window maps")
        self.assertTrue(self.blocked_download(window),
                        "an error box for data/late.bin appears while it is missing on the server")
        self.installer.alt_f4(window)
        self.check_equal("Alt+F4 during a blocked download exits with status 0",
                         self.installer.wait(CLOSE_WAIT), 0)
        self.save_artefacts("altf4")
        self.check_log_ends("the log ends with the end banner after Alt+F4")
        self.check("every log line ends in CR LF", crlf_only(self.log_bytes()))
        self.check("nothing was started",
                   not os.path.exists(self.local("updateTool.exe.record")) and
                   not os.path.exists(self.local("process.exe.record")))
        self.check_equal("the registry value is still the folder", self.installer.stored(),
                         INSTALL_WIN)


class FirstRun(WindowsCase):

    def test_chooser_in_the_full_layout_closed_with_alt_f4(self):
        self.publish_tree(late_too=False)
        shutil.rmtree(self.install_top, ignore_errors=True)
        self.installer.forget()
        since = self.moment()
        self.installer.start("full")
        window = self.installer.main_window(WINDOW_WAIT)
        self.assertIsNotNone(window, "the full window maps")
        self.check_chooser_layout("full", window)

        self.installer.alt_f4(window)
        self.check_equal("Alt+F4 on the chooser exits with status 0",
                         self.installer.wait(CLOSE_WAIT), 0)
        self.check_equal("no folder chosen, so no installer.log anywhere",
                         self.logs_written_since(since), [])
        self.check_equal("the first run leaves the registry value empty",
                         self.installer.stored(), "")


class CyrillicFolder(WindowsCase):
    """The program keeps its narrow text in Windows-1251 whatever the system's ANSI code page
    is; a folder named in Cyrillic must be the same folder under either."""

    @under_locale("ru_RU.UTF-8")
    def test_whole_flow_under_code_page_1251(self):
        self.flow_in_cyrillic_folder("cyrillic-1251", "1251")

    @under_locale("en_US.UTF-8")
    def test_whole_flow_under_code_page_1252(self):
        self.flow_in_cyrillic_folder("cyrillic-1252", "1252")

    def flow_in_cyrillic_folder(self, name, code_page):
        self.check_equal(f"Wine runs under the ANSI code page {code_page}",
                         self.wine.ansi_code_page(), code_page)
        self.use_install_folder(CYRILLIC_WIN)
        requests = self.update_flow(name)
        self.check("the server saw the run's requests (the access log is read)",
                   requests.gets(".launcher/ufile.lists") >= 1, requests.requests()[-10:])
        self.check_equal("the correct data/readme.txt was not fetched",
                         requests.gets("data/readme.txt"), 0)
        self.check("the correct data/readme.txt still holds its bytes",
                   self.holds("data/readme.txt", self.files["data/readme.txt"]))
        if os.path.exists(self.local("installer.log")):
            raw = self.log_bytes()
            self.check("the log names the folder in Windows-1251",
                       CYRILLIC_WIN.encode("cp1251") in raw and
                       CYRILLIC_WIN.encode() not in raw)


class FirstInstall(WindowsCase):
    """An empty folder and a tree of many files: the download worker's parallel transfers."""

    FOLDERS = ["maps", "maps/north", "sounds", "textures", "textures/ui"]

    def publish_many(self):
        # Fixed contents, so that a failure can be rerun with the same tree.
        rng = random.Random(20240611)
        recorder = read(RECORDER)
        self.files = {"updateTool.exe": recorder, "process.exe": recorder}
        for i in range(64):
            folder = self.FOLDERS[i % len(self.FOLDERS)]
            size = rng.choice((2, 7, 30, 120, 380)) * 1000 + rng.randrange(1000)
            self.files[f"{folder}/part{i:02d}.bin"] = rng.randbytes(size)
        self.server.publish(self.FOLDERS, self.files)

    def test_every_file_of_a_large_tree_arrives_once(self):
        self.publish_many()
        shutil.rmtree(self.install_top, ignore_errors=True)
        os.makedirs(self.install_dir)
        self.installer.remember(self.install_win)
        requests = AccessLog(SERVED_PATH)
        self.installer.start("many")
        self.check("the window maps", self.installer.main_window(WINDOW_WAIT) is not None)
        self.check_equal("exits with status 0", self.installer.wait(RUN_WAIT), 0)
        self.save_artefacts("many")
        missing = [f for f, data in self.files.items() if not self.holds(f, data)]
        self.check_equal(f"all {len(self.files)} files arrive byte for byte", missing, [])
        self.check_equal("updateTool.exe started with the folder and working directory",
                         self.record("updateTool.exe"), self.tool_record())
        self.check_equal("process.exe started with 'debu' and working directory",
                         self.record("process.exe"), self.launcher_record())
        fetched = {f: requests.gets(f) for f in self.files}
        self.check_equal("the server was asked for every file once",
                         {f: n for f, n in fetched.items() if n != 1}, {})
        # The server offers HTTP/2 and libcurl takes it only when Schannel negotiates ALPN.
        self.check_equal("every request came over HTTP/2", set(requests.protocols()),
                         {"HTTP/2.0"})
        if self.check("installer.log is in the install folder",
                      os.path.exists(self.local("installer.log"))):
            lines = self.log_lines()
            counts = {f: sum(1 for line in lines if re.fullmatch(
                f"{STAMP} \\[ЗАГРУЗКА\\] {re.escape(self.install_win + f)}", line))
                for f in self.files}
            self.check_equal("the log records each download once",
                             {f: n for f, n in counts.items() if n != 1}, {})
            self.check("the log records no error",
                       not any("[ОШИБКА]" in line for line in lines))
            self.check("every log line ends in CR LF", crlf_only(self.log_bytes()))
            self.check_log_ends("the log ends with the end banner")
        self.wait_programs_gone()


class UnusableRegistryValue(WindowsCase):

    @under_locale("ru_RU.UTF-8")
    def test_folder_outside_windows_1251_counts_as_none(self):
        self.publish_tree(late_too=False)
        self.use_install_folder(UNUSABLE_WIN)
        shutil.rmtree(self.install_top, ignore_errors=True)
        self.installer.remember(UNUSABLE_WIN)
        self.assertEqual(self.installer.stored(), UNUSABLE_WIN,
                         "the registry holds the value as written")
        since = self.moment()
        self.installer.start("unusable")
        window = self.installer.main_window(WINDOW_WAIT)
        self.assertIsNotNone(window, "the full window maps")
        self.check_chooser_layout("unusable", window)

        self.installer.alt_f4(window)
        self.check_equal("Alt+F4 on the chooser exits with status 0",
                         self.installer.wait(CLOSE_WAIT), 0)
        self.check_equal("no installer.log anywhere", self.logs_written_since(since), [])
        self.check("no folder made for the value", not os.path.exists(self.install_top))
        self.check_equal("the registry value is left as it was", self.installer.stored(),
                         UNUSABLE_WIN)


class SignedRelease(WindowsCase):
    """The keyed program, beside the zip's vtui/ as players would have it, holds a run to the
    release that one of its publisher keys signed."""

    REQUIRED = WindowsCase.REQUIRED + ((KEYED, "run scripts/build-windows"),)

    def setUp(self):
        super().setUp()
        shutil.copy(KEYED, self.player)
        self.installer.EXE = os.path.basename(KEYED)

    def sign(self, key, *options):
        """Makes the served tree's lists again and its release, signed with keys/KEY.secret,
        as a publisher would (with the tool's further `options`)."""
        result = subprocess.run([publisher(), "make", self.server.root, "--sign",
                                 os.path.join(KEYS, f"{key}.secret"), *options],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=120)
        if result.returncode != 0:
            raise RuntimeError(f"vestrel-publish make --sign {key} failed with status "
                               f"{result.returncode}:\n{result.stderr.decode(errors='replace')}")

    def folder_state(self):
        """Every folder and file of the install folder with its bytes and time, but the log."""
        state = {}
        for top, _, files in os.walk(self.install_dir):
            state[os.path.relpath(top, self.install_dir)] = None
            for name in files:
                path = os.path.join(top, name)
                if name != "installer.log":
                    state[os.path.relpath(path, self.install_dir)] = (read(path),
                                                                      os.stat(path).st_mtime_ns)
        return state

    def refused_run(self, name):
        """A run that must end at one box: the ids of every box it showed, and its status."""
        self.installer.start(name)
        window = self.installer.main_window(WINDOW_WAIT)
        self.assertIsNotNone(window, "the window maps")
        self.assertTrue(self.installer.wait_error_box(window, BOX_WAIT), "an error box appears")
        time.sleep(1)  # room for a second box, which must not come
        boxes = set()
        deadline = time.monotonic() + BOX_WAIT
        while self.installer.running() and time.monotonic() < deadline:
            for box in self.installer.error_boxes(window):
                boxes.add(box)
                if self.x.succeeds(["xdotool", "windowfocus", "--sync", box]):
                    self.x.succeeds(["xdotool", "key", "Return"])
            time.sleep(0.3)
        return boxes, self.installer.wait(CLOSE_WAIT)

    def test_signed_by_a_trusted_key_installs_and_by_a_stranger_changes_nothing(self):
        self.publish_tree(late_too=True)
        self.sign("first")
        self.prepare_install_folder()
        self.installer.remember(INSTALL_WIN)
        self.installer.start("signed")
        self.check("the window maps", self.installer.main_window(WINDOW_WAIT) is not None)
        self.check_equal("exits with status 0", self.installer.wait(RUN_WAIT), 0)
        self.save_artefacts("signed")
        self.check("the log records the accepted release",
                   self.log_has_line(r"\[ПРОЦЕСС\] Принят подписанный выпуск 1"))
        missing = [f for f, data in self.files.items() if not self.holds(f, data)]
        self.check_equal("every file arrives byte for byte", missing, [])
        self.check("the accepted release is kept in the install folder",
                   self.holds("urelease.lists", read(self.server.path(".launcher/urelease.lists"))))
        self.check_equal("updateTool.exe started", self.record("updateTool.exe"),
                         self.tool_record())
        self.check_equal("process.exe started", self.record("process.exe"),
                         self.launcher_record())
        self.wait_programs_gone()

        # The same tree signed by a key the program does not hold, over a folder that a run
        # would repair: one wrong file and one missing.
        self.sign("stranger")
        records = [self.local(f"{program}.record") for program in ("updateTool.exe", "process.exe")]
        for path in records + [self.local("data/late.bin")]:
            if os.path.exists(path):
                os.remove(path)
        write(self.local("data/wrong.txt"), b"stale bytes from an older release\n")
        before = self.folder_state()
        requests = AccessLog(SERVED_PATH)
        boxes, status = self.refused_run("stranger")
        self.save_artefacts("stranger")
        self.check_equal("one box, then the run ends with status 0", (len(boxes), status), (1, 0))
        self.check("the log names the refused signature", self.log_has_line(
            r"\[ОШИБКА\] Выпуск отклонён: выпуск не подписан ни одним из ключей издателя"))
        self.check_equal("the install folder is as it was", self.folder_state(), before)
        self.check("nothing was started", not any(map(os.path.exists, records)))
        served = [path for _, path, _ in requests.requests() if path.startswith(SERVED_PATH)]
        # The release and the lists come in one round; no file is asked for.
        self.check_equal("only the release and the lists were fetched", sorted(set(served)),
                         sorted(SERVED_PATH + ".launcher/" + name for name in
                                ("urelease.lists", "udirs.lists", "ufile.lists", "uhash.lists")))
        self.check_equal("the registry value is still the folder", self.installer.stored(),
                         INSTALL_WIN)

    def test_a_chunked_update_takes_the_rest_from_the_old_file(self):
        self.publish_tree(late_too=True)
        big = os.urandom(4 << 20)
        self.server.publish_file("data/big.pak", big)
        self.sign("first", "--chunks")
        self.prepare_install_folder()
        self.installer.remember(INSTALL_WIN)
        self.installer.start("chunked-install")
        self.check_equal("the first install exits with status 0", self.installer.wait(RUN_WAIT),
                         0)
        self.check("the large file arrives through its chunks", self.holds("data/big.pak", big))
        self.wait_programs_gone()

        changed = big[:2 << 20] + os.urandom(100 << 10) + big[(2 << 20) + (100 << 10):]
        self.server.publish_file("data/big.pak", changed)
        self.sign("first", "--chunks", "--serial", "2")
        requests = AccessLog(SERVED_PATH)
        self.installer.start("chunked-update")
        self.check_equal("the update exits with status 0", self.installer.wait(RUN_WAIT), 0)
        self.save_artefacts("chunked-update")
        self.check("the file holds the new release's bytes", self.holds("data/big.pak", changed))
        self.check("the log says what came from the old file", self.log_has_line(
            r"\[ПРОЦЕСС\] .*big\.pak: получено \d+,\d МБ из 4,0 МБ, остальное взято из "
            r"прежней версии"))
        fetched = requests.sent(".launcher/chunks/")
        self.check("only the changed chunks were fetched", fetched < (1 << 20), fetched)
        self.wait_programs_gone()


class HandedOutProgram(WindowsCase):
    """The program as a player starts it: from a shortcut whose working folder is another
    one, on a machine whose Internet Options name a proxy."""

    SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"

    def use_system_proxy(self, address, bypass):
        """The proxy as Internet Options writes it: the Internet Settings values and the
        Connections\\DefaultConnectionSettings record (header, flags direct | proxy, then the
        proxy, the bypass list and an empty script address, each after its length)."""
        def text(value):
            return struct.pack("<I", len(value)) + value.encode()
        record = (struct.pack("<III", 0x46, 1, 0x03) + text(address) + text(bypass) + text("") +
                  bytes(32))
        values = [("ProxyEnable", "REG_DWORD", "1"), ("ProxyServer", "REG_SZ", address),
                  ("ProxyOverride", "REG_SZ", bypass)]
        for name, kind, data in values:
            self.wine.run(["wine", "reg", "add", self.SETTINGS, "/v", name, "/t", kind,
                           "/d", data, "/f"])
            self.addCleanup(self.wine.run,
                            ["wine", "reg", "delete", self.SETTINGS, "/v", name, "/f"])
        connections = self.SETTINGS + "\\Connections"
        self.wine.run(["wine", "reg", "add", connections, "/v", "DefaultConnectionSettings",
                       "/t", "REG_BINARY", "/d", record.hex(), "/f"])
        self.addCleanup(self.wine.run, ["wine", "reg", "delete", connections, "/f"])

    def test_started_elsewhere_behind_the_system_proxy(self):
        proxy = ConnectProxy()
        self.addCleanup(proxy.close)
        self.use_system_proxy(f"127.0.0.1:{proxy.port}", "*.example.invalid")
        # Beside the program: a red background, a logo that is no picture and no font. The
        # working folder has a vtui/ of its own, all green, which is not the program's.
        images = os.path.join(self.player, "vtui", "images")
        Image(8, 8, bytes((255, 0, 0)) * 64).save_png(os.path.join(images, "vst_background.png"))
        write(os.path.join(images, "vst_logotype.png"), b"\x89PNG damaged")
        shutil.rmtree(os.path.join(self.player, "vtui", "fonts"))
        elsewhere = os.path.join(self.scratch, "elsewhere")
        for name in ("vst_background.png", "vst_logotype.png", "vst_fg.png"):
            Image(8, 8, bytes((0, 255, 0)) * 64).save_png(
                os.path.join(elsewhere, "vtui", "images", name))

        self.publish_tree(late_too=False)
        self.prepare_install_folder()
        self.installer.remember(INSTALL_WIN)
        requests = AccessLog(SERVED_PATH)
        window = self.installer.start("handed-out", working_folder=elsewhere).main_window(
            WINDOW_WAIT)
        self.assertIsNotNone(window, "the compact window maps")
        self.assertTrue(self.blocked_download(window), "the box for the missing data/late.bin")
        for box in self.installer.error_boxes(window):  # off the window, which stays drawn
            self.wine.xserver.run(["xdotool", "windowmove", box, "2000", "2000"])
        image = self.screenshot_when("handed-out", window, 14000, (150, 100, 0, 140), red)
        self.check_pixels(image, 400, 300, 0, 0, green, at_most=0)
        # The logo the exe carries, and the label in the font it carries: 'ЗАПУСК' reaches
        # x 230, where the toolkit's own font would draw six narrow '?' ending at x 219.
        self.check_pixels(image, 90, 65, 161, 115, gold, at_least=500)
        self.check_pixels(image, 58, 16, 172, 260, white, at_least=40)
        self.check_pixels(image, 9, 16, 222, 260, white, at_least=5)

        self.publish_late()
        self.installer.dismiss_boxes(window, BOX_WAIT)
        self.check_equal("the run completes with status 0", self.installer.wait(RUN_WAIT), 0)
        self.save_artefacts("handed-out")
        self.check("data/late.bin arrived",
                   self.holds("data/late.bin", self.files["data/late.bin"]))
        self.check_equal("process.exe started", self.record("process.exe"), self.launcher_record())
        self.check("the log names the proxy once", len([
            line for line in self.log_lines() if re.fullmatch(
                f"{STAMP} " + re.escape(f"[ПРОКСИ] Соединение через прокси-сервер "
                                        f"http://127.0.0.1:{proxy.port} (настройки системы)"),
                line)]) == 1)
        ports = requests.client_ports()
        self.check("every request came through the proxy's tunnels",
                   ports and set(ports) <= proxy.upstream_ports,
                   f"{len(ports)} requests from {sorted(set(ports))}, tunnels from "
                   f"{sorted(proxy.upstream_ports)}")
        self.check_equal("every tunnel went to the file server", set(proxy.targets),
                         {"localhost:18443"})
        self.wait_programs_gone()


if __name__ == "__main__":
    run_cases()
