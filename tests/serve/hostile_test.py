#!/usr/bin/python3
"""vnlt serve under hostile input on a loopback port: broken request lines,
huge headers and bodies, invalid UTF-8, wrong JSON, requests cut off midway,
slow and idle clients past the connection cap. Afterwards it still answers
correctly. Every case is bounded in count and time.

Usage: hostile_test.py VNLT DAT
"""
import json
import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from service import Service  # noqa: E402

VNLT = DAT = None
TIMEOUT = 2  # the service's --timeout in seconds


def exchange(port, data, shut=False, wait=TIMEOUT + 3):
    """Sends `data` on a fresh connection; everything read until the service closes it."""
    with socket.create_connection(("127.0.0.1", port), timeout=wait) as s:
        s.sendall(data)
        if shut:
            s.shutdown(socket.SHUT_WR)
        received = b""
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            try:
                chunk = s.recv(65536)
            except (ConnectionResetError, socket.timeout):
                break
            if not chunk:
                break
            received += chunk
        return received


SMUGGLED = b"GET /v1/stats HTTP/1.1\r\nHost: x\r\n\r\n"


def post_json(body):
    return (b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n"
            % len(body) + body)


def status_of(reply):
    return int(reply.split(b" ", 2)[1]) if reply.startswith(b"HTTP/1.1 ") else None


class Hostile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Service(VNLT, DAT, "--threads", "2", "--timeout", str(TIMEOUT), "--max-connections", "64")
        cls.port = cls.service.port

    @classmethod
    def tearDownClass(cls):
        assert cls.service.stop() == 0

    def assertStillAnswers(self):
        status, _, body = self.service.request("GET", "/v1/lookup?number=13912345678")
        self.assertEqual((status, body["area"], body["areaCode"]), (200, "江苏省常州市", "0519"))

    def test_malformed_requests_get_a_4xx_or_a_closed_connection(self):
        cases = [
            (b"GARBAGE\r\n\r\n", 400),
            (b"GET\r\n\r\n", 400),
            (b"GET / HTTP/9.9\r\n\r\n", 400),
            (b"GET /healthz HTTP/1.1\r\nHost x\r\n\r\n", 400),
            (b"\x00\x01\x02\xff\xfe\r\n\r\n", 400),
            (b"GET /healthz HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400),
            (b"GET /healthz HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400),
            (b"GET /healthz HTTP/1.1\r\nX: " + b"a" * 100000 + b"\r\n\r\n", 431),
            (b"GET /healthz HTTP/1.1\r\n" + b"X: y\r\n" * 5000 + b"\r\n", 431),
            (b"GET /v1/lookup?number=" + b"9" * 12000 + b" HTTP/1.1\r\nHost: x\r\n\r\n", 414),
            (b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nContent-Length: 999999999999\r\n\r\n",
             413),
            (post_json(b"[" * 100000 + b"]" * 100000), 400),
            (post_json(b"{" * 100000), 400),
            (post_json(b'["\xc0\xaf"]'), 400),
            (post_json(b'["\\ud800"]'), 400),
            (post_json(b'["139"] ["139"]'), 400),
            (post_json(b'[' + b'"1",' * 1000 + b']'), 400),
            (post_json(b'\xef\xbb\xbf[]\x00'), 400),
            (b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 400),
            # Framings by which one request hides another behind a proxy: each is refused and the
            # connection closed, so the hidden request is never answered.
            *[(b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\n" + framing + b"\r\n" + SMUGGLED, 400) for framing in (
                b"Transfer-Encoding: xchunked\r\n",
                b"Transfer-Encoding: chunked, identity\r\n",
                b"Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n",
                b"Transfer-Encoding: identity\r\n chunked\r\n",
                b"Transfer-Encoding : chunked\r\n",
                b"Transfer-Encoding: chunked\r\nContent-Length: %d\r\n" % len(SMUGGLED))],
            (b"GET /healthz HTTP/1.1\r\nX-A: a\r\n folded\r\n\r\n", 400),
            (b"GET /healthz HTTP/1.1\r\n\r\n", 400),  # no Host
        ]
        for request, status in cases:
            reply = exchange(self.port, request, shut=False)
            self.assertEqual(status_of(reply), status, request[:60])
            body = reply.split(b"\r\n\r\n", 1)[1]
            self.assertIn("error", json.loads(body.decode("utf-8")))
        self.assertStillAnswers()

    def test_invalid_utf8_in_a_number_is_answered_as_valid_json(self):
        for query in (b"%FF%FE%C0%AF", b"\xff\xfe", b"%ED%A0%80139", b"%00%0A"):
            reply = exchange(self.port, b"GET /v1/lookup?number=" + query + b" HTTP/1.1\r\nHost: x\r\n"
                             b"Connection: close\r\n\r\n")
            self.assertEqual(status_of(reply), 200, query)
            answer = json.loads(reply.split(b"\r\n\r\n", 1)[1].decode("utf-8"))
            self.assertFalse(answer["found"])
        status, _, body = self.service.request("POST", "/v1/lookup", b"\xff\xfe\n139\x00\n",
                                               {"Content-Type": "text/plain"})
        self.assertEqual((status, len(body)), (200, 2))
        self.assertStillAnswers()

    def test_requests_cut_off_midway_and_slow_clients_are_dropped(self):
        cut = [
            b"GET /v1/look",
            b"GET /v1/lookup?number=139 HTTP/1.1\r\nHost: a",
            b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n[\"139",
            b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n[\"13",
        ]
        for request in cut:
            self.assertEqual(exchange(self.port, request, shut=True), b"", request)
        # Nothing more comes: the connection is closed once the timeout passes.
        started = time.monotonic()
        self.assertEqual(exchange(self.port, b"GET /healthz HTTP/1.1\r\n", wait=TIMEOUT + 5), b"")
        self.assertLess(time.monotonic() - started, TIMEOUT + 4)
        self.assertStillAnswers()

    def test_many_idle_connections_neither_lock_it_up_for_good_nor_grow_it(self):
        idle = []
        try:
            for _ in range(300):
                idle.append(socket.create_connection(("127.0.0.1", self.port), timeout=5))
            # Past the cap of 64, connections are closed at once; the others
            # when the timeout passes. Then it answers again.
            time.sleep(TIMEOUT + 1.5)
            self.assertStillAnswers()
            closed = 0
            for s in idle:
                s.settimeout(0.5)
                try:
                    closed += s.recv(1) == b""
                except (ConnectionResetError, socket.timeout):
                    closed += 1
            self.assertEqual(closed, len(idle))
        finally:
            for s in idle:
                s.close()

    def test_pipelined_requests_are_answered_in_order(self):
        reply = exchange(self.port, b"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\nGET /v1/lookup?number=13912345678 HTTP/1.1\r\n"
                         b"Host: x\r\nConnection: close\r\n\r\n")
        self.assertEqual(reply.count(b"HTTP/1.1 200 OK"), 2)
        self.assertTrue(reply.endswith("江苏省常州市\",\"type\":\"中国移动\",\"province\":\"江苏省\",\"city\":\"常州市\","
                                       "\"areaCode\":\"0519\"}".encode("utf-8")))


if __name__ == "__main__":
    VNLT, DAT = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
