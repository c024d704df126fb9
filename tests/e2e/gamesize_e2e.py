"""End-to-end tests of the real vestrel-installer on a game's scale: releases of thousands of
files, an unchanged install confirmed from the last run's record without reading it again,
and large downloads that go on from where a cut link or a killed run left them. Same harness and server as installer_e2e.py; run the same way:

    python3 gamesize_e2e.py [--list | Class.test_name]
"""

import os
import re
import signal
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import run_cases, test_env_dir, wait_until  # noqa: E402
from installer_e2e import InstallerCase, read, recording_program, write  # noqa: E402
from release_e2e import key  # noqa: E402

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


def served(path):
    """What the fault server said of each answer for `path`, in order: (bytes, status)."""
    with open(os.path.join(test_env_dir(), "faultserver.log"), encoding="utf-8") as f:
        return [(int(m[1]), int(m[2])) for m in
                re.finditer(r"served (\d+) bytes of " + re.escape(path) + r" with (\d+)$",
                            f.read(), re.MULTILINE)]


class ResumedDownloads(InstallerCase):
    """Large files served through the fault server (update/net/ResumablePart.h's validators):
    cut off, ignoring ranges, or slow enough to kill the run half-way through."""

    SIZE = 24 << 20

    def faulty_file(self, fault, name):
        """A large file of random bytes listed as FAULT-here/data/NAME, which nginx hands to
        the fault server's /FAULT/ copy; returns its listed path and the fault server's."""
        relative = f"{fault}-here/data/{name}"
        self.folders.append(f"{fault}-here/data")
        self.files[relative] = os.urandom(self.SIZE)
        copy = f"/{fault}/launcher/launcher/data/{name}"
        self.addCleanup(lambda: os.path.exists(self.server.site + copy) and
                        os.unlink(self.server.site + copy))
        return relative, copy

    def publish_faulty(self, *faulty, options=()):
        self.server.publish(self.folders, self.files, options=options)
        for relative, copy in faulty:
            write(self.server.site + copy, self.files[relative])

    def test_a_cut_transfer_resumes_and_one_without_ranges_is_fetched_whole(self):
        cut = self.faulty_file("cut", "big.bin")
        norange = self.faulty_file("norange", "other.bin")
        self.publish_faulty(cut, norange)
        self.start()
        self.assertEqual(self.finish(60), 0)
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        self.assert_installed()
        # 90 % sent, then only the rest asked for and answered 206. What the reset threw away
        # on its way (in nginx and in the program) is asked for again, so "the rest" is a
        # little more than a tenth; the benchmark measures it without nginx in between.
        answers = served(cut[1])
        self.assertEqual([status for _, status in answers], [200, 206], answers)
        self.assertLess(answers[1][0], self.SIZE // 2)
        # The server that ignores ranges answered the rest with the whole file: that answer
        # was given up at once, and the file came whole and right.
        self.assertEqual([status for _, status in served(norange[1])], [200, 200, 200])
        self.assertTrue([r for r in records
                         if r.startswith(f"[ПРОЦЕСС] Загрузка {self.local(cut[0])} продолжена с ")])
        self.assertFalse([n for n in os.listdir(os.path.dirname(self.local(cut[0])))
                          if n.startswith("big.bin.")])

    def test_a_run_killed_half_way_through_a_large_file_is_resumed_by_the_next(self):
        slow = self.faulty_file("slow", "big.bin")
        self.publish_faulty(slow)
        part = self.local(slow[0]) + ".vestrel-part"
        self.start()
        wait_until(lambda: os.path.exists(part) and os.path.getsize(part) >= self.SIZE // 2,
                   60, what="half the large file")
        self.installer.signal(signal.SIGKILL)
        self.finish(10)
        self.assertTrue(os.path.exists(self.local(slow[0]) + ".vestrel-resume"))

        self.start()
        self.assertEqual(self.finish(60), 0)
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        self.assert_installed()
        self.assertIn(f"[ПРОЦЕСС] Незавершённый файл {part} сохранён, его загрузка будет "
                      "продолжена", records)
        first, second = served(slow[1])
        self.assertEqual(second[1], 206)
        self.assertLessEqual(second[0], self.SIZE * 0.55)
        self.assertFalse(os.path.exists(part) or os.path.exists(self.local(slow[0]) +
                                                                 ".vestrel-resume"))

    def test_a_damaged_part_of_a_signed_file_is_given_up_and_the_file_fetched_whole(self):
        self.program = "vestrel-installer-keyed"
        slow = self.faulty_file("slow", "damaged.bin")  # a path of its own in the server's log
        self.publish_faulty(slow, options=("--sign", key("first")))
        # A part of zeros, with the validator of the file as served: its rest is asked for
        # and comes (206), and then the whole does not hash to the signed digests.
        stat = os.stat(self.server.site + slow[1])
        os.makedirs(os.path.dirname(self.local(slow[0])))
        write(self.local(slow[0]) + ".vestrel-part", bytes(self.SIZE // 2))
        write(self.local(slow[0]) + ".vestrel-resume",
              f'vestrel-resume 1\n"{stat.st_size:x}-{stat.st_mtime_ns:x}"\n'.encode())
        self.start()
        self.assertEqual(self.finish(60), 0)
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        self.assert_installed()
        self.assertEqual([status for _, status in served(slow[1])], [206, 200])
        self.assertFalse([r for r in records if r.startswith("[ОШИБКА]")], records)


if __name__ == "__main__":
    run_cases()
