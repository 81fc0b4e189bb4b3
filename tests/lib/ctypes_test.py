#!/usr/bin/python3
"""libvarnolt from another language, through its C ABI (ctypes): every row
of the written-numbers table and 20,000 numbers answered as `vnlt query
--format jsonl` answers them.

Usage: ctypes_test.py LIBVARNOLT VNLT DAT
"""
import ctypes
import json
import os
import random
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import written_numbers  # noqa: E402


class Answer(ctypes.Structure):
    _fields_ = [("status", ctypes.c_int), ("key", ctypes.c_ulong)] + [
        (name, ctypes.c_char_p) for name in ("area", "type", "province", "city", "area_code")]


def main():
    path, vnlt, dat = sys.argv[1:4]
    lib = ctypes.CDLL(path)
    lib.varnolt_open.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]
    lib.varnolt_lookup_many.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t,
                                        ctypes.POINTER(Answer)]
    lib.varnolt_close.argtypes = [ctypes.c_void_p]
    lib.varnolt_status_name.restype = ctypes.c_char_p
    directory = ctypes.c_void_p()
    assert lib.varnolt_open(dat.encode(), ctypes.byref(directory)) == 0

    rng = random.Random(20)
    numbers = [row.text for row in written_numbers.rows()]
    numbers += ["1%02d%08d" % (rng.randint(30, 99), rng.randint(0, 99999999)) for _ in range(15000)]
    numbers += ["0%d-%d" % (rng.randint(10, 999), rng.randint(2000000, 89999999)) for _ in range(5000)]
    texts = (ctypes.c_char_p * len(numbers))(*[n.encode() for n in numbers])
    answers = (Answer * len(numbers))()
    assert lib.varnolt_lookup_many(directory, texts, len(numbers), answers) == 0

    out = subprocess.run([vnlt, "--dat", dat, "query", "--format", "jsonl"], capture_output=True,
                         input="".join(n + "\n" for n in numbers).encode()).stdout.decode()
    differ = []
    for number, a, line in zip(numbers, answers, out.splitlines()):
        v = json.loads(line)
        mine = (lib.varnolt_status_name(a.status).decode(), a.key) + tuple(
            getattr(a, name).decode() for name in ("area", "type", "province", "city", "area_code"))
        theirs = (v["status"], v["key"], v["area"], v["type"], v["province"], v["city"], v["areaCode"])
        if mine != theirs:
            differ.append("%r: library %s, vnlt %s" % (number, mine, theirs))
    lib.varnolt_close(directory)
    print("%d numbers through ctypes, %d answered unlike vnlt query" % (len(numbers), len(differ)))
    for line in differ[:20]:
        print("FAIL:", line)
    sys.exit(1 if differ else 0)


if __name__ == "__main__":
    main()
