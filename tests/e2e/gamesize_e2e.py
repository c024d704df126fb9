"""End-to-end tests of the real vestrel-installer on a game's scale: releases of thousands of
files, and an unchanged install confirmed from the last run's record without reading it
again. Same harness and server as installer_e2e.py; run the same way:

    python3 gamesize_e2e.py [--list | Class.test_name]
"""

import os
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import run_cases  # noqa: E402
from installer_e2e import InstallerCase, read, recording_program, write  # noqa: E402

CHECKED = "[ПРОВЕРКА] "
FETCHED = "[ЗАГРУЗКА] "


def game_tree(count):
    """`count` small files, each with bytes of its own, in 30 folders, and the two programs."""
    program = recording_program()
    folders = [f"data/pack{i:02d}" for i in range(30)]
    files = {f"data/pack{i % 30:02d}/asset{i:05d}.bin": f"asset {i}\n".encode() * (1 + i % 7)
             for i in range(count)}
    files["updateTool.exe"] = program
    files["process.exe"] = program
    return folders, files


class ThousandsOfFiles(InstallerCase):

    def setUp(self):
        super().setUp()
        # The install folder on a file system that notes every read in the file's access
        # time: a file the run hashed has a new one, a file it took from the record has not.
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256m,strictatime",
                                  "vestrel-atime", self.parent], capture_output=True)
        if mounted.returncode != 0:
            self.skipTest(f"no tmpfs for access times: {mounted.stderr.decode().strip()}")
        self.addCleanup(subprocess.run, ["umount", "-l", self.parent])
        os.makedirs(self.folder)

    def run_once(self):
        self.start()
        self.assertEqual(self.finish(60), 0)
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        self.assert_started_both()
        for program in ("updateTool.exe", "process.exe"):
            os.unlink(self.local(program + ".record"))
        return records

    def read_times(self):
        """The access time of every listed file but the two programs, which each run starts."""
        return {p: os.stat(self.local(p)).st_atime_ns for p in self.files
                if not p.endswith(".exe")}

    def test_three_thousand_files_install_and_an_unchanged_install_is_not_read_again(self):
        self.folders, self.files = game_tree(3000)
        self.server.publish(self.folders, self.files)
        first = self.run_once()
        self.assert_installed()
        self.assertEqual(len(self.downloads(first)), 3 + len(self.files))
        self.assertTrue(os.path.exists(self.local("installer.state")))

        # Unchanged: every entry still has its check line, no file is read, none fetched.
        times = self.read_times()
        second = self.run_once()
        checked = [r for r in second if r.startswith(CHECKED)]
        names = {name for _, dirs, files in os.walk(self.folder) for name in dirs + files}
        self.assertEqual({r[len(CHECKED):] for r in checked}, names)
        self.assertEqual(self.downloads(second)[3:], [])
        self.assertEqual(self.read_times(), times, "a file of the unchanged install was read")

        # One file rewritten with its size kept, one only touched: both are read again, the
        # first is repaired and the second kept; the rest are still not read.
        rewritten, touched = "data/pack05/asset00005.bin", "data/pack06/asset00006.bin"
        good = read(self.local(rewritten))
        write(self.local(rewritten), bytes(len(good)))
        mtime = os.stat(self.local(touched)).st_mtime_ns
        os.utime(self.local(touched), ns=(times[touched], mtime + 10**9))  # the time alone
        third = self.run_once()
        self.assertEqual(self.downloads(third)[3:], [self.local(rewritten)])
        self.assertEqual(read(self.local(rewritten)), good)
        after = self.read_times()
        self.assertNotEqual(after.pop(touched), times[touched], "the touched file was not read")
        for path in (rewritten, touched):
            times.pop(path)
        del after[rewritten]
        self.assertEqual(after, times)


if __name__ == "__main__":
    run_cases()
