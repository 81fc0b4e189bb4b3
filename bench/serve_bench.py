#!/usr/bin/python3
"""vnlt serve beside nginx on loopback, in one run: single lookups of random
real numbers over 64 keep-alive connections (wrk -t1 -c64), the service on
one thread beside nginx with one worker serving a fixed 200 reply of the
same size; the rate with the default threads; one POST of 1,000,000
numbers; resident memory idle and under load.

Usage: serve_bench.py VNLT DAT [SECONDS]
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


def serve(port, *extra):
    process = subprocess.Popen([vnlt, "--dat", dat, "serve", "--listen", "127.0.0.1:%d" % port, *extra],
                               stderr=subprocess.DEVNULL)
    wait_for(port)
    return process


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
        batch = os.path.join(work, "batch.json")
        with open(batch, "w") as f:
            json.dump(real_numbers(work, 1000000), f)
        times = []

        for _ in range(3):
            out = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{time_total} %{http_code}", "-H",
                                  "Content-Type: application/json", "--data-binary", "@" + batch,
                                  "http://127.0.0.1:%d/v1/lookup" % port], capture_output=True, text=True,
                                 check=True).stdout.split()
            assert out[1] == "200", out
            times.append(float(out[0]))
        time.sleep(0.5)  # the last reply is written and its memory given back
        peak = int(re.search(r"VmHWM:\s+(\d+)", open("/proc/%d/status" % service.pid).read()).group(1))
        after = rss_kb(service.pid)
    finally:
        service.terminate()
        service.wait()

print("reply of %d bytes, wrk -t1 -c64 for %d s, %d processors" % (len(sample), seconds, os.cpu_count()))
print("%-44s %12s %9s %9s" % ("", "requests/s", "p50", "p99"))
print("%-44s %12.0f %7.2fms %7.2fms" % ("nginx, 1 worker, fixed reply", n_rate, n50, n99))
print("%-44s %12.0f %7.2fms %7.2fms" % ("vnlt serve --threads 1, random numbers", s_rate, s50, s99))
print("%-44s %12.0f %7.2fms %7.2fms" % ("vnlt serve, default threads", d_rate, d50, d99))
ratio = s_rate / n_rate
print("service / nginx: %.2f (goal at least 0.6: %s)" % (ratio, "met" if ratio >= 0.6 else "MISSED"))
best = min(times)
print("POST of 1,000,000 numbers: best of 3 %.3f s, %.2f M numbers/s (goal 5: %s)"
      % (best, 1 / best, "met" if 1 / best >= 5 else "MISSED"))
print("resident memory: idle %.1f MB, under wrk %.1f MB, peak with the batch %.1f MB, after it %.1f MB"
      % (idle / 1024, loaded / 1024, peak / 1024, after / 1024))
