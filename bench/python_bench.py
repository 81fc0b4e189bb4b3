#!/usr/bin/python3
"""The Python package's speed beside python3-phonenumbers (parse, geocode and
carrier) on the same numbers, and the README's Dask recipe on two local
workers beside one. Usage: python_bench.py (with the package importable)."""
import ctypes
import os
import random
import tempfile
import time

import pandas as pd
import phonenumbers
from phonenumbers import carrier, geocoder

import varnolt


def numbers(count, seed=5):
    rng = random.Random(seed)
    made = []
    for _ in range(count):
        mobile = "1%02d%08d" % (rng.choice([30, 31, 32, 33, 35, 36, 37, 38, 39, 50, 51, 52, 57, 58, 59, 77, 80,
                                             81, 82, 86, 87, 88, 89, 98, 99]), rng.randint(0, 99999999))
        fixed = "0%d%d" % (rng.choice([10, 20, 21, 22, 23, 24, 25, 27, 28, 29, 311, 351, 371, 431, 451, 471, 531,
                                       551, 571, 591, 731, 755, 771, 791, 851, 871, 891, 931, 951, 991]),
                           rng.randint(20000000, 89999999))
        made.append(mobile if rng.random() < 0.8 else fixed)
    return made


def rate(count, run, repeat=3):
    best = min(timed(run) for _ in range(repeat))
    return count / best


def timed(run, clock=time.perf_counter):
    start = clock()
    run()
    return clock() - start


def cpu_rate(count, run, repeat=5):
    """In this process's processor time: the machine may be shared, and the
    figures beside the C API compare work, not waiting."""
    return count / min(timed(run, time.process_time) for _ in range(repeat))


def c_api_rate(million):
    """varnolt_lookup_many on the same numbers, from C: one call over texts
    made beforehand, through the libvarnolt the package has loaded."""
    lib = ctypes.CDLL("libvarnolt.so.1")
    handle = ctypes.c_void_p()
    if lib.varnolt_open(varnolt.Directory().path.encode(), ctypes.byref(handle)) != 0:
        raise OSError("varnolt_open failed")
    texts = (ctypes.c_char_p * len(million))(*(n.encode() for n in million))
    size = 8 + 5 * ctypes.sizeof(ctypes.c_void_p)
    answers = ctypes.create_string_buffer(size * len(million))
    lib.varnolt_lookup_many.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p,
                                        ctypes.c_size_t]
    r = cpu_rate(len(million), lambda: lib.varnolt_lookup_many(handle, texts, len(million), answers, size))
    lib.varnolt_close(handle)
    return r


def main():
    directory = varnolt.Directory()
    million = numbers(1_000_000)
    series = pd.Series(million)
    sample = million[:20_000]

    def libphonenumber():
        for n in sample:
            p = phonenumbers.parse(n, "CN")
            geocoder.description_for_number(p, "zh")
            carrier.name_for_number(p, "zh")

    def one_at_a_time():
        lookup = directory.lookup
        for n in million:
            lookup(n)

    baseline = rate(len(sample), libphonenumber, 1)
    c_api = c_api_rate(million)
    many = cpu_rate(len(million), lambda: directory.lookup_many(million))
    annotated = cpu_rate(len(million), lambda: directory.annotate(series))
    print("| beside the C API (varnolt_lookup_many, %.2f M/s), processor time | numbers/s | ratio | target |"
          % (c_api / 1e6))
    print("|---|---|---|---|")
    for what, r, target in (("lookup_many", many, 0.6), ("annotate", annotated, 0.8)):
        print("| %s | %.2f M | %.2fx | %gx %s |" % (what, r / 1e6, r / c_api, target,
                                                   "met" if r >= target * c_api else "MISSED"))
    print()
    rows = [("lookup(), one call at a time", rate(len(million), one_at_a_time), 1e6),
            ("lookup_many, 1,000,000 numbers", many, 5e6),
            ("annotate, a Series of 1,000,000", annotated, 5e6)]
    print("| figure | numbers/s | target | python3-phonenumbers parse + geocode + carrier | ratio | target |")
    print("|---|---|---|---|---|---|")
    for what, r, target in rows:
        print("| %s | %.2f M | %.0f M %s | %.0f | %.0fx | 100x %s |" % (
            what, r / 1e6, target / 1e6, "met" if r >= target else "MISSED", baseline, r / baseline,
            "met" if r >= 100 * baseline else "MISSED"))
    dask_workers()


def dask_workers():
    """The recipe's work on 10,000,000 rows in ten CSV files, on one local
    worker process and on two: the count of numbers by province."""
    import dask.dataframe as dd
    from distributed import Client, LocalCluster

    with tempfile.TemporaryDirectory() as work:
        rows = numbers(1_000_000, 9)
        for part in range(10):
            pd.DataFrame({"id": range(len(rows)), "phone": rows}).to_csv(
                os.path.join(work, "calls-%d.csv" % part), index=False)
        directory = varnolt.Directory()

        def annotate(part):
            return part.join(directory.annotate(part["phone"]))

        # A cluster keeps what it has computed: each time is a fresh cluster's first.
        seconds = {1: [], 2: []}
        for workers in (1, 2, 1, 2):
            with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True) as cluster, Client(cluster):
                calls = dd.read_csv(os.path.join(work, "calls-*.csv"), dtype={"phone": str}, blocksize="16MB")
                answered = calls.map_partitions(annotate, meta=annotate(calls._meta))
                seconds[workers].append(timed(lambda: answered["province"].value_counts().compute()))
        seconds = {workers: min(times) for workers, times in seconds.items()}
    speedup = seconds[1] / seconds[2]
    print("\n| Dask recipe, 10,000,000 rows | one worker | two workers | speed-up | target |")
    print("|---|---|---|---|---|")
    print("| count by province | %.1f s | %.1f s | %.2fx | 1.6x %s |" % (
        seconds[1], seconds[2], speedup, "met" if speedup >= 1.6 else "MISSED"))


if __name__ == "__main__":
    main()
