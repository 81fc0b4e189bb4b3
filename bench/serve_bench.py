#!/usr/bin/python3
"""vnlt serve beside nginx on loopback, in one run: single lookups of random
real numbers over 64 keep-alive connections (wrk -t1 -c64), the service on
one thread beside nginx with one worker serving a fixed 200 reply of the
same size; the rate with the default threads; resident memory idle and under
load; and batches: one POST of 1,000,000 numbers with curl and the peak
memory during it, ten at once, /healthz p99 while four run, and ten bodies
of control characters from clients that do not read. BASELINE, an earlier
vnlt, is put through the same batches beside it (all but the last, which
would hold gigabytes there).

Usage: serve_bench.py VNLT DAT [SECONDS [BASELINE]]
"""
import json
import os
import random
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

vnlt, dat = sys.argv[1], sys.argv[2]
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 10
baseline = sys.argv[4] if len(sys.argv) > 4 else None
BUDGET_MB = 256  # the default --batch-memory


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(port):
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise SystemExit("nothing listens on port %d" % port)


def rss_kb(pid):
    status = open("/proc/%d/status" % pid).read()
    return int(re.search(r"VmRSS:\s+(\d+)", status).group(1))


def real_numbers(work, count):
    """Numbers of mobile keys the directory holds, with random subscriber digits."""
    path = os.path.join(work, "export.txt")
    subprocess.run([vnlt, "--dat", dat, "export", path], check=True)
    keys = [int(line.split("\t")[0]) for line in open(path, encoding="utf-16").read().lstrip("\ufeff").splitlines()]
    mobile = [k for k in keys if k >= 1300000]
    rng = random.Random(14)
    return ["%d%04d" % (rng.choice(mobile), rng.randrange(10000)) for _ in range(count)]


def wrk(port, script=None, sample_pid=None):
    """(requests a second, p50 ms, p99 ms, peak RSS kB of sample_pid)."""
    command = ["wrk", "-t1", "-c64", "-d%ds" % seconds, "--latency"]
    if script:
        command += ["-s", script]
    peak = [0]
    done = threading.Event()

    def sample():
        while not done.wait(0.2):
            peak[0] = max(peak[0], rss_kb(sample_pid))

    if sample_pid:
        threading.Thread(target=sample, daemon=True).start()
    out = subprocess.run(command + ["http://127.0.0.1:%d/" % port], capture_output=True, text=True,
                         check=True).stdout
    done.set()

    def ms(label):
        value, unit = re.search(r"%s\s+([\d.]+)(us|ms|s)" % label, out).groups()
        return float(value) * {"us": 1e-3, "ms": 1, "s": 1e3}[unit]

    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    return rate, ms("50%"), ms("99%"), peak[0]


def serve(port, *extra, program=None):
    process = subprocess.Popen([program or vnlt, "--dat", dat, "serve", "--listen", "127.0.0.1:%d" % port, *extra],
                               stderr=subprocess.DEVNULL)
    wait_for(port)
    return process


def peak_mb(pid, reset=False):
    """Peak resident memory since the start or the last reset, in MB."""
    peak = int(re.search(r"VmHWM:\s+(\d+)", open("/proc/%d/status" % pid).read()).group(1)) / 1024
    if reset:
        with open("/proc/%d/clear_refs" % pid, "w") as refs:
            refs.write("5")
    return peak


def curl_post(port, batch):
    return subprocess.Popen(["curl", "-s", "-o", "/dev/null", "-w", "%{time_total} %{http_code}", "-H",
                             "Content-Type: application/json", "--data-binary", "@" + batch,
                             "http://127.0.0.1:%d/v1/lookup" % port], stdout=subprocess.PIPE, text=True)


def healthz_ms(port):
    started = time.monotonic()
    with urllib.request.urlopen("http://127.0.0.1:%d/healthz" % port, timeout=30) as reply:
        reply.read()
    return (time.monotonic() - started) * 1000


def batch_figures(program, batch, worst_case):
    """Seconds of the best of three POSTs and the peak MB during them; the
    peak of ten at once and whether all were answered; /healthz p99 ms
    while four run; and, when `worst_case`, the peak while ten clients send
    bodies of control characters and do not read, and whether /healthz was
    answered meanwhile."""
    figures = {}
    port = free_port()
    service = serve(port, program=program)
    try:
        peak_mb(service.pid, reset=True)
        times = []
        for _ in range(3):
            out = curl_post(port, batch).communicate()[0].split()
            assert out[1] == "200", out
            times.append(float(out[0]))
        figures["one"] = min(times), peak_mb(service.pid, reset=True)
        ten = [curl_post(port, batch) for _ in range(10)]
        codes = [p.communicate()[0].split()[1] for p in ten]
        figures["ten"] = peak_mb(service.pid, reset=True), codes.count("200")
        four = [curl_post(port, batch) for _ in range(4)]
        samples = []
        while any(p.poll() is None for p in four) or len(samples) < 20:
            samples.append(healthz_ms(port))
            time.sleep(0.01)
        for p in four:
            p.communicate()
        samples.sort()
        figures["healthz"] = samples[int(len(samples) * 0.99)], len(samples)
        if worst_case:
            body = (b"\x01" * 60 + b"\n") * 1000000
            head = b"POST /v1/lookup HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n"
            clients = []

            def send():
                s = socket.create_connection(("127.0.0.1", port))
                clients.append(s)
                try:
                    s.sendall(head % len(body) + body)
                except OSError:
                    pass  # refused with 503 and closed

            senders = [threading.Thread(target=send) for _ in range(10)]
            for t in senders:
                t.start()
            for t in senders:
                t.join(timeout=60)
            time.sleep(2)
            answered = healthz_ms(port) < 1000
            figures["worst"] = peak_mb(service.pid), answered
            for s in clients:
                s.close()
    finally:
        service.terminate()
        service.wait()
    return figures


with tempfile.TemporaryDirectory() as work:
    numbers = real_numbers(work, 10000)
    script = os.path.join(work, "numbers.lua")
    with open(script, "w") as f:
        f.write("local numbers = {%s}\n" % ",".join('"%s"' % n for n in numbers))
        f.write("request = function()\n  return wrk.format('GET', '/v1/lookup?number=' .. "
                "numbers[math.random(#numbers)])\nend\n")

    port = free_port()
    service = serve(port, "--threads", "1")
    sample = urllib.request.urlopen("http://127.0.0.1:%d/v1/lookup?number=%s" % (port, numbers[0])).read()
    idle = rss_kb(service.pid)

    # nginx, one worker, a fixed reply as long as one answer.
    nginx_port = free_port()
    body = "x" * len(sample)
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write("worker_processes 1; daemon off; pid %s/nginx.pid; error_log %s/error.log;\n" % (work, work))
        f.write("events { worker_connections 1024; }\n")
        f.write("http { access_log off; client_body_temp_path %s; proxy_temp_path %s; fastcgi_temp_path %s; "
                "uwsgi_temp_path %s; scgi_temp_path %s;\n" % ((work,) * 5))
        f.write("  server { listen 127.0.0.1:%d; location / { default_type application/json; return 200 '%s'; } } }\n"
                % (nginx_port, body))
    nginx = subprocess.Popen(["/usr/sbin/nginx", "-c", conf, "-p", work], stderr=subprocess.DEVNULL)
    wait_for(nginx_port)
    try:
        n_rate, n50, n99, _ = wrk(nginx_port)
        s_rate, s50, s99, loaded = wrk(port, script, service.pid)
    finally:
        nginx.terminate()
        nginx.wait()
        service.terminate()
        service.wait()

    port = free_port()
    service = serve(port)
    try:
        d_rate, d50, d99, _ = wrk(port, script)
    finally:
        service.terminate()
        service.wait()
    if baseline:
        port = free_port()
        service = serve(port, "--threads", "1", program=baseline)
        try:
            b_rate, b50, b99, _ = wrk(port, script)
        finally:
            service.terminate()
            service.wait()
    batch = os.path.join(work, "batch.json")
    with open(batch, "w") as f:
        json.dump(real_numbers(work, 1000000), f)
    ours = batch_figures(vnlt, batch, True)
    theirs = batch_figures(baseline, batch, False) if baseline else None

print("reply of %d bytes, wrk -t1 -c64 for %d s, %d processors" % (len(sample), seconds, os.cpu_count()))
print("%-44s %12s %9s %9s" % ("", "requests/s", "p50", "p99"))
print("%-44s %12.0f %7.2fms %7.2fms" % ("nginx, 1 worker, fixed reply", n_rate, n50, n99))
print("%-44s %12.0f %7.2fms %7.2fms" % ("vnlt serve --threads 1, random numbers", s_rate, s50, s99))
print("%-44s %12.0f %7.2fms %7.2fms" % ("vnlt serve, default threads", d_rate, d50, d99))
if baseline:
    print("%-44s %12.0f %7.2fms %7.2fms" % ("baseline --threads 1, random numbers", b_rate, b50, b99))
ratio = s_rate / n_rate
print("service / nginx: %.2f (goal at least 0.8: %s)" % (ratio, "met" if ratio >= 0.8 else "MISSED"))
print("%-44s %12s %12s" % ("batches of 1,000,000 numbers", "this build", "baseline" if theirs else ""))


def row(label, key, form):
    print("%-44s %12s %12s" % (label, form(ours[key]), form(theirs[key]) if theirs else ""))


row("one POST with curl, best of 3: M numbers/s", "one", lambda f: "%.2f" % (1 / f[0]))
row("  peak resident memory, MB", "one", lambda f: "%.0f" % f[1])
row("ten at once: peak MB, answered", "ten", lambda f: "%.0f, %d" % f)
row("/healthz p99 ms while four run (samples)", "healthz", lambda f: "%.1f (%d)" % f)
print("%-44s %12s" % ("ten control-character bodies, not read: peak MB", "%.0f" % ours["worst"][0]))
print("goals: one POST >= 4 M numbers/s (%s), peak <= 64 MB (%s); ten at once and ten worst-case bodies peak "
      "<= %d MB (%s, %s) with /healthz answered (%s); /healthz p99 <= 20 ms (%s)" % (
          "met" if 1 / ours["one"][0] >= 4 else "MISSED", "met" if ours["one"][1] <= 64 else "MISSED",
          BUDGET_MB + 64, "met" if ours["ten"][0] <= BUDGET_MB + 64 else "MISSED",
          "met" if ours["worst"][0] <= BUDGET_MB + 64 else "MISSED", "met" if ours["worst"][1] else "MISSED",
          "met" if ours["healthz"][0] <= 20 else "MISSED"))
print("resident memory: idle %.1f MB, under wrk %.1f MB" % (idle / 1024, loaded / 1024))
