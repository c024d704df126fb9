"""End-to-end tests of a safe update with the real vestrel-installer: lists that cannot be
right change nothing and start nothing, a body that cannot fit ends the run with one box and
the old files kept, an outage shows few boxes and the run finishes by itself (and launches
what arrived while a box was up), folders and files in the way are moved aside, unreadable
folders are passed over, a box left behind by a killed installer does not keep the next one
out, and the log always begins with its banner.
Same harness and server as installer_e2e.py; run the same way:

    python3 safety_e2e.py [--list | Class.test_name]
"""

import functools
import os
import pwd
import re
import signal
import subprocess
import sys
import time
from unittest import mock

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import START_BANNER, build_dir, md5_hex, read_log, run_cases, wait_until  # noqa: E402
from installer_e2e import read, recording_program, write  # noqa: E402
from integrity_e2e import IntegrityCase  # noqa: E402

MIB = 1 << 20
PROGRAMS = ("updateTool.exe", "process.exe")
BAD_LINE = "[ОШИБКА] Недопустимая строка в списке {}: {}"
HTML_PAGE = ("<!DOCTYPE html>\n<html>\n<head><title>Технические работы</title></head>\n"
             "<body>\n<h1>Сервер скоро вернётся</h1>\n</body>\n</html>\n")


def forked_children(pid):
    """The processes `pid` forked that still run its program (the toolkit shows each error
    box from such a child)."""
    exe = os.readlink(f"/proc/{pid}/exe")
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat") as f:
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
            if parent == pid and os.readlink(f"/proc/{entry}/exe") == exe:
                found.append(int(entry))
        except (OSError, ValueError, IndexError):
            pass
    return found


class SafetyCase(IntegrityCase):

    def snapshot(self):
        """Every file below the install folder with its digest (and every folder, as None),
        but the lists, the log, the record of what was verified and the started programs'
        records, which each run rewrites."""
        state = {}
        for top, dirs, files in os.walk(self.folder):
            rel = os.path.relpath(top, self.folder)
            for name in dirs:
                state[os.path.normpath(os.path.join(rel, name))] = None
            for name in files:
                path = os.path.normpath(os.path.join(rel, name))
                if (not name.endswith((".lists", ".record")) and
                        path not in ("installer.log", "installer.state")):
                    state[path] = md5_hex(read(os.path.join(top, name)))
        return state

    def look_at_boxes(self, seen, answer=True):
        """One look at the screen: every box up now that was not up at the last look joins
        `seen`, and with `answer` each box up is answered with Return. The X tools fail now
        and then when a window goes away under them; such a look counts for nothing."""
        shown = self.boxes_up()
        if shown is None:
            return
        up = {(b.id, b.width, b.height): b for b in shown}
        seen += [key for key in up if key not in self.last_up]
        self.last_up = set(up)
        for box in up.values() if answer else ():
            try:
                self.x.focus(box)
                self.x.key("Return")
            except (RuntimeError, subprocess.TimeoutExpired):
                pass

    def boxes_up(self):
        """The boxes on the screen, or None when the X tools failed to tell."""
        try:
            return self.installer_boxes()
        except (RuntimeError, subprocess.TimeoutExpired):
            return None

    def run_to_end(self, timeout=40.0):
        """A new run in the remembered folder, every box answered as soon as it shows: the
        boxes it showed and its exit status."""
        for program in PROGRAMS:
            if os.path.exists(self.local(program + ".record")):
                os.unlink(self.local(program + ".record"))
        installer = self.start()
        boxes, self.last_up = [], set()
        deadline = time.monotonic() + timeout
        while installer.running() and time.monotonic() < deadline:
            self.look_at_boxes(boxes)
            time.sleep(0.1)
        return boxes, self.finish(5)

    def finish_with_launch(self):
        """Waits for the run to end unanswered; a program that failed to start (its box
        would wait for an answer) fails the case at once."""
        wait_until(lambda: not self.installer.running() or "(VTGUI)" in read_log(self.folder),
                   30, what="the launch")
        self.assertEqual([r for r in self.records() if "(VTGUI)" in r], [])
        self.assertEqual(self.finish(5), 0)
        self.assert_started_both()

    def assert_one_box(self, boxes, status):
        self.assertEqual((len(boxes), status), (1, 0), (boxes, self.records()))

    def records(self):
        return self.log()[0]


class RefusedLists(SafetyCase):

    def test_lists_that_cannot_be_right_change_nothing_and_start_nothing(self):
        self.server.publish(self.folders, self.files)
        self.assertEqual(self.run_to_end(), ([], 0))
        self.assert_started_both()
        installed = self.snapshot()
        lists = os.path.join(self.server.root, ".launcher")
        files, digests = (read(os.path.join(lists, n)).decode()
                          for n in ("ufile.lists", "uhash.lists"))
        lines = digests.splitlines()
        half = len(lines) // 2
        not_listed = "[ОШИБКА] Файл {} не указан в списке файлов сервера, запуск невозможен"
        cases = {
            "no digests": ("uhash.lists", "", [
                "[ОШИБКА] Список uhash.lists пуст, хотя список ufile.lists называет файлы"]),
            "digests as a web page": ("uhash.lists", HTML_PAGE, [
                BAD_LINE.format("uhash.lists", "<!DOCTYPE html>")]),
            "digests cut off": ("uhash.lists", "\n".join(lines[:half] + [lines[half][:13]]), [
                BAD_LINE.format("uhash.lists", lines[half][:13])]),
            "no files": ("ufile.lists", "", [not_listed.format(p) for p in PROGRAMS]),
            "files as a web page": ("ufile.lists", HTML_PAGE, [
                BAD_LINE.format("ufile.lists", "<!DOCTYPE html>")]),
            # launcher.exe is kept as launcher_new.exe: two lines for one local file.
            "both launcher names": ("ufile.lists", files + "launcher_new.exe\n", [
                BAD_LINE.format("ufile.lists", "launcher_new.exe")]),
        }
        for name, (list_name, text, logged) in cases.items():
            with self.subTest(name):
                self.server.write_list("ufile.lists", files)
                self.server.write_list("uhash.lists", digests)
                self.server.write_list(list_name, text)
                boxes, status = self.run_to_end()
                self.assert_one_box(boxes, status)
                self.assert_started_none()
                self.assertEqual(self.snapshot(), installed)  # no <html> or <body> either
                self.assertEqual(os.listdir(self.parent), ["VestrelLauncher"])
                records = self.records()
                for line in logged:
                    self.assertIn(line, records)


class NoRoom(SafetyCase):
    """The install folder is a small volume of its own; every body that cannot fit leaves
    the old install as it was."""

    def mount_small_volume(self, mib=128):
        if os.geteuid() != 0:
            self.skipTest("mounting a small volume needs root")
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={mib}m", "vestrel-e2e",
                                 self.folder], capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest(f"no tmpfs for the install folder: {result.stderr.strip()}")
        self.addCleanup(lambda: subprocess.run(["umount", self.folder]).returncode == 0 or
                        subprocess.run(["umount", "-l", self.folder]))

    def test_a_body_that_cannot_fit_ends_the_run_with_one_box_and_the_old_files_kept(self):
        self.mount_small_volume()
        self.folders += ["huge-here", "endless-here"]
        self.files["data/big.bin"] = b"\1" * (40 * MIB)
        self.server.publish(self.folders, self.files)
        self.assertEqual(self.run_to_end(), ([], 0))
        self.assert_started_both()
        installed = self.snapshot()
        room = os.statvfs(self.folder)
        budget = room.f_bavail * room.f_frsize - 64 * MIB
        small, new = b"a listed body of a sane size\n", b"\2" * (70 * MIB)
        cases = {
            # 1 TiB announced: refused on its headers, past the 64 GiB a file may have.
            "huge length": ("huge-here/big.bin", small, 1 << 40),
            # No length: cut off where the volume would keep less than 64 MiB free, and how
            # much more it needed is not known.
            "endless body": ("endless-here/big.bin", small, None),
            # The new build beside the old one would leave too little free.
            "larger update": ("data/big.bin", new, len(new) - budget),
        }
        for name, (relative, body, need) in cases.items():
            with self.subTest(name):
                self.server.publish(self.folders, dict(self.files, **{relative: body}))
                boxes, status = self.run_to_end()
                self.assert_one_box(boxes, status)
                self.assert_started_none()
                self.assertEqual(self.snapshot(), installed)  # no .vestrel-part either
                full = [r for r in self.records() if r.startswith("[ОШИБКА] Недостаточно места")]
                self.assertEqual(len(full), 1, full)
                named = (f"[ОШИБКА] Недостаточно места на диске для файла "
                         f"{self.local(relative)}.vestrel-part в папке {self.folder}/")
                told = re.fullmatch(re.escape(named) + r"(?: \(нужно ещё (\d+\.\d) МБ\))?",
                                    full[0])
                self.assertTrue(told, full[0])
                if need is None:
                    self.assertIsNone(told.group(1), "a need that is not known is told")
                else:
                    self.assertAlmostEqual(float(told.group(1) or 0), need / MIB, delta=0.5)


class Outage(SafetyCase):
    """The server answers nothing but the lists for 15 s while the files are fetched."""

    def run_through_outage(self, answer_boxes):
        self.server.publish(self.folders, self.files)
        outage = os.path.join(self.server.site, "outage")
        write(outage, b"")
        self.addCleanup(lambda: os.path.exists(outage) and os.unlink(outage))
        installer = self.start()
        failed = "[ОШИБКА] Не удалось загрузить файл ("
        wait_until(lambda: os.path.exists(self.local("installer.log")) and
                   any(r.startswith(failed) for r in self.records()), 20,
                   what="the first failed download")
        seen, self.last_up = [], set()
        back = None
        start = time.monotonic()
        while installer.running() and time.monotonic() - start < 60:
            if back is None and time.monotonic() - start >= 15:
                os.unlink(outage)
                back = time.monotonic()
            self.look_at_boxes(seen, answer_boxes)
            time.sleep(0.1)
        self.assertIsNotNone(back, "the run ended during the outage")
        self.assertEqual(self.finish(5), 0)
        self.assertLess(time.monotonic() - back, 35, "no finish after the server came back")
        self.assertGreaterEqual(len(seen), 1, "the outage was not reported")
        self.assertLessEqual(len(seen), 4, seen)
        self.assert_installed()
        self.assert_started_both()
        wait_until(lambda: self.boxes_up() == [], 5, what="the boxes to go with the installer")
        self.assertGreater(sum(r.startswith(failed) for r in self.records()), len(seen))

    def test_boxes_answered_at_once(self):
        self.run_through_outage(answer_boxes=True)

    def test_first_box_left_up(self):
        self.run_through_outage(answer_boxes=False)


class BoxUpAtTheLaunch(SafetyCase):

    def test_a_program_that_arrived_while_the_box_came_up_starts(self):
        # The box comes up while the launcher (made large) is still arriving and is never
        # answered; the missing file comes with the retry and the run goes on to the launch.
        program = recording_program()
        self.files = {"updateTool.exe": program, "process.exe": program + bytes(64 * MIB),
                      "late.txt": b"arrives with the retry\n"}
        self.server.publish([], self.files, unpublished={"late.txt"})
        self.start()
        wait_until(self.boxes_up, 20, what="the missing file's box")
        self.server.publish_file("late.txt", self.files["late.txt"])
        self.finish_with_launch()


class InTheWay(SafetyCase):

    def test_things_in_the_way_are_moved_aside_and_the_run_goes_on(self):
        self.server.publish(self.folders, self.files)
        # A folder where a file is listed, a file where a folder is listed (with NAME.old
        # taken already), and what an interrupted download left.
        write(self.local("bin/engine.dll/player.txt"), b"mine")
        write(self.local("data/maps"), b"a file where the maps go")
        write(self.local("data/maps.old"), b"older")
        write(self.local("bin/readme.txt.vestrel-part"), b"half a readme")
        self.assertEqual(self.run_to_end(), ([], 0))
        self.assert_installed()
        self.assert_started_both()
        self.assertEqual(read(self.local("bin/engine.dll.old/player.txt")), b"mine")
        self.assertEqual(read(self.local("data/maps.old-2")), b"a file where the maps go")
        self.assertEqual(read(self.local("data/maps.old")), b"older")
        self.assertFalse(os.path.exists(self.local("bin/readme.txt.vestrel-part")))
        records = self.records()
        moved = "[ПРОЦЕСС] {0} мешает установке и перемещён в {0}{1}"
        self.assertIn(moved.format(self.local("bin/engine.dll"), ".old"), records)
        self.assertIn(moved.format(self.local("data/maps"), ".old-2"), records)
        self.assertIn("[ПРОЦЕСС] Удалён незавершённый файл "
                      f"{self.local('bin/readme.txt.vestrel-part')}", records)

        before = self.snapshot()
        self.assertEqual(self.run_to_end(), ([], 0))
        self.assert_started_both()
        self.assertEqual(self.snapshot(), before)
        self.assertEqual([r for r in self.records() if not r.startswith(("[ПРОВЕРКА] ",
                                                                          "[ЗАГРУЗКА] "))], [])


class UnreadableFolder(SafetyCase):

    def test_a_folder_the_player_may_not_read_is_passed_over(self):
        if os.geteuid() != 0 or "nobody" not in {p.pw_name for p in pwd.getpwall()}:
            self.skipTest("running the installer as the user nobody needs root and that user")
        program = os.path.join(build_dir(), self.program)
        reachable = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup",
                                    "--clear-groups", "test", "-x", program])
        if reachable.returncode != 0:
            self.skipTest(f"the user nobody may not run {program} (a folder on its way is "
                          "closed to others)")
        self.server.publish(self.folders, self.files)
        locked = self.local("saves/locked")
        write(os.path.join(locked, "slot1.sav"), b"saved game")
        self.remember()
        subprocess.run(["chown", "-R", "nobody:nogroup", self.temp], check=True)
        os.chmod(locked, 0)
        as_nobody = functools.partial(subprocess.Popen, user="nobody", group="nogroup",
                                      extra_groups=[])
        with mock.patch.object(subprocess, "Popen", as_nobody):
            self.start(remembered=False, extra_env={"HOME": self.temp})
        self.assertEqual(self.finish(), 0)
        self.assert_installed()
        self.assert_started_both()
        passed = [r for r in self.records() if r.startswith("[ОШИБКА]")]
        self.assertEqual(passed, [f"[ОШИБКА] Не удалось прочитать папку {locked} "
                                  "(Permission denied), она пропущена"])


class KilledWithABoxUp(SafetyCase):

    def test_next_run_is_not_kept_out_by_the_box_left_behind(self):
        # The remembered folder does not exist yet: it is made before the log starts.
        os.rmdir(self.folder)
        self.server.publish(self.folders, self.files)
        self.assertEqual(self.run_to_end(), ([], 0))
        self.assertTrue(START_BANNER.match(read_log(self.folder)), "no start banner first")
        # Then one file goes missing on both sides: the next run shows its box and is killed.
        missing = "data/maps/first.map"
        os.unlink(self.local(missing))
        self.server.publish(self.folders, self.files, unpublished={missing})
        first = self.start()
        first.main_window()
        wait_until(self.boxes_up, 20, what="the failed download's box")
        left = wait_until(lambda: forked_children(first.pid), 5, what="the box's process")
        for pid in left:
            self.addCleanup(lambda pid=pid: os.path.exists(f"/proc/{pid}") and
                            os.kill(pid, signal.SIGKILL))
        first.signal(signal.SIGKILL)
        first.wait(10)
        wait_until(self.boxes_up, 5, what="the box the killed installer left behind")

        second = self.start()
        second.main_window()  # the one that is "already running" opens no window
        # Only now the file is back: a run with nothing left to fetch may end before its
        # window is looked for. Until then its download fails and is retried.
        self.server.publish_file(missing, self.files[missing])
        self.finish_with_launch()
        self.assert_installed()
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)


if __name__ == "__main__":
    run_cases()
