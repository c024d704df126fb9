"""End-to-end tests of a file server with a mirror, with the real mirrored program
(build/vestrel-installer-mirrored: keyed like vestrel-installer-keyed, its file server
https://127.0.0.1:18448/launcher, a host each case runs itself or leaves down, and its mirror
the test server): a primary that refuses connections or answers 503 leaves the install to the
mirror, a Retry-After is waited out without a box and without a request, and a damaged file
from the mirror changes nothing. Same harness and server as installer_e2e.py; run the same way:

    python3 mirrors_e2e.py [--list | Class.test_name]
"""

import http.server
import os
import shutil
import ssl
import sys
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import AccessLog, run_cases, test_env_dir  # noqa: E402
from installer_e2e import read, write  # noqa: E402
from release_e2e import key  # noqa: E402
from safety_e2e import SafetyCase  # noqa: E402

PRIMARY = "https://127.0.0.1:18448/launcher"
MIRROR = "https://127.0.0.1:18443/launcher"


class PrimaryHost:
    """The program's file server: a copy of the served tree over TLS with the test server's
    certificate. `answer(path, count)` may return (status, headers) instead of the file (count:
    the requests for files so far, this one included). Every request is kept as (time, path,
    status)."""

    def __init__(self, tree, answer=lambda path, count: None):
        self.root = tree
        self.requests = []
        host = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                relative = self.path.removeprefix("/launcher/launcher/")
                files = sum(1 for _, p, _ in host.requests if "/.launcher/" not in p)
                special = None if "/.launcher/" in self.path else answer(relative, files + 1)
                path = os.path.join(host.root, relative)
                status, headers = special or ((200, ()) if os.path.isfile(path) else (404, ()))
                host.requests.append((time.monotonic(), self.path, status))
                body = read(path) if status == 200 else b""
                self.send_response(status)
                for name, value in headers:
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 18448), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(test_env_dir(), "server.pem"),
                                os.path.join(test_env_dir(), "server.key"))
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class Mirrors(SafetyCase):

    program = "vestrel-installer-mirrored"

    def publish(self, unpublished=()):
        self.server.publish(self.folders, self.files, unpublished=unpublished,
                            options=("--sign", key("first")))

    def primary(self, answer=lambda path, count: None):
        """The primary up, serving a copy of the tree as it stands now."""
        copy = os.path.join(self.scratch, "primary")
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(self.server.root, copy)
        host = PrimaryHost(copy, answer)
        self.addCleanup(host.stop)
        return host

    def test_the_mirror_serves_when_the_primary_refuses_or_is_busy_but_not_a_damaged_file(self):
        # Nothing listens on the primary's port: the whole install comes from the mirror.
        self.publish()
        self.assertEqual(self.run_to_end(), ([], 0), self.records())
        self.assert_installed()
        self.assert_started_both()
        records = self.records()
        self.assertTrue([r for r in records if r.startswith(f"[ОШИБКА] Сервер {PRIMARY}: ")])
        self.assertEqual(records.count(f"[ПРОЦЕСС] Загрузка продолжается с сервера {MIRROR}"),
                         1, records)

        # The primary serves the lists but answers 503 for files: they come from the mirror.
        wrong = "data/maps/first.map"
        write(self.local(wrong), b"an older map\n")
        host = self.primary(lambda path, count: (503, ()))
        log = AccessLog()
        self.assertEqual(self.run_to_end(), ([], 0), self.records())
        self.assert_installed()
        self.assertIn((f"/launcher/launcher/{wrong}", 503), [(p, s) for _, p, s in host.requests])
        self.assertEqual(log.gets(wrong), 1)
        host.stop()

        # A file the mirror serves damaged is refused as the primary's would be.
        write(self.server.path(wrong), b"not the signed bytes\n")
        os.unlink(self.local(wrong))
        installed = self.snapshot()
        boxes, status = self.run_to_end()
        self.assert_one_box(boxes, status)
        self.assert_started_none()
        self.assertEqual(self.snapshot(), installed)

    def test_a_retry_after_is_waited_out_without_a_box_or_a_request(self):
        # The primary answers the files asked of it at first (the requests already on their
        # way when the first answer leaves) with 503 and Retry-After: 3; the mirror lacks one
        # file, which only the primary can give once its wait is over.
        self.publish()
        first = []

        def busy_at_first(path, count):
            first.append(first[0] if first else time.monotonic())
            return (503, (("Retry-After", "3"),)) if time.monotonic() < first[0] + 0.5 else None
        host = self.primary(busy_at_first)
        only = "data/maps/held.map"
        os.unlink(self.server.path(only))
        self.assertEqual(self.run_to_end(), ([], 0), self.records())
        self.assert_installed()
        busy = [t for t, _, status in host.requests if status == 503]
        after = [t for t, _, _ in host.requests if t > busy[-1]]
        self.assertTrue(busy and after, host.requests)
        self.assertGreaterEqual(after[0] - busy[-1], 2.9, host.requests)
        self.assertIn((f"/launcher/launcher/{only}", 200), [(p, s) for _, p, s in host.requests])


if __name__ == "__main__":
    run_cases()
