#!/usr/bin/python3
"""vnlt serve at its limits on loopback: memory under a body of control
characters, /healthz while large batches run, one client address holding
many connections, a slow reader, SIGTERM during a batch. Each case is
bounded in size and time.

Usage: limits_test.py VNLT DAT
"""
import json
import os
import signal
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from service import Service, unchunk  # noqa: E402

VNLT = DAT = None
MIB = 1 << 20


def post(numbers_text, content_type=b"text/plain", extra=b""):
    return (b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Type: %s\r\nContent-Length: %d\r\n%s\r\n"
            % (content_type, len(numbers_text), extra)) + numbers_text


def read_reply(s, pause=0.0, data=b"", keep=True):
    """(head, body) of one reply read to its end, in pieces of 16 KiB `pause`
    seconds apart when `pause`; `data`: what was read of it already; the
    body's length alone unless `keep`."""
    data = bytearray(data)
    while b"\r\n\r\n" not in data:
        data += s.recv(65536)
    end = data.index(b"\r\n\r\n") + 4
    head, data = bytes(data[:end]), data[end:]
    chunked = b"chunked" in head
    length = None if chunked else int(head.split(b"Content-Length: ")[1].split(b"\r\n")[0])
    size, tail = len(data), bytes(data[-16:])
    while (size < length) if length is not None else not tail.endswith(b"\r\n0\r\n\r\n"):
        chunk = s.recv(16384 if pause else 1 << 20)
        if not chunk:
            raise AssertionError("the reply was cut after %d bytes" % size)
        if keep:
            data += chunk
        size, tail = size + len(chunk), (tail + chunk)[-16:]
        time.sleep(pause)
    if not keep:
        return head, size
    return head, unchunk(bytes(data)) if chunked else bytes(data)


def batch_text(count):
    return b"".join(b"139%08d\n" % i for i in range(count))


class Limits(unittest.TestCase):
    def test_a_body_of_control_characters_from_a_client_that_does_not_read_stays_in_its_budget(self):
        service = Service(VNLT, DAT, "--threads", "2", "--batch-memory", "48")
        try:
            service.request("GET", "/healthz")
            idle_peak = service.peak_memory(reset=True)
            # 18 MB of body whose answers escape every byte: a 150 MB reply.
            body = (b"\x01" * 60 + b"\n") * 300000
            idle = service.connect()
            idle.sendall(post(body))
            time.sleep(2)
            self.assertLess(service.peak_memory(), idle_peak + len(body) + 16 * MIB)
            # Its share of the budget is taken: a second such body waits, then is asked to come back.
            with service.connect() as second:
                second.sendall(b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n"
                               b"Expect: 100-continue\r\n\r\n" % (40 * MIB))
                head, _ = read_reply(second)
                self.assertTrue(head.startswith(b"HTTP/1.1 503 "), head)
                self.assertIn(b"Retry-After: 1", head)
            idle.close()
            self.assertEqual(service.request("GET", "/v1/lookup?number=13912345678")[0], 200)
        finally:
            self.assertEqual(service.stop(), 0)

    def test_healthz_stays_fast_while_four_large_batches_run(self):
        service = Service(VNLT, DAT, "--threads", "2")
        body = post(batch_text(1000000))
        answered = []

        def run_batch():
            with service.connect() as s:
                s.sendall(body)
                answered.append(read_reply(s, keep=False)[1] > 150 * MIB)

        try:
            batches = [threading.Thread(target=run_batch) for _ in range(4)]
            for t in batches:
                t.start()
            slowest = 0
            while any(t.is_alive() for t in batches):
                started = time.monotonic()
                self.assertEqual(service.request("GET", "/healthz")[0], 200)
                slowest = max(slowest, time.monotonic() - started)
                time.sleep(0.01)
            self.assertEqual(answered, [True] * 4)
            self.assertLess(slowest, 0.25)
        finally:
            self.assertEqual(service.stop(), 0)

    def test_one_address_cannot_take_every_connection(self):
        service = Service(VNLT, DAT, "--threads", "2", "--max-connections", "16", "--max-per-address", "8")
        held = []
        try:
            held = [service.connect("127.0.0.1") for _ in range(16)]
            with service.connect("127.0.0.2") as other:
                other.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
                head, metrics = read_reply(other)
            self.assertTrue(head.startswith(b"HTTP/1.1 200 "))
            self.assertIn(b'vnlt_connections_refused_total{cap="address"} 8\n', metrics)
            # Eight refusals within a second make one log line.
            service.wait_for_log("refused a connection from 127.0.0.1: --max-per-address 8 reached")
            self.assertEqual(service.log_count("refused a connection"), 1)
        finally:
            for s in held:
                s.close()
            self.assertEqual(service.stop(), 0)

    def test_a_slow_reader_receives_the_whole_reply(self):
        service = Service(VNLT, DAT, "--threads", "2", "--timeout", "1")
        try:
            with service.connect(receive_buffer=32768) as s:
                started = time.monotonic()
                s.sendall(post(batch_text(60000)))
                head, body = read_reply(s, pause=0.003)
                # Longer than the timeout, and never cut.
                self.assertGreater(time.monotonic() - started, 1.5)
                self.assertEqual(len(json.loads(body)), 60000)
        finally:
            self.assertEqual(service.stop(), 0)

    def test_sigterm_lets_a_batch_in_flight_finish_and_then_exits(self):
        service = Service(VNLT, DAT, "--threads", "2", "--drain", "10")
        with service.connect(receive_buffer=65536) as s:
            s.sendall(post(batch_text(200000)))
            first = s.recv(64)
            self.assertTrue(first.startswith(b"HTTP/1.1 200 "))
            service.signal(signal.SIGTERM)
            service.wait_for_log("stopping on SIGTERM")
            self.assertEqual(len(json.loads(read_reply(s, data=first)[1])), 200000)
        self.assertEqual(service.stop(), 0)


if __name__ == "__main__":
    VNLT, DAT = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
