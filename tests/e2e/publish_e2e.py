"""End to end from the publisher's side: a tree laid out as a publisher would lay it out, its
lists made by the real vestrel-publish, served by the loopback HTTPS server and installed by
the real vestrel-installer, must arrive whole; and `vestrel-publish check` must notice a
served file that changed after the lists were made. Same harness and server as
installer_e2e.py; run the same way:

    python3 publish_e2e.py [--list | Class.test_name]
"""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import run_cases, run_publisher  # noqa: E402
from installer_e2e import COMPACT, InstallerCase, read, recording_program  # noqa: E402

# What the installer and the programs it starts leave in the install folder besides the
# published tree: its log, its copies of the lists, its record of what it verified, and the
# stand-ins' records.
INSTALLER_OWN = {"installer.log", "udirs.lists", "ufile.lists", "uhash.lists", "installer.state",
                 "updateTool.exe.record", "process.exe.record"}
TWIN = b"the same bytes under two names\n" * 40
CHANGED = "Карты/Лесная поляна.map"


def publisher_tree():
    """Nested folders, empty ones among them, a Cyrillic folder, names with spaces, and files
    that share their bytes (the two started programs too)."""
    program = recording_program()
    folders = ["empty", "data/empty inside", "data/deep/deeper/deepest",
               "Карты/Пустая папка"]
    files = {
        "updateTool.exe": program,
        "process.exe": program,
        "read me.txt": b"a name with a space\n",
        "data/settings.ini": b"[video]\r\nwidth=1024\r\n",
        "data/deep/deeper/deepest/bottom.bin": bytes(range(256)) * 300,
        "data/twin-a.bin": TWIN,
        "data/deep/twin-b.bin": TWIN,
        CHANGED: b"".join(i.to_bytes(4, "little") for i in range(20000)),
        "Карты/север.map": "Север: лес и озёра\n".encode(),
    }
    return folders, files


def contents(top, passed_over=()):
    """Every folder (None) and file (its bytes) below `top` by relative path, except the
    names in `passed_over` at the top."""
    found = {}
    for parent, folders, files in os.walk(top):
        at_top = parent == top
        folders[:] = [f for f in folders if not (at_top and f in passed_over)]
        for name in folders:
            found[os.path.relpath(os.path.join(parent, name), top)] = None
        for name in files:
            if not (at_top and name in passed_over):
                path = os.path.join(parent, name)
                found[os.path.relpath(path, top)] = read(path)
    return found


class PublishedTree(InstallerCase):

    def test_published_tree_installs_whole_and_check_sees_a_changed_file(self):
        self.folders, self.files = publisher_tree()
        self.server.publish(self.folders, self.files)
        served = contents(self.server.root, passed_over={".launcher"})

        # A stale local file that keeps the run waiting while the window is looked at.
        hold = self.hold("data/settings.ini")
        installer = self.start()
        window = installer.main_window()
        self.assertEqual((window.width, window.height), COMPACT)
        hold.wait(installer)
        hold.release(b"[video]\r\nwidth=640\r\n")
        self.assertEqual(self.finish(60), 0, installer.printed())
        self.assert_started_both()
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        self.assertFalse([r for r in records if r.startswith("[ОШИБКА]")], records)
        installed = contents(self.folder, passed_over=INSTALLER_OWN)
        self.assertEqual(sorted(installed), sorted(served), "folders and files differ")
        for relative, data in served.items():
            self.assertEqual(installed[relative], data, relative)

        status, printed, problems = run_publisher("check", self.server.root)
        self.assertEqual((status, problems), (0, ""), printed)
        self.server.publish_file(CHANGED, self.files[CHANGED][:-1] + b"\xff")
        status, _, problems = run_publisher("check", self.server.root)
        self.assertEqual(status, 1, problems)
        # The changed file is named; anything else reported is about the lists themselves
        # (its old digest now matches no file).
        lists = os.path.join(self.server.root, ".launcher") + "/"
        named = [line for line in problems.splitlines() if not line.startswith(lists)]
        self.assertEqual(len(named), 1, problems)
        self.assertIn(f"/{CHANGED}:", named[0])


if __name__ == "__main__":
    run_cases()
