"""A CONNECT proxy on loopback, as an office network's would be: it opens the tunnels a
program asks for and records each one's target and the local port it reached the server
from, so that a case can tell which of the server's requests came through it."""

import select
import socket
import threading


class ConnectProxy:

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.targets = []          # the CONNECT targets, in order
        self.upstream_ports = set()  # the ports the tunnels reached the server from
        self.refused = []          # request lines that were not CONNECTs
        threading.Thread(target=self._serve, daemon=True).start()

    def close(self):
        self.listener.close()

    def _serve(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._tunnel, args=(client,), daemon=True).start()

    def _tunnel(self, client):
        with client:
            head = b""
            while b"\r\n\r\n" not in head:
                chunk = client.recv(4096)
                if not chunk:
                    return
                head += chunk
            line, rest = head.split(b"\r\n", 1)[0].decode(), head.split(b"\r\n\r\n", 1)[1]
            method, target = (line.split(" ") + ["", ""])[:2]
            host, _, port = target.rpartition(":")
            if method != "CONNECT" or not port.isdigit():
                with self.lock:
                    self.refused.append(line)
                client.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
                return
            # The test server listens on IPv4 loopback only.
            address = "127.0.0.1" if host in ("localhost", "[::1]") else host.strip("[]")
            with socket.create_connection((address, int(port))) as upstream:
                with self.lock:
                    self.targets.append(target)
                    self.upstream_ports.add(upstream.getsockname()[1])
                client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                if rest:
                    upstream.sendall(rest)
                self._pump(client, upstream)

    @staticmethod
    def _pump(a, b):
        while True:
            ready, _, _ = select.select([a, b], [], [], 60)
            if not ready:
                return
            for side in ready:
                data = side.recv(65536)
                if not data:
                    return
                (b if side is a else a).sendall(data)
