"""What the end-to-end tests and the demo need around the real program: a private X server,
screenshots read as pixels, window lookup and input through xdotool, the published server
tree, the installer process itself with its own settings location, and the Windows program
under Wine with its own wineserver and its folder in the registry.

Only the Python standard library is used; the X tools come from scripts/setup (xvfb,
x11-utils, xdotool, imagemagick), Wine from scripts/build-windows.
"""

import bisect
import hashlib
import http.client
import os
import re
import shutil
import ssl
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

INSTALLER_TITLE = "Vestrel Installer"
ERROR_BOX_TITLE = "Ошибка"
SCREEN_WIDTH = 1024
SCREEN_HEIGHT = 768


def build_dir():
    return os.path.abspath(os.environ.get("VESTREL_BUILD_DIR", os.getcwd()))


def test_env_dir():
    return os.path.abspath(os.environ.get("VESTREL_TEST_ENV_DIR",
                                          os.path.join(build_dir(), "testenv")))


def wait_until(predicate, timeout, interval=0.05, what="condition"):
    """Polls until predicate() returns something true and returns that; raises TimeoutError
    naming `what` when it never does."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


def md5_hex(data):
    return hashlib.md5(data).hexdigest()


def run_cases():
    """The main program of a test module: `--list` prints its cases, one per line, as CTest
    names them (Class.test_name); anything else goes to unittest."""
    if sys.argv[1:] == ["--list"]:
        loader = unittest.defaultTestLoader
        module = sys.modules["__main__"]

        def names(suite):
            for test in suite:
                if isinstance(test, unittest.TestSuite):
                    yield from names(test)
                else:
                    yield test.id().split(".", 1)[1]
        print("\n".join(sorted(names(loader.loadTestsFromModule(module)))))
        return
    unittest.main()


# ---- The X server -------------------------------------------------------------------------

class XServer:
    """An Xvfb of our own on a display number nobody else uses. Numbers are taken from a high
    range: other programs on this machine may assume the low ones (:0, :1, ...) and would
    draw into our screen."""

    FIRST_DISPLAY = 140
    LAST_DISPLAY = 239
    START_TIMEOUT_S = 15.0

    def __init__(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT):
        self.width = width
        self.height = height
        self.process = None
        self.display = None

    @staticmethod
    def _taken(number):
        return (os.path.exists(f"/tmp/.X{number}-lock") or
                os.path.exists(f"/tmp/.X11-unix/X{number}"))

    def start(self):
        # Starting where this process's id points spreads parallel runs over the range; a
        # number taken between the check and the start makes Xvfb exit, and the next is tried.
        span = self.LAST_DISPLAY - self.FIRST_DISPLAY + 1
        offset = os.getpid() % span
        for step in range(span):
            number = self.FIRST_DISPLAY + (offset + step) % span
            if self._taken(number):
                continue
            process = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", f"{self.width}x{self.height}x24",
                 "-nolisten", "tcp", "-noreset"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
            socket_path = f"/tmp/.X11-unix/X{number}"
            deadline = time.monotonic() + self.START_TIMEOUT_S
            while process.poll() is None and time.monotonic() < deadline:
                if os.path.exists(socket_path) and self._answers(f":{number}"):
                    self.process = process
                    self.display = f":{number}"
                    return self
                time.sleep(0.05)
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
        raise RuntimeError("no free X display number to start Xvfb on")

    @staticmethod
    def _answers(display):
        result = subprocess.run(["xdpyinfo"], env=dict(os.environ, DISPLAY=display),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=10)
        return result.returncode == 0

    @classmethod
    def existing(cls, display):
        """A display someone else runs (the user's desktop); stop() leaves it alone."""
        server = cls()
        server.display = display
        return server

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        self.process = None

    def env(self):
        return dict(os.environ, DISPLAY=self.display)

    def run(self, args, timeout=10, check=True):
        result = subprocess.run(args, env=self.env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        if check and result.returncode != 0:
            raise RuntimeError(f"{' '.join(args)} failed with status {result.returncode}: "
                               f"{result.stderr.decode(errors='replace')}")
        return result.stdout.decode(errors="replace")

    def succeeds(self, args, timeout=10):
        """Runs an X tool whose failure is expected at times (a window that went away)."""
        try:
            return subprocess.run(args, env=self.env(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=timeout).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    # ---- Windows --------------------------------------------------------------------------

    TREE_LINE = re.compile(r'^\s*(0x[0-9a-f]+) "(.*)": .*?\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+'
                           r'\+(-?\d+)\+(-?\d+)\s*$')

    def windows(self, title, pid=None):
        """Every top-level window with this exact title (and, when given, belonging to process
        `pid`), as Window records."""
        found = []
        for line in self.window_tree().splitlines():
            match = self.TREE_LINE.match(line)
            if match and match.group(2) == title:
                wid, _, w, h, _, _, ax, ay = match.groups()
                if pid is None or self.window_pid(wid) == pid:
                    found.append(Window(wid, int(ax), int(ay), int(w), int(h)))
        return found

    def window_tree(self):
        """xwininfo's tree of every window. It fails now and then when a window goes away
        while it is read (Bad Drawable, Bad Window); the next read is whole."""
        for _ in range(9):
            try:
                return self.run(["xwininfo", "-root", "-tree"])
            except RuntimeError:
                time.sleep(0.05)
        return self.run(["xwininfo", "-root", "-tree"])

    def window_pid(self, wid):
        text = self.run(["xprop", "-id", wid, "_NET_WM_PID"], check=False)
        match = re.search(r"= (\d+)", text)
        return int(match.group(1)) if match else None

    def geometry(self, wid):
        """The window `wid` as xdotool reports its place and size."""
        values = dict(re.findall(r"^(X|Y|WIDTH|HEIGHT)=(-?\d+)$",
                                 self.run(["xdotool", "getwindowgeometry", "--shell", wid]),
                                 re.MULTILINE))
        return Window(wid, int(values.get("X", 0)), int(values.get("Y", 0)),
                      int(values.get("WIDTH", 0)), int(values.get("HEIGHT", 0)))

    def mapped(self, window):
        info = self.run(["xwininfo", "-id", window.id], check=False)
        return "Map State: IsViewable" in info

    def window(self, title, pid=None, timeout=10.0):
        """The one mapped window with this title (of process `pid`), once it exists."""
        def find():
            shown = [w for w in self.windows(title, pid) if self.mapped(w)]
            return shown[0] if len(shown) == 1 else None
        return wait_until(find, timeout, what=f'a window titled "{title}"')

    # ---- Input ----------------------------------------------------------------------------

    def click(self, window, x, y):
        """A left click at window-local client pixel (x, y)."""
        self.move(window, x, y)
        # The GUI sees the pointer arrive in one frame and the press in a later one, the way a
        # hand would click.
        time.sleep(0.1)
        self.run(["xdotool", "click", "1"])
        time.sleep(0.1)

    def move(self, window, x, y):
        """Puts the pointer at window-local (x, y) so that the program notices: xdotool places
        it by warping, which SDL takes no note of (it reads the pointer's position again
        only after an input device event), so a one-pixel step there and back follows."""
        self.run(["xdotool", "mousemove", "--window", window.id, str(x), str(y)])
        self.run(["xdotool", "mousemove_relative", "--", "1", "0"])
        self.run(["xdotool", "mousemove_relative", "--", "-1", "0"])

    def move_to_corner(self):
        """Takes the pointer off every window (the screen's top left pixel is bare)."""
        self.run(["xdotool", "mousemove", "1", "1"])
        self.run(["xdotool", "mousemove_relative", "--", "-1", "-1"])

    def type(self, text):
        self.run(["xdotool", "type", "--delay", "20", text], timeout=30)

    def key(self, key, window=None):
        """Presses `key` (an xdotool key name such as Return or alt+F4) for a tenth of a
        second. The GUI toolkit reads whether a key is down once per frame, so a press and
        release that both fall between two frames would never be seen."""
        target = ["--window", window.id] if window is not None else []
        self.run(["xdotool", "keydown", *target, key])
        time.sleep(0.1)
        self.run(["xdotool", "keyup", *target, key])

    def focus(self, window):
        self.run(["xdotool", "windowfocus", "--sync", window.id])

    def move_window(self, window, x, y):
        self.run(["xdotool", "windowmove", "--sync", window.id, str(x), str(y)])

    # ---- Screenshots ----------------------------------------------------------------------

    def screenshot(self):
        data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                              env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=20, check=True).stdout
        return Image.from_ppm(data)


class Window:
    """A top-level window: its id, its client area's place on the screen and its size."""

    def __init__(self, wid, x, y, width, height):
        self.id = wid
        self.x = x
        self.y = y
        self.width = width
        self.height = height

    def __repr__(self):
        return f"Window({self.id} {self.width}x{self.height}+{self.x}+{self.y})"


class Image:
    """8-bit RGB pixels, row by row."""

    def __init__(self, width, height, rgb):
        self.width = width
        self.height = height
        self.rgb = rgb

    @staticmethod
    def from_ppm(data):
        fields = []
        pos = 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos) + 1
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        magic, width, height, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
        if magic != b"P6" or maxval != 255:
            raise ValueError(f"not an 8-bit binary PPM ({magic!r}, maxval {maxval})")
        pos += 1  # the single whitespace byte after maxval
        rgb = data[pos:pos + width * height * 3]
        if len(rgb) != width * height * 3:
            raise ValueError("short PPM")
        return Image(width, height, rgb)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def crop(self, left, top, width, height):
        """The part of the image inside the given rectangle (clipped to the image)."""
        right = min(left + width, self.width)
        bottom = min(top + height, self.height)
        left, top = max(left, 0), max(top, 0)
        width, height = max(right - left, 0), max(bottom - top, 0)
        rows = []
        for y in range(top, top + height):
            i = (y * self.width + left) * 3
            rows.append(self.rgb[i:i + width * 3])
        return Image(width, height, b"".join(rows))

    def window_part(self, window):
        return self.crop(window.x, window.y, window.width, window.height)

    def region(self, left, top, right, bottom):
        """The pixels of [left, right) x [top, bottom) as a list of RGB tuples."""
        return [self.pixel(x, y) for y in range(top, bottom) for x in range(left, right)]

    def save_png(self, path):
        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
        stride = self.width * 3
        raw = b"".join(b"\0" + self.rgb[y * stride:(y + 1) * stride] for y in range(self.height))
        png = (b"\x89PNG\r\n\x1a\n" +
               chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)) +
               chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        with open(path, "wb") as f:
            f.write(png)


def bright(pixel, level=200):
    return min(pixel) >= level


def near(pixel, wanted, tolerance=3):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel, wanted))


def title_blue(pixel):
    """The folder dialog's active title bar: a saturated blue, unlike the window's dark
    violet night sky or the dialog's grey body and border."""
    r, g, b = pixel
    return b >= 120 and b - r >= 50 and b - g >= 50


class Chooser:
    """Drives the first run's folder dialog (700x310, centred in the 800x600 window) through
    the pointer and the keyboard, checking on the screen that every step took effect."""

    NAME_FIELD = (440, 398)
    SELECT_BUTTON = (288, 432)
    FIRST_ROW_Y = 233  # the ".." entry; every further entry 20 px lower
    ROW_HEIGHT = 20

    def __init__(self, xserver, window):
        self.x = xserver
        self.window = window

    def shot(self):
        return self.x.screenshot().window_part(self.window)

    def wait_shown(self, timeout=10.0):
        """The window's pixels once the dialog's title bar is drawn."""
        def drawn():
            image = self.shot()
            return image if all(title_blue(image.pixel(x, 150)) for x in (60, 400, 740)) else None
        return wait_until(drawn, timeout, interval=0.1, what="the folder chooser")

    def field_text_pixels(self):
        """White text pixels in the name field (its grey hint does not count)."""
        return sum(bright(p, 200) for p in self.shot().region(148, 390, 740, 406))

    def listing_rows(self):
        """How many rows of the listing show a name (yellow letters)."""
        image = self.shot()
        rows = 0
        for row in range(8):
            y = self.FIRST_ROW_Y + row * self.ROW_HEIGHT
            if any(p[0] > 170 and p[1] > 130 and p[2] < 100
                   for p in image.region(62, y - 6, 300, y + 6)):
                rows += 1
        return rows

    def type_into_name_field(self, text):
        self.x.click(self.window, *self.NAME_FIELD)
        self.x.type(text)
        # The GUI takes typed characters a frame at a time, and Return counts only once the
        # whole text is in the field: wait until the field stops changing.
        last = [None]

        def settled():
            now = self.field_text_pixels()
            done = now > 0 and now == last[0]
            last[0] = now
            return done
        wait_until(settled, 10, interval=0.25, what="the typed text to settle")

    def choose_with_the_mouse(self, parent):
        """Moves the dialog to `parent` with the keyboard (a typed folder path and Return),
        then picks the one folder inside it from the listing with the mouse and accepts it
        with the "Выбрать" button. `parent` must hold exactly one folder: the listing is
        checked to show ".." and one entry before anything is clicked, so a dialog that did
        not move never accepts some other folder."""
        for _ in range(3):
            self.type_into_name_field(parent)
            self.x.key("Return")
            try:
                wait_until(lambda: self.field_text_pixels() == 0, 3, interval=0.1,
                           what="the dialog to move to the typed folder")
                break
            except TimeoutError:
                continue
        wait_until(lambda: self.listing_rows() == 2, 5, interval=0.1,
                   what=f"the listing of {parent}")
        self.x.click(self.window, 80, self.FIRST_ROW_Y + self.ROW_HEIGHT)
        wait_until(lambda: self.field_text_pixels() > 0, 5, interval=0.1,
                   what="the clicked folder's name in the name field")
        self.x.click(self.window, *self.SELECT_BUTTON)


# ---- The server tree ----------------------------------------------------------------------

def publisher():
    """The publisher's tool that makes and checks a tree's lists."""
    return os.environ.get("VESTREL_PUBLISH", os.path.join(build_dir(), "vestrel-publish"))


def run_publisher(command, tree, *options):
    """Runs `vestrel-publish COMMAND TREE OPTIONS...`: its exit status, what it printed and
    what it reported (one line per problem)."""
    result = subprocess.run([publisher(), command, tree, *options], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return (result.returncode, result.stdout.decode(errors="replace"),
            result.stderr.decode(errors="replace"))


# A request line of nginx's combined format, followed by the connection's serial number:
# 127.0.0.1 - - [08/Dec/2026:01:19:25 +0000] "GET /path HTTP/1.1" 200 29 "-" "agent" 7
REQUEST = re.compile(r'^\S+ \S+ \S+ \[[^]]*\] "(\S+) (\S+) ([^"]*)" (\d{3}) (\d+) .* (\d+) (\d+)$')


class AccessLog:
    """The requests the test server answers from now on for the served tree at `served`
    (the path its files are asked for under). nginx appends to its access log (every test's
    requests, one line each), so only what follows the size it had when this was made
    counts; a log started afresh meanwhile counts from its start."""

    def __init__(self, served="/launcher/launcher/"):
        self.path = os.path.join(test_env_dir(), "nginx-access.log")
        self.served = served
        self.start = os.path.getsize(self.path) if os.path.exists(self.path) else 0

    def matches(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, "rb") as f:
            f.seek(self.start if os.path.getsize(self.path) >= self.start else 0)
            lines = f.read().decode(errors="replace").splitlines()
        return [m for m in map(REQUEST.match, lines) if m]

    def requests(self):
        """(method, path, status) of every request since, in order."""
        return [(m.group(1), m.group(2), int(m.group(4))) for m in self.matches()]

    def protocols(self):
        """The protocol of each request for the tree since, as nginx names it ("HTTP/2.0")."""
        return [m.group(3) for m in self.matches() if m.group(2).startswith(self.served)]

    def connections(self, relative_paths):
        """The connections that the requests for these files of the tree came on."""
        wanted = {self.served + relative for relative in relative_paths}
        return {m.group(6) for m in self.matches() if m.group(2) in wanted}

    def client_ports(self):
        """The client port of every request for the tree since."""
        return [int(m.group(7)) for m in self.matches() if m.group(2).startswith(self.served)]

    def sent(self, relative):
        """The body bytes of every whole answer (200) for the tree's files under `relative`."""
        return sum(int(m.group(5)) for m in self.matches()
                   if m.group(4) == "200" and m.group(2).startswith(self.served + relative))

    def gets(self, relative):
        """How many GETs of the served tree's file `relative` the server answered since."""
        return sum(1 for method, path, _ in self.requests()
                   if method == "GET" and path == self.served + relative)


class ServerTree:
    """The launcher tree the program downloads from: build/testenv/www/launcher/launcher/,
    with the three lists under .launcher/, made by the publisher's tool as a publisher would
    make them. A file can be listed while missing on the server (`unpublished`). The Windows
    build's server base has a path of its own (`site` "windows"): its tree lies apart."""

    def __init__(self, envdir=None, site=""):
        self.site = os.path.join(envdir or test_env_dir(), "www", site)
        self.root = os.path.join(self.site, "launcher", "launcher")

    def reset(self):
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(os.path.join(self.root, ".launcher"))

    def path(self, relative):
        return os.path.join(self.root, relative)

    def publish_file(self, relative, data):
        target = self.path(relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)

    def publish(self, folders, files, unpublished=(), options=()):
        """Lays out `folders` (empty ones too) and `files` (relative path -> bytes) as the
        served tree and has vestrel-publish make its lists, with `options` (signing); then
        the files in `unpublished` are taken off the server again, so that they are listed
        but missing. Returns what the tool printed."""
        self.reset()
        for folder in folders:
            os.makedirs(self.path(folder), exist_ok=True)
        for relative, data in files.items():
            self.publish_file(relative, data)
        status, printed, problems = run_publisher("make", self.root, *options)
        if status != 0:
            raise RuntimeError(f"vestrel-publish make {self.root} failed with status "
                               f"{status}:\n{problems}")
        for relative in unpublished:
            os.unlink(self.path(relative))
        return printed.strip()

    def serving(self):
        """True when the HTTPS server answers on 127.0.0.1:18443 with a certificate of the
        test CA (the one the program trusts)."""
        context = ssl.create_default_context(cafile=os.path.join(test_env_dir(), "ca.pem"))
        connection = http.client.HTTPSConnection("127.0.0.1", 18443, timeout=5,
                                                 context=context)
        try:
            connection.request("GET", "/launcher/launcher/.launcher/udirs.lists")
            connection.getresponse().read()
            return True
        except (OSError, http.client.HTTPException):
            return False
        finally:
            connection.close()

    def silence(self):
        """Makes the server take every request for the tree and never answer it, until the
        returned function is called."""
        marker = os.path.join(self.site, "launcher", "silence")
        with open(marker, "w"):
            pass
        return lambda: os.path.exists(marker) and os.unlink(marker)

    def held_requests(self, relative):
        """How many requests for `relative` (in the tree) the silent server has taken."""
        context = ssl.create_default_context(cafile=os.path.join(test_env_dir(), "ca.pem"))
        connection = http.client.HTTPSConnection("localhost", 18444, timeout=5, context=context)
        try:
            connection.request("GET", "/_requests/silent/launcher/launcher/" + relative)
            return int(connection.getresponse().read())
        finally:
            connection.close()

    def write_list(self, name, text):
        """Replaces a list with `text` as it stands, for a case that needs a list the tool
        would never write."""
        with open(os.path.join(self.root, ".launcher", name), "w") as f:
            f.write(text)


# ---- The program --------------------------------------------------------------------------

class Installer:
    """One run of build/vestrel-installer in its build folder (it loads vtui/ from there),
    with a settings location of its own and a PATH whose xdg-open only records the link, so
    that a help link never leaves this machine."""

    def __init__(self, xserver, config_home, extra_env=None, stub_dir=None,
                 program="vestrel-installer"):
        self.program = program
        self.xserver = xserver
        self.config_home = config_home
        self.extra_env = extra_env or {}
        self.stub_dir = stub_dir or os.path.join(config_home, "bin")
        self.process = None
        self.output = None
        self.started_at = None

    @property
    def settings_file(self):
        return os.path.join(self.config_home, "Vestrel", "launcherPath")

    @property
    def opened_links_file(self):
        return os.path.join(self.stub_dir, "opened-links.txt")

    def remember(self, folder):
        os.makedirs(os.path.dirname(self.settings_file), exist_ok=True)
        with open(self.settings_file, "wb") as f:
            f.write(folder.encode())

    def stored(self):
        with open(self.settings_file, "rb") as f:
            return f.read().decode()

    def opened_links(self):
        try:
            with open(self.opened_links_file) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def _write_link_stub(self):
        os.makedirs(self.stub_dir, exist_ok=True)
        stub = os.path.join(self.stub_dir, "xdg-open")
        with open(stub, "w") as f:
            f.write(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{self.opened_links_file}"\n')
        os.chmod(stub, 0o755)

    def start(self):
        self._write_link_stub()
        env = self.xserver.env()
        env["XDG_CONFIG_HOME"] = self.config_home
        env["PATH"] = self.stub_dir + os.pathsep + env.get("PATH", "/usr/bin:/bin")
        env.update(self.extra_env)
        self.output = open(os.path.join(self.config_home, "installer-output.txt"), "w+b")
        self.started_at = time.monotonic()
        self.process = subprocess.Popen([os.path.join(build_dir(), self.program)],
                                        cwd=build_dir(), env=env, stdin=subprocess.DEVNULL,
                                        stdout=self.output, stderr=subprocess.STDOUT)
        return self

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout):
        return self.process.wait(timeout=timeout)

    def signal(self, sig):
        self.process.send_signal(sig)

    def printed(self):
        self.output.flush()
        self.output.seek(0)
        return self.output.read().decode(errors="replace")

    def stop(self):
        """Ends a run the test left behind (nothing to do after a normal end)."""
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)
        if self.output is not None:
            self.output.close()
            self.output = None

    def main_window(self, timeout=10.0):
        return self.xserver.window(INSTALLER_TITLE, self.pid, timeout)

    def error_boxes(self):
        return [w for w in self.xserver.windows(ERROR_BOX_TITLE) if self.xserver.mapped(w)]


class DesktopCase(unittest.TestCase):
    """The base of the end-to-end cases: a scratch folder and an Xvfb of the case's own, both
    gone after it whatever happens, against the test server, which must answer. A subclass
    names the files it cannot do without in REQUIRED, and what makes them."""

    maxDiff = None
    REQUIRED = ()  # (path, what to run when it is missing)
    SCRATCH_PREFIX = "vestrel-e2e-"

    @classmethod
    def setUpClass(cls):
        for path, remedy in cls.REQUIRED:
            if not os.path.exists(path):
                raise RuntimeError(f"{path} is missing: {remedy}")
        if not ServerTree().serving():
            raise RuntimeError("the HTTPS test server does not answer on 127.0.0.1:18443; "
                               "start it with tests/server/testserver start BUILD/testenv "
                               "(CTest does that itself)")

    def setUp(self):
        self.make_scratch()
        self.start_x()

    def make_scratch(self):
        self.scratch = tempfile.mkdtemp(prefix=self.SCRATCH_PREFIX)
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)

    def start_x(self):
        self.x = XServer().start()
        self.addCleanup(self.x.stop)


# ---- The Windows program under Wine --------------------------------------------------------

class Wine:
    """A Wine prefix with a persistent wineserver of its own, started for one X display.
    Without it every Wine program would start and stop the server and the prefix's services
    again, which makes each run take seconds. The prefix's desktop process belongs to the
    display of the first program after the server starts, so a server left running (by
    programs run without a display, such as the unit tests) is ended first.

    Output of Wine programs never goes to a pipe: the services they start keep it open."""

    START_TIMEOUT_S = 120.0
    CODE_PAGE_KEY = r"HKLM\System\CurrentControlSet\Control\Nls\CodePage"

    def __init__(self, xserver, prefix, lang=None):
        """`lang`, a Unix locale such as ru_RU.UTF-8, is the one every Wine program of this
        server starts under; Wine takes its ANSI code page from it (ru_RU.UTF-8 gives 1251,
        en_US.UTF-8 gives 1252). None keeps this process's own."""
        self.xserver = xserver
        self.prefix = prefix
        self.lang = lang
        self.started = False

    def env(self):
        env = self.xserver.env()
        if self.lang is not None:
            env["LANG"] = self.lang
            env["LC_ALL"] = self.lang
        env["WINEPREFIX"] = self.prefix
        env["WINEDEBUG"] = "-all"
        # No .NET or HTML engine, and no browser: the help links the program opens on errors
        # must not leave the machine.
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winebrowser.exe=d"
        return env

    def _server(self, option, timeout=30):
        return subprocess.run(["wineserver", option], env=self.env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode

    def start(self):
        # A server started under another locale would keep serving programs of that locale's
        # code page: it is always ended first.
        self._server("-k")
        self._server("-w")
        if self._server("-p") != 0:
            raise RuntimeError(f"wineserver did not start for {self.prefix}")
        self.started = True
        status, output = self.run(["wine", "cmd", "/c", "exit"], timeout=self.START_TIMEOUT_S)
        if status != 0:
            raise RuntimeError(f"Wine does not start programs (status {status}): {output}")
        return self

    def stop(self):
        if self.started:
            self._server("-k")
            try:
                self._server("-w")
            except subprocess.TimeoutExpired:
                pass
            self.started = False

    def run(self, args, cwd=None, timeout=60):
        """Runs a Wine program to its end: its exit status and what it printed."""
        with tempfile.TemporaryFile() as output:
            status = subprocess.run(args, cwd=cwd, env=self.env(), stdin=subprocess.DEVNULL,
                                    stdout=output, stderr=subprocess.STDOUT,
                                    timeout=timeout).returncode
            output.seek(0)
            return status, output.read().decode(errors="replace")

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def ansi_code_page(self):
        """The ANSI code page Wine's programs run under, as the registry states it ("1251");
        None when it cannot be read."""
        status, output = self.run(["wine", "reg", "query", self.CODE_PAGE_KEY, "/v", "ACP"])
        match = re.search(r"^ *ACP +REG_SZ +(\S+)", output.replace("\r", ""), re.MULTILINE)
        return match.group(1) if status == 0 and match else None


class WineInstaller:
    """One run of vestrel-installer.exe under Wine in `folder`, the players' zip unpacked
    (the program finds vtui/ in its working directory). Where the Linux program keeps the
    install folder in a settings file, this one keeps it in the registry value
    HKEY_CURRENT_USER\\Software\\Vestrel\\launcherPath.

    The program runs through `start /wait`, which ends with its Windows exit code. Run
    directly, `wine` passes that code on too, except when the wineserver kills a process
    whose teardown is slow (error boxes have no window manager to answer their unmapping)."""

    KEY = r"HKCU\Software\Vestrel"
    EXE = "vestrel-installer.exe"

    def __init__(self, wine, folder, output_dir, unstripped=None):
        self.wine = wine
        self.folder = folder
        # The folder of the same exe with its symbols (the players' copy has none), for
        # naming the frames of a run that outlives its time.
        self.unstripped = unstripped or folder
        self.output_dir = output_dir
        self.process = None
        self.working_folder = folder
        self.pid = None  # the process owning the main window, once it is found
        self.registry_touched = False

    # ---- The registry value ----------------------------------------------------------------

    def remember(self, folder):
        self.registry_touched = True
        status, output = self.wine.run(["wine", "reg", "add", self.KEY, "/v", "launcherPath",
                                        "/t", "REG_SZ", "/d", folder, "/f"])
        if status != 0:
            raise RuntimeError(f"reg add failed (status {status}): {output}")

    def forget(self):
        self.registry_touched = True
        self.wine.run(["wine", "reg", "delete", self.KEY, "/f"])

    def stored(self):
        """The stored value; None when there is none. Read from an export of the key, which
        is UTF-16: what `reg query` prints passes through the console's code page, which
        loses any letter outside it."""
        export = self.wine.drive_c("vestrel-e2e-registry.reg")
        try:
            status, _ = self.wine.run(["wine", "reg", "export", self.KEY,
                                       "C:\\vestrel-e2e-registry.reg", "/y"])
            if status != 0 or not os.path.exists(export):
                return None
            with open(export, "rb") as f:
                text = f.read().decode("utf-16")
        finally:
            if os.path.exists(export):
                os.remove(export)
        match = re.search(r'^"launcherPath"="((?:[^"\\]|\\.)*)"\r?$', text, re.MULTILINE)
        return re.sub(r"\\(.)", r"\1", match.group(1)) if match else None

    def clean_registry(self):
        if self.registry_touched:
            self.wine.run(["wine", "reg", "delete", self.KEY, "/f"])

    # ---- The process -----------------------------------------------------------------------

    def start(self, name, working_folder=None):
        """Starts a run whose Wine output goes to `name`.wine.log in the output folder; from
        the program's own folder, or from `working_folder` as a shortcut may start it."""
        # The pointer stays off the window, so that nothing is drawn hovered.
        self.wine.xserver.run(["xdotool", "mousemove", "0", "0"])
        self.working_folder = working_folder or self.folder
        program = [self.EXE] if working_folder is None else [
            "/unix", os.path.join(self.folder, self.EXE)]
        with open(os.path.join(self.output_dir, f"{name}.wine.log"), "wb") as log:
            self.process = subprocess.Popen(["wine", "start", "/wait", *program],
                                            cwd=self.working_folder, env=self.wine.env(),
                                            stdin=subprocess.DEVNULL, stdout=log,
                                            stderr=subprocess.STDOUT)
        self.pid = None
        return self

    def running(self):
        return self.process is not None and self.process.poll() is None

    def processes(self):
        """The program's own processes: the one owning the main window, or else those running
        vestrel-installer.exe in the player's folder."""
        if self.pid is not None:
            return [self.pid]
        found = subprocess.run(["pgrep", "-f", r"vestrel-installer\.exe"], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.split()
        pids = []
        for pid in map(int, found):
            try:
                if os.readlink(f"/proc/{pid}/cwd") == self.working_folder:
                    pids.append(pid)
            except OSError:
                pass
        return pids

    def stop(self):
        """Ends a run the test left behind (nothing to do after a normal end)."""
        if not self.running():
            return
        for pid in self.processes():
            try:
                os.kill(pid, 9)
            except ProcessLookupError:
                pass
        time.sleep(1)
        self.process.kill()
        self.process.wait(timeout=30)

    def wait(self, timeout):
        """The run's exit status; 124 (after ending it) when it outlives `timeout`."""
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            sys.stderr.write(self.hang_report())
            self.stop()
            status = 124
        self.pid = None
        return status

    def hang_report(self):
        """Where the program's threads wait, for a run that outlived its time: its windows
        still shown and each thread's frames by name (winedbg's whole account goes to
        hang.txt in the output folder)."""
        xserver = self.wine.xserver
        shown = [] if self.pid is None else [
            xserver.run(["xdotool", "getwindowname", window], check=False).strip()
            for window in xserver.run(["xdotool", "search", "--onlyvisible", "--pid",
                                       str(self.pid)], check=False).split()]
        try:
            status, output = self.wine.run(["winedbg", "--command", "bt all"], timeout=60)
        except subprocess.TimeoutExpired:
            return "winedbg did not answer within 60 s\n"
        name_of = self.function_names()
        lines = []
        for block in output.split("\nBacktracing for ")[1:]:
            head, _, frames = block.partition("\n")
            if self.EXE in head:
                names = [name_of(int(address, 16)) if name == self.EXE[:-4] else name
                         for address, name in re.findall(
                             r"^\s*=?>?\d+ (0x[0-9a-f]+) (?:in )?([^\s(]+)", frames, re.MULTILINE)]
                lines.append(head.split(" in process")[0] + ": " + " < ".join(names[:12]))
        report = (f"the run outlived its time; windows shown: {shown}; "
                  "its threads:\n") + "\n".join(lines or [
            f"(no thread of {self.EXE}; winedbg said {status})"]) + "\n"
        with open(os.path.join(self.output_dir, "hang.txt"), "w") as f:
            f.write(output)
        return report

    def function_names(self):
        """address -> the name of the program's function holding it, from the symbol table
        of its unstripped copy."""
        exe = os.path.join(self.unstripped, self.EXE)
        try:
            listing = subprocess.run(["x86_64-w64-mingw32-nm", "-C", exe],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True).stdout
        except OSError:
            listing = ""  # no symbols: the addresses stand
        symbols = sorted((int(address, 16), name[:60]) for address, name in
                         re.findall(r"^([0-9a-f]+) [tT] (.*)$", listing, re.MULTILINE))
        starts = [start for start, _ in symbols]
        return lambda address: (symbols[bisect.bisect_right(starts, address) - 1][1]
                                if starts and address >= starts[0] else hex(address))

    # ---- Its windows -----------------------------------------------------------------------

    def main_window(self, timeout=60.0):
        """The main window once it is mapped (None when it is not within `timeout`, or the
        run ended first); remembers the process that owns it."""
        deadline = time.monotonic() + timeout
        xserver = self.wine.xserver
        while time.monotonic() < deadline and self.running():
            found = xserver.run(["xdotool", "search", "--onlyvisible", "--name",
                                 f"^{INSTALLER_TITLE}$"], check=False).split()
            if found:
                pid = xserver.run(["xdotool", "getwindowpid", found[0]], check=False).strip()
                self.pid = int(pid) if pid.isdigit() else None
                return xserver.geometry(found[0])
            time.sleep(0.2)
        return None

    def error_boxes(self, main):
        """The program's other visible windows: its error boxes (window ids)."""
        if self.pid is None:
            return []
        found = self.wine.xserver.run(["xdotool", "search", "--onlyvisible", "--pid",
                                       str(self.pid)], check=False).split()
        return [wid for wid in found if wid != main.id]

    def wait_error_box(self, main, timeout=60.0):
        """True once an error box is shown while the program runs."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.running():
            if self.error_boxes(main):
                return True
            time.sleep(0.2)
        return False

    def dismiss_boxes(self, main, timeout=60.0):
        """Answers every error box with Return until the run ends (or `timeout` passes)."""
        xserver = self.wine.xserver
        deadline = time.monotonic() + timeout
        while self.running() and time.monotonic() < deadline:
            for box in self.error_boxes(main):
                if xserver.succeeds(["xdotool", "windowfocus", "--sync", box]):
                    xserver.succeeds(["xdotool", "key", "Return"])
            time.sleep(0.3)

    def alt_f4(self, main):
        """Alt+F4 acts on the active window, which is the error box while one is shown: an
        empty spot of the main window is clicked first, as a player would. (20, 30) is
        background in both layouts, left of the logo and above the chooser and the (centred)
        error boxes."""
        xserver = self.wine.xserver
        window = xserver.geometry(main.id)
        xserver.run(["xdotool", "mousemove", str(window.x + 20), str(window.y + 30), "click", "1"])
        time.sleep(0.3)
        xserver.succeeds(["xdotool", "key", "--window", main.id, "alt+F4"])


# ---- The installer's log ------------------------------------------------------------------

STAMP = r"\[\d{4}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,2}\]"
START_BANNER = re.compile(STAMP + r" Vestrel Installer Log запущен!\n--------------\n\n")
END_BANNER = re.compile(r"\n--------------\n" + STAMP +
                        r" Vestrel Installer Log завершил работу!\n")
RECORD = re.compile(STAMP + r" ")


def read_log(folder):
    with open(os.path.join(folder, "installer.log"), "rb") as f:
        return f.read().decode()


def log_records(text):
    """The log between its banners as a list of record texts (stamp removed), plus whether
    the start banner opened it and the end banner closed it."""
    start = START_BANNER.match(text)
    body = text[start.end():] if start else text
    end = END_BANNER.search(body)
    ended = end is not None and end.end() == len(body)
    if end is not None:
        body = body[:end.start()] + body[end.end():]
    parts = RECORD.split(body)
    records = [p.rstrip("\n") for p in parts[1:]]
    return records, start is not None, ended


def tree_listing(folder):
    """Every file below `folder` with its size, sorted, for messages and the demo."""
    lines = []
    for top, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            lines.append(f"{os.path.relpath(path, folder)}  ({os.path.getsize(path)} bytes)")
    return lines
