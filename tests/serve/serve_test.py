#!/usr/bin/python3
"""vnlt serve end to end on a loopback port: every endpoint and error, a
batch of 100,000 numbers against `vnlt query`, reloads of a changed and of a
damaged file, and SIGTERM.

Usage: serve_test.py VNLT DAT
"""
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from service import Service, random_numbers, unchunk  # noqa: E402
import written_numbers  # noqa: E402

VNLT = DAT = None
CHANGZHOU = {"number": "13912345678", "key": 1391234, "found": True, "status": "found", "area": "江苏省常州市", "type": "中国移动",
             "province": "江苏省", "city": "常州市", "areaCode": "0519"}


def query_jsonl(numbers, dat):
    text = "".join(n + "\n" for n in numbers)
    out = subprocess.run([VNLT, "--dat", dat, "query", "--format", "jsonl"], input=text.encode("utf-8"),
                         stdout=subprocess.PIPE).stdout.decode("utf-8")
    return [json.loads(line) for line in out.splitlines()]


class Endpoints(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Service(VNLT, DAT, "--threads", "2")

    @classmethod
    def tearDownClass(cls):
        assert cls.service.stop() == 0

    def test_single_lookups_answer_as_vnlt_query_does(self):
        s = self.service
        status, headers, body = s.request("GET", "/v1/lookup?number=13912345678")
        self.assertEqual((status, body), (200, CHANGZHOU))
        self.assertEqual(headers["Content-Type"], "application/json; charset=utf-8")
        rows = written_numbers.rows()
        written = [row.text for row in rows]
        expected = query_jsonl(written, DAT)
        # A form-encoded space: the query string of an HTML form.
        status, _, body = s.request("GET", "/v1/lookup?number=139+1234+5678")
        self.assertEqual((status, body), (200, query_jsonl(["139 1234 5678"], DAT)[0]))
        from urllib.parse import quote
        for row, answer in zip(rows, expected):
            status, _, body = s.request("GET", "/v1/lookup?x=1&number=" + quote(row.text))
            self.assertEqual((status, body), (200, answer), row.text)
            self.assertEqual((body["status"], body["key"], body["area"], body["type"]), row[1:], row.text)
        # Not found is still an answer.
        status, _, body = s.request("GET", "/v1/lookup?number=99")
        self.assertEqual((status, body["found"], body["area"]), (200, False, ""))

    def test_stats_and_health(self):
        status, _, body = self.service.request("GET", "/v1/stats")
        self.assertEqual(status, 200)
        self.assertEqual((body["numbers"], body["items"], body["file"]), (520864, 80790, DAT))
        self.assertRegex(body["dataVersion"], r"^\d{4}\.\d{1,2}\.\d{1,2}$")
        self.assertEqual(body["bytes"]["file"], os.path.getsize(DAT))
        self.assertEqual(self.service.request("GET", "/healthz")[::2], (200, {"status": "ok"}))

    def test_framing_by_the_standard_and_metrics(self):
        s = self.service
        # HEAD where GET is; a leading empty line; a media type in any case, with parameters.
        with socket.create_connection(("127.0.0.1", s.port), timeout=10) as c:
            c.sendall(b"\r\nHEAD /v1/lookup?number=13912345678 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            reply = b"".join(iter(lambda: c.recv(65536), b""))
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertTrue(reply.endswith(b"\r\n\r\n"))
        self.assertIn(b"Content-Length: 178\r\n", reply)
        status, _, body = s.request("POST", "/v1/lookup", b'["13912345678"]',
                                    {"Content-Type": "Application/JSON ; Charset=UTF-8"})
        self.assertEqual((status, body), (200, [CHANGZHOU]))
        connection = http.client.HTTPConnection("127.0.0.1", s.port, timeout=10)
        connection.request("GET", "/metrics")
        response = connection.getresponse()
        metrics = response.read().decode("utf-8")
        self.assertEqual(response.getheader("Content-Type"), "text/plain; version=0.0.4; charset=utf-8")
        for line in ('vnlt_requests_total{route="batch",status="200"} ', 'vnlt_request_duration_seconds_bucket{'
                     'route="lookup",le="+Inf"} ', "vnlt_numbers_answered_total ", "vnlt_batches_waiting 0",
                     "vnlt_connections_open ", 'vnlt_connections_refused_total{cap="total"} 0',
                     'vnlt_reloads_total{result="failed"} 0', 'vnlt_data_version_info{version="'):
            self.assertIn("\n" + line, metrics)

    def test_errors_are_json_with_a_reason(self):
        s = self.service
        cases = [
            ("GET", "/v1/lookup", None, {}, 400, "missing number"),
            ("GET", "/v1/lookup?number=%zz", None, {}, 400, "missing number"),
            ("GET", "/v1/lookup?number=" + "1" * 101, None, {}, 400, "longer than 100"),
            *[("POST", "/v1/lookup", b'["139", ' + value + b']', {"Content-Type": "application/json"}, 400,
               "array of strings") for value in (b"1", b"-1", b"1.5", b"null", b"true", b"[]")],
            ("POST", "/v1/lookup", b'["139"', {"Content-Type": "application/json"}, 400, "malformed JSON"),
            ("POST", "/v1/lookup", b'{"a":1}', {"Content-Type": "application/json"}, 400, "array of strings"),
            ("POST", "/v1/lookup", b'["\xff"]', {"Content-Type": "application/json"}, 400, "malformed JSON"),
            ("POST", "/v1/lookup", b'["' + b"1" * 101 + b'"]', {"Content-Type": "application/json"}, 400,
             "longer than 100 bytes at number 1"),
            ("POST", "/v1/lookup", b"1\n" + b"2" * 101, {"Content-Type": "text/plain"}, 400, "at number 2"),
            ("POST", "/v1/lookup", b"<a/>", {"Content-Type": "application/xml"}, 415, "application/json"),
            ("GET", "/v2/lookup", None, {}, 404, "no such path"),
            ("DELETE", "/v1/lookup", None, {}, 405, "GET or POST"),
            ("POST", "/healthz", b"", {}, 405, "GET"),
            ("PUT", "/v1/stats", b"", {}, 405, "GET"),
            ("GET", "/v1/lookup?number=" + "1" * 9000, None, {}, 414, "URL"),
            ("GET", "/healthz", None, {"X-Big": "x" * 20000}, 431, "headers"),
        ]
        for method, path, body, headers, status, reason in cases:
            got, _, answer = s.request(method, path, body, headers)
            self.assertEqual(got, status, (method, path[:40]))
            self.assertEqual(list(answer), ["error"])
            self.assertIn(reason, answer["error"])
            self.assertNotIn("\n", answer["error"])
        # A million and one numbers is over the batch limit.
        got, _, answer = s.request("POST", "/v1/lookup", b"1\n" * 1000001, {"Content-Type": "text/plain"})
        self.assertEqual(got, 413)

    def test_a_batch_of_100000_numbers_equals_vnlt_query(self):
        numbers = random_numbers(100000, 14)
        expected = query_jsonl(numbers, DAT)
        self.assertEqual(len(expected), len(numbers))
        status, _, body = self.service.request("POST", "/v1/lookup", json.dumps(numbers).encode("utf-8"),
                                               {"Content-Type": "application/json"})
        self.assertEqual(status, 200)
        self.assertEqual(body, expected)
        text = "".join(n + "\r\n" for n in numbers).encode("utf-8")
        status, _, body = self.service.request("POST", "/v1/lookup", text, {"Content-Type": "text/plain; charset=utf-8"})
        self.assertEqual((status, body), (200, expected))
        status, _, body = self.service.request("POST", "/v1/lookup", b"[]", {"Content-Type": "application/json"})
        self.assertEqual((status, body), (200, []))


class Running(unittest.TestCase):
    def test_one_thread_an_access_log_and_100_continue(self):
        service = Service(VNLT, DAT, "--threads", "1", "--access-log")
        try:
            self.assertEqual(service.request("GET", "/healthz")[0], 200)
            self.assertRegex(service.wait_for_log("access: GET"), r"access: GET /healthz 200 \d+ bytes \d+ us")
            # curl's way with a large body: the headers, then the body once asked for it.
            with socket.create_connection(("127.0.0.1", service.port), timeout=10) as s:
                s.sendall(b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                          b"Content-Length: 15\r\nExpect: 100-continue\r\n\r\n")
                self.assertTrue(s.recv(4096).startswith(b"HTTP/1.1 100 Continue\r\n"))
                s.sendall(b'["13912345678"]')
                reply = b""
                while not reply.endswith(b"\r\n0\r\n\r\n"):
                    reply += s.recv(65536)
                self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n"))
                self.assertEqual(json.loads(unchunk(reply.split(b"\r\n\r\n", 1)[1])), [CHANGZHOU])
        finally:
            self.assertEqual(service.stop(), 0)

    def test_out_of_descriptors_it_pauses_and_recovers(self):
        if os.environ.get("VARNOLT_SANITIZED"):
            self.skipTest("the sanitizers' runtime needs descriptors of its own")
        # The soft limit is raised for the connection cap, as far as the hard one allows.
        service = Service(VNLT, DAT, "--threads", "2", "--max-connections", "64", files=(24, 4096))
        try:
            with open("/proc/%d/limits" % service.process.pid) as limits:
                self.assertRegex(limits.read(), r"Max open files\s+128\s+4096")
        finally:
            self.assertEqual(service.stop(), 0)

        service = Service(VNLT, DAT, "--threads", "2", "--max-connections", "64", files=(24, 24))
        try:
            held = [socket.create_connection(("127.0.0.1", service.port)) for _ in range(40)]
            service.wait_for_log("accept: Too many open files")
            time.sleep(1)
            # Once, not once per retry: a busy loop would write thousands.
            self.assertEqual(service.log_count("accept:"), 1)
            # A reload out of descriptors says so, rather than blaming the file.
            service.signal(signal.SIGHUP)
            service.wait_for_log(r"reload failed: .*\(result 2: Too many open files\)")
            for s in held:
                s.close()
            self.assertEqual(service.request("GET", "/healthz")[0], 200)
            service.wait_for_log("accepting again")
        finally:
            self.assertEqual(service.stop(), 0)

    def test_a_bad_listen_address_stops_the_start(self):
        for listen in ("8080", "localhost:8080", "127.0.0.1:65536", "[::1]:"):
            run = subprocess.run([VNLT, "--dat", DAT, "serve", "--listen", listen], stderr=subprocess.PIPE, timeout=10)
            self.assertEqual(run.returncode, 2, listen)
            self.assertIn(b"--listen wants ADDRESS:PORT", run.stderr)


class Reload(unittest.TestCase):
    def test_sighup_swaps_a_changed_file_in_and_keeps_the_old_for_a_damaged_one(self):
        with tempfile.TemporaryDirectory() as work:
            dat = os.path.join(work, "Varnolt.dat")
            shutil.copyfile(DAT, dat)
            service = Service(VNLT, dat, "--threads", "2")
            try:
                self.assertEqual(service.request("GET", "/v1/lookup?number=13912345678")[2]["area"], "江苏省常州市")
                changed = os.path.join(work, "changed.dat")
                shutil.copyfile(DAT, changed)
                subprocess.run([VNLT, "--dat", changed, "add", "1391234", "测试省测试市", "测试类型"], check=True,
                               stderr=subprocess.DEVNULL)
                os.replace(changed, dat)
                service.signal(signal.SIGHUP)
                service.wait_for_log("reloaded")
                answer = service.request("GET", "/v1/lookup?number=13912345678")[2]
                self.assertEqual((answer["area"], answer["type"], answer["province"]),
                                 ("测试省测试市", "测试类型", "测试省"))

                with open(dat, "r+b") as damaged:
                    damaged.truncate(1000)
                service.signal(signal.SIGHUP)
                service.wait_for_log("reload failed")
                answer = service.request("GET", "/v1/lookup?number=13912345678")[2]
                self.assertEqual(answer["area"], "测试省测试市")
                self.assertEqual(service.request("GET", "/healthz")[0], 200)
            finally:
                self.assertEqual(service.stop(), 0)
            self.assertTrue(service.wait_for_log("stopping on SIGTERM"))

    def test_a_file_that_does_not_load_stops_the_start(self):
        with tempfile.NamedTemporaryFile() as garbage:
            garbage.write(b"not a directory")
            garbage.flush()
            run = subprocess.run([VNLT, "--dat", garbage.name, "serve", "--listen", "127.0.0.1:0"],
                                 stderr=subprocess.PIPE, timeout=10)
            self.assertEqual(run.returncode, 2)
            self.assertIn(b"not a directory file", run.stderr)


if __name__ == "__main__":
    VNLT, DAT = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
