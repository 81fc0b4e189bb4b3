#!/usr/bin/python3
"""vnlt through its process, case by case from the golden table
tests/data/vnlt_cases.txt (its head says how a case is written).
Usage: vnlt_test.py VNLT SHIPPED_DAT VERSION"""
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tables import DATA, unescape  # noqa: E402

TABLE = DATA / "vnlt_cases.txt"


def cases(places):
    """Each case as (title, lines), fields with the places filled in."""
    title, lines = "", []
    for raw in TABLE.read_text(encoding="utf-8").split("\n"):
        if raw.startswith("## "):
            title = raw[3:]
        elif raw.startswith("#") or not raw.strip():
            if any(line.startswith("$") for line in lines):
                yield title, lines
                lines = []
        else:
            for name, value in places.items():
                raw = raw.replace("{%s}" % name, value)
            lines.append(raw)
    if lines:
        yield title, lines


def write(work, line):
    """`+ FILE[ ENCODING]: TEXT`, `+ FILE < SOURCE` or `+ FILE -`."""
    copy, remove = re.fullmatch(r"(\S+) < (.*)", line), re.fullmatch(r"(\S+) -", line)
    name = (copy or remove).group(1) if copy or remove else re.match(r"[^\s:]+", line).group(0)
    path = os.path.join(work, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if remove:
        os.remove(path)
    elif copy:
        shutil.copy(os.path.join(work, copy.group(2)), path)
    else:
        encoding, text = re.fullmatch(r"[^\s:]+(?: ([\w-]+))?: (.*)", line).groups()
        data = unescape(text).decode("utf-8")
        pathlib.Path(path).write_bytes({None: data.encode(), "utf-8-sig": b"\xef\xbb\xbf" + data.encode(),
                                        "gbk": data.encode("gbk"),
                                        "utf-16": b"\xff\xfe" + data.encode("utf-16-le")}[encoding])


def run_case(work, vnlt, lines):
    """The case's failures, as texts."""
    command = stdin = None
    expect = {"code": 0, "out": [], "match": [], "err": [], "same": [], "exists": []}
    for line in lines:
        kind, rest = line[0], line[2:] if len(line) > 1 else ""
        if kind == "+":
            write(work, rest)
        elif kind == "$":
            command = rest
        elif kind == "<":
            stdin = (stdin or b"") + (unescape(rest) + b"\n" if len(line) > 1 else b"")
            if len(line) == 1:
                stdin = stdin[:-1]
        elif kind == "?":
            expect["code"] = int(rest)
        elif line == "!":
            expect["quiet"] = True
        elif line.startswith(">= "):
            expect["out"].append(line[3:].encode())
        elif kind == ">":
            expect["out"].append(unescape(rest))
        else:
            expect[{"~": "match", "!": "err", "=": "same", "[": "exists"}[kind]].append(rest)
    words = shlex.split(command)
    env = dict(os.environ)
    while words and re.match(r"[A-Z_]+=", words[0]):
        name, _, value = words.pop(0).partition("=")
        env[name] = value
    program = os.path.join(work, words.pop(0)[1:]) if words and words[0].startswith("@") else vnlt
    done = subprocess.run([program] + words, cwd=work, env=env, input=stdin or b"", capture_output=True, timeout=60)
    failures = []
    if done.returncode != expect["code"]:
        failures.append("exit %d, not %d" % (done.returncode, expect["code"]))
    if expect["out"] and done.stdout != b"".join(line + b"\n" for line in expect["out"]):
        failures.append("wrote %r" % done.stdout[:600])
    out_lines = done.stdout.decode("utf-8", "replace").split("\n")
    failures += ["no line matches %r" % p for p in expect["match"] if not any(re.fullmatch(p, l) for l in out_lines)]
    failures += ["error output lacks %r: %r" % (t, done.stderr[:300]) for t in expect["err"]
                 if t.encode() not in done.stderr]
    if expect.get("quiet") and done.stderr:
        failures.append("error output not empty: %r" % done.stderr[:300])
    for pair in expect["same"]:
        a, b = (pathlib.Path(work, name) for name in pair.split())
        if a.read_bytes() != b.read_bytes():
            failures.append("%s differs from %s" % (a, b))
    failures += ["%s is missing" % name for name in expect["exists"] if not os.path.exists(os.path.join(work, name))]
    return failures


def main():
    vnlt, shipped, version = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]
    passed = failed = 0
    with tempfile.TemporaryDirectory() as work:
        places = {"vnlt": vnlt, "shipped": shipped, "work": work, "version": version}
        for title, lines in cases(places):
            what = next(line for line in lines if line.startswith("$"))
            failures = run_case(work, vnlt, lines)
            for failure in failures:
                print("FAIL: %s: %s: %s" % (title, what, failure))
            passed, failed = passed + (not failures), failed + bool(failures)
    print("%d cases passed, %d failed" % (passed, failed))
    sys.exit(1 if failed or not passed else 0)


if __name__ == "__main__":
    main()
