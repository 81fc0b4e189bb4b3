"""vnlt through its process, case by case from the golden table
tests/data/vnlt_cases.txt (its head says how a case is written). Run by pytest."""
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tables import DATA, SHIPPED, VERSION, VNLT, unescape  # noqa: E402

TABLE = DATA / "vnlt_cases.txt"
WORK = tempfile.TemporaryDirectory()  # one scratch folder: a case may use what an earlier one made


def cases():
    """Each case's lines, the places filled in, named by its title and command."""
    places = {"vnlt": VNLT, "shipped": SHIPPED, "work": WORK.name, "version": VERSION}
    title, lines = "", []
    for raw in TABLE.read_text(encoding="utf-8").split("\n"):
        if raw.startswith("## "):
            title = raw[3:]
        elif raw.startswith("#") or not raw.strip():
            if any(line.startswith("$") for line in lines):
                yield pytest.param(lines, id="%s: %s" % (title, next(line for line in lines if line[0] == "$")))
                lines = []
        else:
            for name, value in places.items():
                raw = raw.replace("{%s}" % name, value)
            lines.append(raw)


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


@pytest.mark.parametrize("lines", cases())
def test_case(lines):
    work = WORK.name
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
    program = os.path.join(work, words.pop(0)[1:]) if words and words[0].startswith("@") else VNLT
    done = subprocess.run([program] + words, cwd=work, env=env, input=stdin or b"", capture_output=True, timeout=60)
    assert done.returncode == expect["code"], done.stderr[:300]
    if expect["out"]:
        assert done.stdout == b"".join(line + b"\n" for line in expect["out"])
    out_lines = done.stdout.decode("utf-8", "replace").split("\n")
    for pattern in expect["match"]:
        assert any(re.fullmatch(pattern, line) for line in out_lines), (pattern, out_lines[:20])
    for text in expect["err"]:
        assert text.encode() in done.stderr
    assert not (expect.get("quiet") and done.stderr)
    for pair in expect["same"]:
        first, second = (pathlib.Path(work, name).read_bytes() for name in pair.split())
        assert first == second, pair
    for name in expect["exists"]:
        assert os.path.exists(os.path.join(work, name))
