"""Starts `vnlt serve` on a free loopback port and talks HTTP to it: shared
by the service's tests. Loopback only."""
import http.client
import json
import re
import signal
import subprocess
import threading
import time


class Service:
    def __init__(self, vnlt, dat, *extra, files=None):
        """`files`: the (soft, hard) limit on open descriptors to start it with."""
        def limit():
            import resource
            resource.setrlimit(resource.RLIMIT_NOFILE, files)
        self.process = subprocess.Popen(
            [vnlt, "--dat", dat, "serve", "--listen", "127.0.0.1:0", *extra],
            stderr=subprocess.PIPE, text=True, encoding="utf-8", preexec_fn=limit if files else None)
        self.lines = []
        self.changed = threading.Condition()
        first = self.process.stderr.readline()
        self.lines.append(first)
        found = re.search(r"listening on 127\.0\.0\.1:(\d+)", first)
        if not found:
            raise AssertionError("no listening line: %r" % first)
        self.port = int(found.group(1))
        threading.Thread(target=self._drain, daemon=True).start()

    def _drain(self):
        for line in self.process.stderr:
            with self.changed:
                self.lines.append(line)
                self.changed.notify_all()

    def log_count(self, pattern):
        with self.changed:
            return sum(1 for line in self.lines if re.search(pattern, line))

    def wait_for_log(self, pattern, seconds=10):
        """The first log line matching `pattern`, waiting for it."""
        deadline = time.monotonic() + seconds
        with self.changed:
            while True:
                for line in self.lines:
                    if re.search(pattern, line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("no log line %r in %r" % (pattern, self.lines))
                self.changed.wait(left)

    def request(self, method, path, body=None, headers=None):
        """(status, headers, parsed JSON body) of one request on a fresh connection."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            data = response.read()
            return response.status, dict(response.getheaders()), json.loads(data.decode("utf-8"))
        finally:
            connection.close()

    def peak_memory(self, reset=False):
        """The peak resident memory in bytes since the start or the last reset."""
        with open("/proc/%d/status" % self.process.pid) as status:
            peak = int(re.search(r"VmHWM:\s+(\d+) kB", status.read()).group(1)) * 1024
        if reset:
            with open("/proc/%d/clear_refs" % self.process.pid, "w") as refs:
                refs.write("5")
        return peak

    def connect(self, source="127.0.0.1", receive_buffer=None):
        """A raw socket to the service from `source`, one loopback address of many."""
        import socket
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if receive_buffer:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        s.settimeout(30)
        s.bind((source, 0))
        s.connect(("127.0.0.1", self.port))
        return s

    def signal(self, number):
        self.process.send_signal(number)

    def stop(self):
        """SIGTERM; the exit code."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("the service outlived SIGTERM by 10 s")


def unchunk(data):
    """The body of a chunked reply, its chunks joined; an error when it is cut short."""
    pieces, at = [], 0
    while True:
        line_end = data.index(b"\r\n", at)
        size = int(data[at:line_end], 16)
        if size == 0:
            return b"".join(pieces)
        at = line_end + 2
        if len(data) < at + size + 2:
            raise AssertionError("a chunked body cut short")
        pieces.append(data[at:at + size])
        at += size + 2


def random_numbers(count, seed):
    """Numbers as people write them: mobile, fixed-line, with +86, spaces, dashes, and junk."""
    import random
    rng = random.Random(seed)
    prefixes = ["13", "15", "17", "18", "19", "14", "16"]
    numbers = []
    for _ in range(count):
        kind = rng.randrange(10)
        if kind < 6:
            n = rng.choice(prefixes) + "%09d" % rng.randrange(10 ** 9)
        elif kind < 8:
            n = "0" + str(rng.choice([10, 20, 21, 755, 571, 851, 898, 8812, 991])) + "%07d" % rng.randrange(10 ** 7)
        elif kind == 8:
            n = "+86 %s-%04d-%04d" % (rng.choice(["139", "186", "150"]), rng.randrange(10 ** 4), rng.randrange(10 ** 4))
        else:
            n = rng.choice(["", "abc", "１３９１２３４５６７８", "(+86)755 8888 8888", "0086139123", "12"])
        numbers.append(n)
    return numbers
