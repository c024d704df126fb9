"""End-to-end tests of signed releases with the real keyed program
(build/vestrel-installer-keyed, which trusts tests/e2e/keys/first and second): a release
signed by either key installs and is kept; a release it cannot trust, and files that are not
the ones it names, each end the run with one box, nothing changed and nothing started.
Same harness and server as installer_e2e.py; run the same way:

    python3 release_e2e.py [--list | Class.test_name]
"""

import glob
import os
import signal
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import AccessLog, run_cases, wait_until  # noqa: E402
from installer_e2e import read, write  # noqa: E402
from safety_e2e import SafetyCase  # noqa: E402

KEYS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "keys")
REFUSED = "[ОШИБКА] Выпуск отклонён: "


def key(name):
    return os.path.join(KEYS, name + ".secret")


class SignedRelease(SafetyCase):

    program = "vestrel-installer-keyed"

    def setUp(self):
        super().setUp()
        # The two programs' bytes differ, so that one can be served as the other.
        self.files["process.exe"] += b"\n# the launcher\n"

    def publish_signed(self, signer="first", options=()):
        self.server.publish(self.folders, self.files, options=("--sign", key(signer), *options))

    def kept_release(self):
        return read(self.local("urelease.lists"))

    def install(self, signer="first", options=()):
        """A first install of a signed release; returns what the folder then holds."""
        self.publish_signed(signer, options)
        self.assertEqual(self.run_to_end(), ([], 0), self.records())
        self.assert_started_both()
        self.assertEqual(self.kept_release(),
                         read(self.server.path(".launcher/urelease.lists")))
        return self.snapshot()

    def assert_refused(self, rule, installed, release):
        """One run, one box, nothing started, nothing changed, and the rule in the log."""
        boxes, status = self.run_to_end()
        self.assert_one_box(boxes, status)
        self.assert_started_none()
        self.assertEqual(self.snapshot(), installed)
        self.assertEqual(self.kept_release(), release)
        refusals = [r for r in self.records() if r.startswith(REFUSED)]
        self.assertEqual(refusals, [REFUSED + rule], self.records())

    def test_either_key_signs_and_a_release_it_cannot_trust_changes_nothing(self):
        self.install("first", ["--serial", "5"])
        # The second key signs the next release just as well.
        self.publish_signed("second", options=["--serial", "6"])
        self.assertEqual(self.run_to_end(), ([], 0), self.records())
        self.assert_started_both()
        installed, release = self.snapshot(), self.kept_release()
        self.assertIn(b"\nserial 6\n", release)

        cases = {
            "unsigned lists": ((), "сервер не отдал файл выпуска (HTTP 404)"),
            "unknown key": (("stranger",), "выпуск не подписан ни одним из ключей издателя"),
            "older serial": (("first", ["--serial", "4"]),
                             "номер выпуска 4 меньше номера уже принятого выпуска 6"),
            "expired": (("first", ["--expires", "2020-01-01T00:00:00Z"]),
                        "срок действия выпуска истёк 2020-01-01T00:00:00Z"),
            "changed release file": (("first", ["--serial", "7"]),
                                     "выпуск не подписан ни одним из ключей издателя"),
        }
        for name, (signing, rule) in cases.items():
            with self.subTest(name):
                if signing:
                    self.publish_signed(*signing)
                else:
                    self.server.publish(self.folders, self.files)
                served = self.server.path(".launcher/urelease.lists")
                if name == "changed release file":
                    write(served, read(served).replace(b"serial 7", b"serial 8"))
                elif not signing and os.path.exists(served):
                    os.unlink(served)
                self.assert_refused(rule, installed, release)

    def test_files_that_are_not_their_own_change_nothing(self):
        installed = self.install()
        release = self.kept_release()

        # A local file holding another listed file's bytes is not taken for its own.
        write(self.local("process.exe"), self.files["updateTool.exe"])
        self.assertEqual(self.run_to_end(), ([], 0))
        self.assert_started_both()
        self.assertEqual(self.snapshot(), installed)

        lists = self.server.path(".launcher/")
        endless = "endless-here/big.bin"
        cases = {
            # Served with the update tool's bytes, which another line of the lists names.
            "another file's bytes": ("process.exe",
                                     lambda: write(self.server.path("process.exe"),
                                                   self.files["updateTool.exe"]),
                                     "загруженный файл {} не совпадает с выпуском"),
            # The fault server's endless body: cut off at the length the release names.
            "endless body": (endless, lambda: None, "файл {} длиннее, чем сказано в выпуске"),
            # Changed after signing (and still so when fetched again after the pause).
            "changed list": (None,
                             lambda: write(lists + "uhash.lists",
                                           read(lists + "uhash.lists") + b"0" * 32 + b"\n"),
                             "список uhash.lists не совпадает с выпуском"),
        }
        for name, (missing, serve, rule) in cases.items():
            with self.subTest(name):
                expected = dict(installed)
                if missing == endless:
                    # Its signed folder is made before the body is refused.
                    expected["endless-here"] = None
                    self.server.publish(self.folders + ["endless-here"],
                                        dict(self.files, **{endless: b"a sane body\n"}),
                                        options=("--sign", key("first")))
                else:
                    self.publish_signed()
                serve()
                if missing in self.files:
                    os.unlink(self.local(missing))
                    del expected[os.path.normpath(missing)]
                self.assert_refused(rule.format(self.local(missing or "")), expected,
                                    release)
                if missing in self.files:
                    write(self.local(missing), self.files[missing])
                elif missing == endless:
                    os.rmdir(self.local("endless-here"))


def chunk_bytes(log):
    """The body bytes nginx sent for chunks and indexes since `log` was made."""
    return log.sent(".launcher/chunks/")


class ChunkedRelease(SafetyCase):
    """Large files served as chunks (vestrel-publish make --chunks): an update fetches what
    changed and takes the rest from the old file."""

    program = "vestrel-installer-keyed"

    def publish_chunked(self, serial):
        self.server.publish(self.folders, self.files,
                            options=("--sign", key("first"), "--chunks", "--serial", str(serial)))

    def test_an_update_fetches_only_the_chunks_that_changed(self):
        size = 8 << 20
        big = os.urandom(size)
        self.files["data/big.pak"] = big
        self.publish_chunked(1)
        log = AccessLog()
        self.assertEqual(self.run_to_end(), ([], 0), self.records())
        self.assert_started_both()
        self.assertEqual(read(self.local("data/big.pak")), big)
        self.assertGreaterEqual(chunk_bytes(log), size)  # random bytes do not compress

        # 100 KiB rewritten in the middle: a chunk or two change, the rest are the old file's.
        changed = big[:size // 2] + os.urandom(100 << 10) + big[size // 2 + (100 << 10):]
        self.files["data/big.pak"] = changed
        self.publish_chunked(2)
        log = AccessLog()
        self.assertEqual(self.run_to_end(), ([], 0), self.records())
        self.assertEqual(read(self.local("data/big.pak")), changed)
        self.assertLess(chunk_bytes(log), 3 << 20)
        saved = [r for r in self.records() if r.startswith("[ПРОЦЕСС] ") and
                 r.endswith("МБ из 8,0 МБ, остальное взято из прежней версии")]
        self.assertEqual(len(saved), 1, self.records())

        # The next update's new chunk arrives damaged: fetched once more, then the release is
        # refused with one box, and nothing of the install has changed.
        stored = set(glob.glob(self.server.path(".launcher/chunks/??/*")))
        self.files["data/big.pak"] = os.urandom(1 << 20) + changed[1 << 20:]
        self.publish_chunked(3)
        for path in set(glob.glob(self.server.path(".launcher/chunks/??/*"))) - stored:
            data = read(path)
            write(path, data[:-1] + bytes([data[-1] ^ 1]))
        installed = self.snapshot()
        boxes, status = self.run_to_end()
        self.assert_one_box(boxes, status)
        self.assert_started_none()
        self.assertEqual(self.snapshot(), installed)

    def test_an_insertion_a_missing_chunk_and_a_killed_run(self):
        size = 16 << 20
        big = os.urandom(size)
        self.files["data/big.pak"] = big
        self.publish_chunked(1)
        self.assertEqual(self.run_to_end(), ([], 0), self.records())

        # One byte inserted at the start: only the first chunk is new, and it answers 404
        # at first. The run shows its box and keeps the old file; once the chunk is served,
        # the retry completes the update.
        stored = set(glob.glob(self.server.path(".launcher/chunks/??/*")))
        inserted = b"!" + big
        self.files["data/big.pak"] = inserted
        self.publish_chunked(2)
        (new,) = set(glob.glob(self.server.path(".launcher/chunks/??/*"))) - stored
        held = read(new)
        os.unlink(new)
        log = AccessLog()
        installer = self.start()
        wait_until(installer.error_boxes, 30, what="the box for the missing chunk")
        self.assertEqual(read(self.local("data/big.pak")), big)
        write(new, held)
        boxes, self.last_up = [], set()
        wait_until(lambda: self.look_at_boxes(boxes) or not installer.running(), 40,
                   what="the end of the run")
        self.assertEqual(self.finish(5), 0)
        self.assertEqual(read(self.local("data/big.pak")), inserted)
        answers = [status for _, path, status in log.requests() if path.endswith(new[-64:])]
        self.assertEqual((answers[0], answers[-1]), (404, 200), answers)
        self.assertLessEqual(chunk_bytes(log), (1 << 20) + (16 << 10))

        # A new version throughout, over a slow link; the run is killed once half its chunks
        # have come. The next run keeps what the part holds and fetches the rest.
        renewed = os.urandom(size)
        self.files["data/big.pak"] = renewed
        stored = set(glob.glob(self.server.path(".launcher/chunks/??/*")))
        self.publish_chunked(3)
        chunks = len(set(glob.glob(self.server.path(".launcher/chunks/??/*"))) - stored)
        slow = os.path.join(self.server.site, "launcher", "slow")
        write(slow, b"")
        self.addCleanup(lambda: os.path.exists(slow) and os.unlink(slow))
        log = AccessLog()
        self.start()

        def answered():
            return {path for _, path, status in log.requests()
                    if status == 200 and "/.launcher/chunks/" in path}
        wait_until(lambda: len(answered()) >= chunks // 2, 60, what="half the chunks")
        first = answered()  # after the kill, nginx logs the answers it broke off as 200 too
        self.installer.signal(signal.SIGKILL)
        self.finish(10)
        os.unlink(slow)
        log = AccessLog()
        self.assertEqual(self.run_to_end(), ([], 0), self.records())
        self.assertEqual(read(self.local("data/big.pak")), renewed)
        part = self.local("data/big.pak") + ".vestrel-part"
        self.assertIn(f"[ПРОЦЕСС] Незавершённый файл {part} сохранён, его загрузка будет "
                      "продолжена", self.records())
        # What the killed run had taken in by then is not asked for again (under load, some
        # answers that nginx had sent were still on their way into the part).
        again = answered() & first
        self.assertLess(len(again), len(first), again)
        self.assertLess(chunk_bytes(log), size)


if __name__ == "__main__":
    run_cases()
