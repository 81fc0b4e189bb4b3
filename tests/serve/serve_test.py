#!/usr/bin/python3
# vnlt serve end to end on loopback ports: the table of exchanges, written
# numbers alone and in streamed batches, idle crowds, reloads, running out of
# descriptors, and (class Limits, for plain builds) memory, latency and stop
# under load. Each case is bounded in size and time.
#
# Usage: serve_test.py VNLT DAT [CLASS...]
import concurrent.futures
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from urllib.parse import quote

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from service import Service, body_of, exchanges, read_all  # noqa: E402
import tables  # noqa: E402

VNLT = DAT = None
TIMEOUT = 2  # the shared service's --timeout in seconds
MIB = 1 << 20


def start(test, *extra, dat=None, files=None):
    """A service that must stop with exit code 0 once `test` is done."""
    service = Service(VNLT, dat or DAT, *extra, files=files)
    test.addCleanup(lambda: test.assertEqual(service.stop(), 0))
    return service


def post(body):
    return b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n%s" % (len(body), body)


def batch(count):
    return post(b"".join(b"139%08d\n" % i for i in range(count)))


class Served(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Two threads for batches: pieces made out of order, sent in order. No cap per address (0).
        cls.service = Service(VNLT, DAT, "--threads", "2", "--timeout", str(TIMEOUT), "--max-connections", "64",
                              "--max-per-address", "0", "--access-log")

    @classmethod
    def tearDownClass(cls):
        assert cls.service.stop() == 0

    def test_exchanges(self):
        for request, statuses, texts in exchanges():
            with self.subTest(request[:80]):
                reply = self.service.exchange(request)
                got = [m.group(1).decode() for m in re.finditer(rb"HTTP/1\.1 (\d{3}) ", reply)]
                self.assertEqual(" ".join(got) or "-", statuses, reply[:300])
                at = 0
                for text in texts:
                    at = reply.find(text, at)
                    self.assertGreaterEqual(at, 0, (text, reply[:1000]))
                if b"Content-Type: application/json" in reply:
                    answer = json.loads(body_of(reply).decode("utf-8"))
                    self.assertTrue(got[-1] < "400" or list(answer) == ["error"], answer)
        self.service.wait_for_log(r"access: GET /healthz 200 \d+ bytes \d+ us")

    def test_written_numbers_alone_and_streamed_in_batches(self):
        rows = [row for row in tables.rows() if tables.served(row)]
        texts = [row.text for row in rows]
        query = subprocess.run([VNLT, "--dat", DAT, "query", "--format", "jsonl"], stdout=subprocess.PIPE,
                               input="".join(text + "\n" for text in texts).encode("utf-8"))
        expected = [json.loads(line) for line in query.stdout.decode("utf-8").splitlines()]
        for row, answer in zip(rows, expected, strict=True):
            status, body = self.service.request("/v1/lookup?x=1&number=" + quote(row.text))
            self.assertEqual((status, body), (200, answer), row.text)
            self.assertEqual((body["status"], body["key"], body["area"], body["type"]), row[1:], row.text)
        # Some 19 pieces: a seam that drops or repeats an answer shows.
        numbers = texts * 200
        for body, media_type in ((json.dumps(numbers), "application/json"),
                                 ("".join(n + "\r\n" for n in numbers), "text/plain; charset=utf-8")):
            reply = self.service.request("/v1/lookup", body.encode("utf-8"), media_type)
            self.assertEqual(reply, (200, expected * 200), media_type)

    def test_a_request_has_the_timeout_from_its_first_byte_and_a_cut_is_logged(self):
        head = b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Length: 12\r\n\r\n"
        with self.service.connect() as s:
            time.sleep(TIMEOUT * 0.75)
            s.sendall(head + b"139123")
            time.sleep(TIMEOUT * 0.5)
            s.sendall(b"45678\n")
            self.assertEqual(len(json.loads(body_of(read_all(s)))), 1)
        with self.service.connect() as s:
            s.sendall(head)
            self.assertEqual(read_all(s), b"")
        self.service.wait_for_log(r"cut a request from 127\.0\.0\.1 before its body was whole: --timeout 2 s")

    def test_stalled_batch_heads_hold_no_batch_memory(self):
        for i in range(48):
            s = self.enterContext(self.service.connect())
            s.sendall(b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\n%s\r\n\r\n"
                      % (b"Content-Length: 12" if i % 6 else b"Transfer-Encoding: chunked"))
        time.sleep(0.2)
        self.assertEqual(self.service.request("/v1/lookup", b"13912345678")[0], 200)

    def test_idle_and_half_sent_requests_are_closed_at_the_timeout(self):
        held = [self.enterContext(self.service.connect()) for _ in range(300)]
        for s in held[:8]:
            s.sendall(b"GET /healthz HTTP/1.1\r\n")
        # Past the cap of 64 they are closed at once, the others once the timeout passes.
        time.sleep(TIMEOUT + 1.5)
        self.assertEqual(self.service.request("/healthz")[0], 200)
        for s in held:
            s.settimeout(0.5)
            self.assertEqual(read_all(s), b"")


class Journey(unittest.TestCase):
    def test_lookups_a_changed_and_a_damaged_file_reloaded(self):
        work = self.enterContext(tempfile.TemporaryDirectory())
        dat, changed = os.path.join(work, "Varnolt.dat"), os.path.join(work, "changed.dat")
        shutil.copyfile(DAT, dat)
        # One thread: each connection's handlers run on it as they come, with no strand.
        service = start(self, "--threads", "1", dat=dat)

        def answered():
            single = service.request("/v1/lookup?number=13912345678")[1]
            self.assertEqual(service.request("/v1/lookup", b"13912345678")[1], [single])
            return single["area"], single["type"], single["province"]

        self.assertEqual(answered(), ("江苏省常州市", "中国移动", "江苏省"))
        shutil.copyfile(DAT, changed)
        subprocess.run([VNLT, "--dat", changed, "add", "1391234", "测试省测试市", "测试类型"], check=True,
                       stderr=subprocess.DEVNULL)
        os.replace(changed, dat)
        service.process.send_signal(signal.SIGHUP)
        service.wait_for_log("reloaded")
        self.assertEqual(answered(), ("测试省测试市", "测试类型", "测试省"))
        # A damaged file is refused; the one in hand stays.
        with open(dat, "r+b") as damaged:
            damaged.truncate(1000)
        service.process.send_signal(signal.SIGHUP)
        service.wait_for_log("reload failed")
        self.assertEqual(service.request("/v1/lookup?number=13912345678")[1]["area"], "测试省测试市")

    def test_out_of_descriptors_it_pauses_and_recovers(self):
        if os.environ.get("VARNOLT_SANITIZED"):
            self.skipTest("the sanitizers' runtime needs descriptors of its own")
        # The soft limit is raised for the connection cap, as far as the hard one allows.
        service = start(self, "--max-connections", "64", files=(24, 4096))
        with open("/proc/%d/limits" % service.process.pid) as limits:
            self.assertRegex(limits.read(), r"Max open files\s+128\s+4096")
        service = start(self, "--threads", "2", "--max-connections", "64", files=(24, 24))
        held = [service.connect() for _ in range(40)]
        service.wait_for_log("accept: Too many open files")
        time.sleep(1)
        # Once, not once per retry: a busy loop would write thousands.
        self.assertEqual(service.log_count("accept:"), 1)
        # A reload out of descriptors says so, rather than blaming the file.
        service.process.send_signal(signal.SIGHUP)
        service.wait_for_log(r"reload failed: .*\(result 2: Too many open files\)")
        for s in held:
            s.close()
        self.assertEqual(service.request("/healthz")[0], 200)
        service.wait_for_log("accepting again")

    def test_one_address_cannot_take_every_connection_and_idle_ones_give_way_to_a_health_check(self):
        service = start(self, "--max-connections", "16", "--max-per-address", "8")
        # Two proxies' pools of kept, idle connections fill the cap; the first asks for eight more.
        for s in [self.enterContext(service.connect(source)) for source in ["127.0.0.1"] * 8 + ["127.0.0.3"] * 8]:
            s.sendall(b"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n")
            self.assertTrue(s.recv(4096).startswith(b"HTTP/1.1 200 "))
        for _ in range(8):
            self.enterContext(service.connect("127.0.0.1"))
        metrics = service.exchange(b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "127.0.0.2")
        self.assertTrue(metrics.startswith(b"HTTP/1.1 200 "), metrics)
        self.assertIn(b"\nvnlt_connections_idle_closed_total 1\n", metrics)
        self.assertIn(b'vnlt_connections_refused_total{cap="address"} 8\n', metrics)
        # Eight refusals within a second make one log line.
        service.wait_for_log("refused a connection from 127.0.0.1: --max-per-address 8 reached")
        self.assertEqual(service.log_count("refused a connection"), 1)


class Limits(unittest.TestCase):
    def test_a_body_of_control_characters_from_a_client_that_does_not_read_stays_in_its_budget(self):
        service = start(self, "--threads", "2", "--batch-memory", "48")
        service.request("/healthz")
        idle_peak = service.peak_memory(reset=True)
        # 18 MB of body whose answers escape every byte: a 150 MB reply.
        body = (b"\x01" * 60 + b"\n") * 300000
        with service.connect() as idle:
            idle.sendall(post(body))
            time.sleep(2)
            self.assertLess(service.peak_memory(), idle_peak + len(body) + 16 * MIB)
            # Its share of the budget is taken: a second such body waits, then is asked to come back.
            reply = service.exchange(b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n"
                                     b"Expect: 100-continue\r\n\r\n" % (40 * MIB))
            self.assertTrue(reply.startswith(b"HTTP/1.1 503 ") and b"\r\nRetry-After: 1\r\n" in reply, reply)
        self.assertEqual(service.request("/v1/lookup?number=13912345678")[0], 200)

    def test_healthz_stays_fast_while_four_large_batches_run(self):
        service = start(self, "--threads", "2")
        body = batch(1000000)
        slowest = 0
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            sizes = [pool.submit(service.exchange, body, keep=False) for _ in range(4)]
            while not all(size.done() for size in sizes):
                started = time.monotonic()
                self.assertEqual(service.request("/healthz")[0], 200)
                slowest = max(slowest, time.monotonic() - started)
                time.sleep(0.01)
        self.assertTrue(all(size.result() > 150 * MIB for size in sizes))
        self.assertLess(slowest, 0.25)

    def test_a_slow_reader_receives_the_whole_reply(self):
        service = start(self, "--threads", "2", "--timeout", "1")
        started = time.monotonic()
        reply = service.exchange(batch(60000), receive_buffer=32768, pause=0.003)
        # Longer than the timeout, and never cut.
        self.assertGreater(time.monotonic() - started, 1.5)
        self.assertEqual(len(json.loads(body_of(reply))), 60000)

    def test_sigterm_lets_a_batch_in_flight_finish_and_then_exits(self):
        service = start(self, "--threads", "2", "--drain", "10")
        with service.connect(receive_buffer=65536) as s:
            s.sendall(batch(200000))
            first = s.recv(64)
            self.assertTrue(first.startswith(b"HTTP/1.1 200 "))
            service.process.send_signal(signal.SIGTERM)
            service.wait_for_log("stopping on SIGTERM")
            self.assertEqual(len(json.loads(body_of(read_all(s, first)))), 200000)


if __name__ == "__main__":
    VNLT, DAT = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
