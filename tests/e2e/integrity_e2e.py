"""End-to-end tests of what the real vestrel-installer refuses: bytes no listed digest vouches
for, downgrades to plain HTTP, hot retry loops, a second installer beside the first, a stored
folder it cannot use as it is, and lists too large to be real. Same harness and server as
installer_e2e.py; run the same way:

    python3 integrity_e2e.py [--list | Class.test_name]
"""

import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import Installer, ServerTree, build_dir, run_cases, wait_until  # noqa: E402
from installer_e2e import FULL, InstallerCase, read, write  # noqa: E402

FILE_OTHER_ERROR = ("\n[ОШИБКА] Во время загрузки файла произошла неизвестная ошибка ({}) "
                    "(VTNetwork)")


class IntegrityCase(InstallerCase):

    def dismiss_boxes_for(self, seconds, installer=None):
        """Dismisses every error box as soon as it shows, for `seconds`; returns when each
        one appeared (seconds from the start) with its width."""
        seen = []
        deadline = time.monotonic() + seconds
        start = time.monotonic()
        while time.monotonic() < deadline:
            for box in self.installer_boxes(installer):
                seen.append((time.monotonic() - start, box.width))
                self.x.focus(box)
                self.x.key("Return")
                # The next box may take over the closed one's window id at once; it is told
                # apart by its size (the fetcher's box and the worker's differ, and the next
                # attempt comes a pause later).
                wait_until(lambda: not any(b.id == box.id and b.width == box.width
                                           for b in self.installer_boxes(installer)),
                           5, what="the box to close")
            time.sleep(0.05)
        return seen

    def installer_boxes(self, installer=None):
        return (installer or self.installer).error_boxes()

    def close_window(self, window):
        """Ends the run with the window's close button. The boxes block only worker threads,
        but a new one may open over the button (there is no window manager to place it), so
        every box is moved aside before each try."""
        for _ in range(5):
            for box in self.installer_boxes():
                self.x.move_window(box, 0, 0)
            self.x.click(window, window.width - 36, 50)
            try:
                return self.installer.wait(3)
            except Exception:
                continue
        return self.finish(10)


class VerifiedBytes(IntegrityCase):

    def test_download_that_matches_no_digest_is_neither_kept_nor_started(self):
        self.server.publish(self.folders, self.files)
        # The server's update tool is not the one the lists vouch for (it would still run).
        tampered = self.files["updateTool.exe"] + b"\0tampered"
        self.server.publish_file("updateTool.exe", tampered)
        installer = self.start()
        installer.main_window()
        boxes = self.dismiss_boxes_for(3)
        self.assertGreaterEqual(len(boxes), 1, "no box for the refused download")
        # Only the download worker's box: a mismatch has no box of the fetcher's own.
        self.assertEqual(len({width for _, width in boxes}), 1, boxes)
        self.assertFalse(os.path.exists(self.local("updateTool.exe")), "refused bytes kept")
        self.assert_started_none()

        self.server.publish_file("updateTool.exe", self.files["updateTool.exe"])
        self.dismiss_boxes_for(3)
        self.assertEqual(self.finish(), 0)
        self.assert_installed()
        self.assert_started_both()
        records, started, ended = self.log()
        self.assert_clean_end(records, started, ended)
        self.assertIn(f"[ОШИБКА] Загруженный файл {self.local('updateTool.exe')} не совпадает "
                      "ни с одной контрольной суммой", records)


class HttpsOnly(IntegrityCase):

    def test_redirect_to_plain_http_is_never_followed(self):
        # The listed file's address answers with a redirect to the same bytes over plain HTTP,
        # which a tampering network could serve; its digest would even match.
        self.folders.append("to-http/bin")
        self.files["to-http/bin/extra.txt"] = b"served over plain HTTP\n"
        self.server.publish(self.folders, self.files)
        self.server.publish_file("bin/extra.txt", self.files["to-http/bin/extra.txt"])
        installer = self.start()
        window = installer.main_window()
        boxes = self.dismiss_boxes_for(4)
        self.assertGreaterEqual(len(boxes), 2, "the failure was not reported")
        self.assertFalse(os.path.exists(self.local("to-http/bin/extra.txt")) and
                         read(self.local("to-http/bin/extra.txt")), "plain-HTTP bytes kept")
        self.assertEqual(self.close_window(window), 0)
        self.assert_started_none()
        records, _, _ = self.log()
        self.assertIn(FILE_OTHER_ERROR.format("Unsupported protocol"), records)


class RetryPacing(IntegrityCase):

    def test_persistent_failure_waits_within_a_growing_back_off_and_opens_the_guide_once(self):
        missing = "data/maps/first.map"
        self.server.publish(self.folders, self.files, unpublished={missing})
        # The run starts while the window is being made: the clock starts with the program.
        start = time.monotonic()
        installer = self.start()
        window = installer.main_window()
        # Boxes are answered at once, as a player hammering Return would; the attempts are
        # read off the log as they happen: the pauses must come from the installer itself.
        failed = "[ОШИБКА] Не удалось загрузить файл ("
        # Each attempt is known to lie between two reads of the log, which the first
        # attempt's boxes may hold apart by a few tenths: gaps are judged by those bounds.
        attempts, boxes = [], []
        last_read = 0.0
        while time.monotonic() - start < 8.5:
            boxes += self.dismiss_boxes_for(0.05)
            if os.path.exists(self.local("installer.log")):
                read = time.monotonic() - start
                count = sum(r.startswith(failed) for r in self.log()[0])
                attempts += [(last_read, read)] * (count - len(attempts))
                last_read = read
        # Attempts after pauses drawn at random within 1 s, 2 s, 4 s, ...: a few in 8.5 s,
        # where no pause would make dozens, each within its back-off; and only the first
        # attempt's boxes (the fetcher's and the worker's): later failures of the same kind
        # are logged, not boxed again.
        self.assertGreaterEqual(len(attempts), 2, attempts)
        self.assertLessEqual(len(attempts), 8, attempts)
        shortest = [b[0] - a[1] for a, b in zip(attempts, attempts[1:])]
        self.assertTrue(all(gap <= 2 ** k + 0.5 for k, gap in enumerate(shortest)), attempts)
        self.assertEqual(len(boxes), 2, boxes)
        self.assertEqual(len(installer.opened_links()), 1, installer.opened_links())
        self.assertEqual(self.close_window(window), 0)


class OneInstallerAtATime(IntegrityCase):

    def test_second_installer_touches_nothing_of_the_first(self):
        # The first installer is held in the middle of a download that went silent halfway.
        held = "stall-here/data/big.bin"
        body = bytes(range(256)) * 4096  # 1 MiB
        self.folders.append("stall-here/data")
        self.files[held] = body
        self.server.publish(self.folders, self.files)
        stalling = os.path.join(ServerTree().site, "stall", "launcher", "launcher", "data",
                                "big.bin")
        write(stalling, body)
        self.addCleanup(os.unlink, stalling)
        first = self.start()
        window = first.main_window()
        partial = self.local(held) + ".vestrel-part"
        # Half the body, less what may still sit in the installer's write buffer.
        wait_until(lambda: os.path.exists(partial) and
                   os.path.getsize(partial) >= len(body) // 2 - (64 << 10),
                   30, what="the held download to receive half its body")
        time.sleep(0.5)
        log_before = read(self.local("installer.log"))
        files_before = self.folder_state()
        stored_before = first.stored()

        second = Installer(self.x, self.config_home).start()
        self.addCleanup(second.stop)
        box = wait_until(lambda: [b for b in second.error_boxes()], 15,
                         what="the second installer's box")[0]
        self.assertEqual(self.x.windows("Vestrel Installer", second.pid), [],
                         "the second installer opened its window")
        self.x.focus(box)
        self.x.key("Return")
        self.assertEqual(second.wait(10), 0)

        self.assertTrue(first.running())
        self.assertTrue(self.x.mapped(window))
        self.assertEqual(read(self.local("installer.log")), log_before)
        self.assertEqual(self.folder_state(), files_before)
        self.assertEqual(first.stored(), stored_before)
        self.assertEqual(second.printed(), "")
        self.assertEqual(self.close_window(window), 0)
        self.assert_started_none()

    def folder_state(self):
        state = {}
        for parent, _, names in os.walk(self.folder):
            for name in names:
                path = os.path.join(parent, name)
                st = os.stat(path)
                state[path] = (st.st_size, st.st_mtime_ns, st.st_ino)
        return state


class StoredFolder(IntegrityCase):

    def test_folder_stored_without_its_final_slash_is_installed_into(self):
        self.server.publish(self.folders, self.files)
        Installer(self.x, self.config_home).remember(self.folder)  # no final '/'
        installer = Installer(self.x, self.config_home).start()
        self.installer = installer
        self.addCleanup(installer.stop)
        self.assertEqual(self.finish(), 0)
        self.assert_installed()
        self.assert_started_both()
        # Nothing beside the folder: ".../VestrelLauncherupdateTool.exe" and the like.
        self.assertEqual(os.listdir(self.parent), ["VestrelLauncher"])
        self.assertEqual(installer.stored(), self.folder + "/")

    def test_relative_folder_counts_as_none_and_the_chooser_is_shown(self):
        self.server.publish(self.folders, self.files)
        Installer(self.x, self.config_home).remember("VestrelLauncher/")
        installer = Installer(self.x, self.config_home).start()
        self.installer = installer
        self.addCleanup(installer.stop)
        window = installer.main_window()
        self.assertEqual((window.width, window.height), FULL)
        self.x.key("alt+F4")
        self.assertEqual(self.finish(10), 0)
        # Nothing was made relative to the working directory.
        self.assertFalse(os.path.exists(os.path.join(build_dir(), "VestrelLauncher")))


class ListMemory(IntegrityCase):

    @staticmethod
    def peak_kib(pid):
        try:
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        return int(line.split()[1])
        except OSError:
            pass
        return 0

    def run_measured(self, dismiss):
        # Measured from the start: a run with nothing to wait for may be over before its
        # window could be looked for.
        installer = self.start()
        peak = 0
        deadline = time.monotonic() + 60
        while installer.running() and time.monotonic() < deadline:
            peak = max(peak, self.peak_kib(installer.pid))
            if dismiss:
                for box in installer.error_boxes():
                    peak = max(peak, self.peak_kib(installer.pid))
                    self.x.focus(box)
                    self.x.key("Return")
            time.sleep(0.05)
        self.assertEqual(self.finish(10), 0)
        return peak

    def test_huge_single_line_list_costs_no_memory_and_little_disk(self):
        self.server.publish(self.folders, self.files)
        normal = self.run_measured(dismiss=False)
        self.assert_started_both()

        # An 80 MiB list of one line: cut off at 64 MiB while it arrives, and refused.
        self.server.write_list("ufile.lists", "a" * (80 << 20))
        for program in ("updateTool.exe", "process.exe"):
            os.unlink(self.local(program + ".record"))
        huge = self.run_measured(dismiss=True)
        self.assertLessEqual(huge - normal, 16 << 10, f"peak {huge} KiB against {normal} KiB")
        self.assertLessEqual(os.path.getsize(self.local("ufile.lists")), 64 << 20)
        self.assert_started_none()
        records, _, _ = self.log()
        self.assertIn("[ОШИБКА] Список ufile.lists слишком большой (больше 67108864 байт)",
                      records)


if __name__ == "__main__":
    run_cases()
