"""The demo's two runs, driven through the end-to-end harness: run by scripts/demo as

    python3 scripts/lib/demo.py ROOT BUILD DEMO MODE

with the server already serving the sample tree (MODE: interactive or headless) and the demo's
publisher key in DEMO/publisher.secret, its public half in DEMO/publisher.public."""
import hashlib
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
root, build, demo, mode = sys.argv[1:5]
os.environ["VESTREL_BUILD_DIR"] = build
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
from desktop import (Chooser, Installer, ServerTree, XServer, bright, near,  # noqa: E402
                     publisher, read_log, tree_listing)

parent = os.path.join(demo, "install")
folder = os.path.join(parent, "VestrelLauncher")
config = os.path.join(demo, "config")
shots = os.path.join(demo, "screenshots")


def noise(seed, size):
    """Reproducible binary content."""
    out = bytearray()
    block = seed.encode()
    while len(out) < size:
        block = hashlib.sha256(block).digest()
        out += block
    return bytes(out[:size])


# Stand-ins for the update tool and the launcher that show they ran: each adds a line to
# started.txt in its working folder (the install folder). Downloaded files have no exec
# bit; the installer gives the owner one before it starts them.
def started_script(name, extra=""):
    return (f'#!/bin/sh\n'
            f'# Demo stand-in for {name}.\n'
            f'printf "%s  {name} started: argv[0]=%s argv[1]=%s, working folder %s\\n" '
            f'"$(date +%H:%M:%S)" "$0" "$1" "$(pwd)" >> started.txt\n{extra}').encode()


files = {
    "bin/readme.txt": b"Vestrel launcher demo tree.\nEverything here came from "
                      b"https://127.0.0.1:18443/launcher/launcher/.\n",
    "bin/engine.dll": noise("engine", 300_000),
    "bin/lang/ru.txt": "Запуск\nНастройки\nВыход\n".encode(),
    "data/settings.ini": b"[video]\r\nwidth=1280\r\nheight=720\r\n",
    "data/maps/forest.map": noise("forest", 120_000),
    "data/maps/harbour.map": noise("harbour", 90_000),
    "data/sounds/intro.ogg": noise("intro", 2_000_000),
    "launcher.exe": b"Vestrel launcher, demo build\n",
    "updateTool.exe": started_script("updateTool.exe"),
    "process.exe": started_script(
        "process.exe",
        'printf "%s  process.exe says: Hello from the Vestrel launcher, the install is '
        'complete!\\n" "$(date +%H:%M:%S)" >> started.txt\n'),
}
folders = ["bin", "bin/lang", "data", "data/maps", "data/sounds"]


def publish_tool(*arguments):
    """Runs vestrel-publish with `arguments`: its exit status and everything it printed."""
    result = subprocess.run([publisher(), *arguments], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    return result.returncode, result.stdout.decode(errors="replace").strip()


# The files laid out as a publisher would, the lists made and the release signed with the
# demo's key by build/vestrel-publish make --sign --chunks (data/sounds/intro.ogg, over 1 MiB,
# is also served as chunks), then checked against that key.
secret = os.path.join(demo, "publisher.secret")
with open(os.path.join(demo, "publisher.public")) as f:
    public_key = f.read().strip()
server = ServerTree()
server.publish(folders, files)
for command in (["make", server.root, "--sign", secret, "--chunks"],
                ["check", server.root, "--key", public_key]):
    status, printed = publish_tool(*command)
    print(f"demo: vestrel-publish {command[0]}: {printed}")
    if status != 0:
        sys.exit(1)


def save_when(x, window, name, ready, installer, timeout):
    """Saves the window's screenshot as soon as `ready(image)` holds; the runs are short, so
    this polls as fast as screenshots come."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and installer.running():
        image = x.screenshot().window_part(window)
        if ready(image):
            path = os.path.join(shots, name)
            image.save_png(path)
            print(f"demo: screenshot {path}")
            return True
    print(f"demo: (no screenshot {name}: the window left that state too soon)")
    return False


def finish(installer, what, timeout):
    try:
        status = installer.wait(timeout)
    except Exception:
        installer.stop()
        sys.exit(f"demo: the {what} did not end within {timeout} s")
    installer.stop()
    print(f"demo: the {what} ended with status {status}")
    if status != 0:
        sys.exit(1)


def progress_bar(image):
    return near(image.pixel(757, 554), (255, 255, 161)) and image.pixel(759, 554) == (0, 0, 0)


def launch_label(image):
    return sum(bright(p, 230) for p in image.region(172, 260, 231, 277)) > 60


if mode == "headless":
    x = XServer().start()
    print(f"demo: running headless on a private Xvfb {x.display}")
else:
    x = XServer.existing(os.environ["DISPLAY"])
try:
    first = Installer(x, config).start()
    window = first.main_window()
    if mode == "headless":
        chooser = Chooser(x, window)
        x.move_to_corner()
        image = chooser.wait_shown()
        image.save_png(os.path.join(shots, "1-chooser.png"))
        print(f"demo: screenshot {os.path.join(shots, '1-chooser.png')}")
        print(f"demo: choosing {folder} in the folder dialog")
        chooser.choose_with_the_mouse(parent)
        x.move_to_corner()
        save_when(x, window, "2-installing.png", progress_bar, first, 20)
        finish(first, "first run", 60)
    else:
        print(f"""
demo: the installer's window is open on {os.environ['DISPLAY']}. Choose its install folder:
        1. click the field "Установить:" at the bottom of the dialog,
        2. type  {parent}  and press Enter (the dialog moves there),
        3. click "VestrelLauncher" in the list, then the button "Выбрать".
      The installer then downloads everything, starts the two programs and closes.
""")
        finish(first, "first run", 15 * 60)
    chosen = first.stored()
    if not chosen:
        sys.exit("demo: no folder was chosen")
    folder = chosen.rstrip("/")
    with open(os.path.join(demo, "first-run.log"), "w") as f:
        f.write(read_log(folder))

    # The second run finds the folder remembered and repairs it in the compact window.
    with open(os.path.join(folder, "bin", "readme.txt"), "ab") as f:
        f.write(b"a stray edit\n")
    os.unlink(os.path.join(folder, "data", "maps", "forest.map"))
    with open(os.path.join(folder, "data", "sounds", "intro.ogg"), "r+b") as f:
        f.seek(1_000_000)
        f.write(bytes(4096))
    print("demo: damaged bin/readme.txt, overwrote 4 KiB in the middle of "
          "data/sounds/intro.ogg and deleted data/maps/forest.map; the repair run:")
    repair = Installer(x, config).start()
    window = repair.main_window()
    if mode == "headless":
        save_when(x, window, "3-compact.png", launch_label, repair, 20)
    finish(repair, "repair run", 60)
finally:
    if mode == "headless":
        x.stop()

ok = all(hashlib.md5(open(os.path.join(folder, "launcher_new.exe" if rel == "launcher.exe"
                                        else rel), "rb").read()).hexdigest()
         == hashlib.md5(data).hexdigest() for rel, data in files.items())

print(f"\n== Installed into {folder}/ (launcher.exe from the server is saved as "
      f"launcher_new.exe)")
for line in tree_listing(folder):
    print("   " + line)
print("\n== What was started (started.txt)")
with open(os.path.join(folder, "started.txt")) as f:
    print("   " + f.read().rstrip("\n").replace("\n", "\n   "))
print(f"\n== installer.log of the first run (copy: {os.path.join(demo, 'first-run.log')})")
with open(os.path.join(demo, "first-run.log")) as f:
    print(f.read().rstrip("\n"))
print("\n== installer.log of the repair run")
print(read_log(folder).rstrip("\n"))
print("\n== What the repair of the large file fetched (only the chunk that was damaged)")
for line in read_log(folder).splitlines():
    if line.endswith("остальное взято из прежней версии"):
        print("   " + line)
if mode == "headless":
    print(f"\n== Screenshots in {shots}/")
    for name in sorted(os.listdir(shots)):
        print("   " + name)
print(f"\ndemo: {'every file matches the server' if ok else 'SOME FILES DIFFER FROM THE SERVER'}")
sys.exit(0 if ok else 1)
