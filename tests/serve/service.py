# Starts `vnlt serve` on a free loopback port and talks HTTP to it, and reads
# the table of exchanges with it: tests/data/serve_exchanges.txt.
import http.client
import io
import json
import re
import resource
import signal
import socket
import subprocess
import threading
import time
import types

import tables

TABLE = tables.DATA / "serve_exchanges.txt"


class Service:
    def __init__(self, vnlt, dat, *extra, files=None):
        """`files`: the (soft, hard) limit on open descriptors to start it with."""
        limit = files and (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, files))
        self.process = subprocess.Popen([vnlt, "--dat", dat, "serve", "--listen", "127.0.0.1:0", *extra], text=True,
                                        stderr=subprocess.PIPE, encoding="utf-8", errors="replace", preexec_fn=limit)
        self.lines = [self.process.stderr.readline()]
        self.changed = threading.Condition()
        found = re.search(r"listening on 127\.0\.0\.1:(\d+)", self.lines[0])
        assert found, "no listening line: %r" % self.lines
        self.port = int(found.group(1))
        threading.Thread(target=self._drain, daemon=True).start()

    def _drain(self):
        for line in self.process.stderr:
            with self.changed:
                self.lines.append(line)
                self.changed.notify_all()
        self.process.stderr.close()

    def log_count(self, pattern):
        with self.changed:
            return sum(1 for line in self.lines if re.search(pattern, line))

    def wait_for_log(self, pattern, seconds=10):
        with self.changed:
            assert self.changed.wait_for(lambda: self.log_count(pattern), seconds), (pattern, self.lines)

    def request(self, target, body=None, media_type="text/plain"):
        """(status, parsed JSON body) of a GET of `target`, or a POST of `body` to it."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        connection.request("GET" if body is None else "POST", target, body,
                           {"Content-Type": media_type, "Connection": "close"})
        with connection.getresponse() as reply:
            return reply.status, json.loads(reply.read())

    def connect(self, source="127.0.0.1", receive_buffer=None):
        """A raw socket to the service from `source`, one loopback address of many."""
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if receive_buffer:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        s.settimeout(30)
        s.bind((source, 0))
        s.connect(("127.0.0.1", self.port))
        return s

    def exchange(self, data, source="127.0.0.1", receive_buffer=None, **reading):
        """All the service sends back for `data`, the client's side closed after it."""
        with self.connect(source, receive_buffer) as s:
            try:
                s.sendall(data)
                s.shutdown(socket.SHUT_WR)
            except (BrokenPipeError, ConnectionResetError):
                pass  # refused before the whole request arrived: the reply says why
            return read_all(s, **reading)

    def peak_memory(self, reset=False):
        """The peak resident memory in bytes since the start or the last reset."""
        with open("/proc/%d/status" % self.process.pid) as status:
            peak = int(re.search(r"VmHWM:\s+(\d+) kB", status.read()).group(1)) * 1024
        if reset:
            with open("/proc/%d/clear_refs" % self.process.pid, "w") as refs:
                refs.write("5")
        return peak

    def stop(self):
        """SIGTERM; the exit code."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise AssertionError("the service outlived SIGTERM by 10 s")


def read_all(s, data=b"", pause=0.0, keep=True):
    """What `s` receives until the service closes it, after `data` read of it
    already; in reads `pause` seconds apart; its length alone unless `keep`."""
    pieces, size = [data], len(data)
    while True:
        try:
            piece = s.recv(16384 if pause else 1 << 20)
        except ConnectionResetError:
            piece = b""
        if not piece:
            return b"".join(pieces) if keep else size
        size += len(piece)
        if keep:
            pieces.append(piece)
        time.sleep(pause)


def body_of(reply):
    """The body of the last reply in `reply`, its chunks joined."""
    last = [m.start() for m in re.finditer(rb"HTTP/1\.1 \d{3} ", reply)][-1]
    response = http.client.HTTPResponse(types.SimpleNamespace(makefile=lambda mode: io.BytesIO(reply[last:])))
    response.begin()
    return response.read()


def unescape(text):
    """The table's escapes, after ${N*TEXT}: TEXT N times."""
    return tables.unescape(re.sub(r"\$\{(\d+)\*(.*?)\}", lambda m: m.group(2) * int(m.group(1)), text))


def exchanges():
    """(request, statuses, texts) of each line of the table."""
    with open(TABLE, encoding="utf-8") as table:
        lines = table.read().split("\n")
    for line in lines:
        if line and not line.startswith("#"):
            request, statuses, *texts = line.split("\t")
            request = unescape(request)
            length = b"Content-Length: %d" % len(request.partition(b"\r\n\r\n")[2])
            yield request.replace(b"Content-Length: *", length), statuses, [unescape(text) for text in texts]
