"""The tables under tests/data as the Python harnesses read them: their one
escape convention, and the written numbers that every harness checks; and
the vnlt and directory they run, as CTest names them, else the native build's."""
import collections
import os
import pathlib
import re

Row = collections.namedtuple("Row", "text status key area type")
DATA = pathlib.Path(os.path.dirname(os.path.abspath(__file__)), "data")
ROOT = DATA.parent.parent
VNLT = os.path.abspath(os.environ.get("VARNOLT_VNLT", ROOT / "build" / "native" / "vnlt"))
SHIPPED = str(ROOT / "data" / "Varnolt.dat")
VERSION = re.search(r"project\(\w+ VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
ESCAPE = re.compile(rb"\\(x[0-9A-Fa-f]{2}|u[0-9A-Fa-f]{4}|U[0-9A-Fa-f]{8}|.)")


def unescape(text):
    """The bytes a field stands for: \\t \\r \\n, \\xHH a byte, \\uHHHH and
    \\UHHHHHHHH a character (one that would not show), any other \\c the c."""
    def one(m):
        e = m.group(1).decode()
        if e[0] == "x":
            return bytes([int(e[1:], 16)])
        if e[0] in "uU":
            return chr(int(e[1:], 16)).encode()
        return {"t": b"\t", "r": b"\r", "n": b"\n"}.get(e, e.encode())
    return ESCAPE.sub(one, text.encode())


# The longest number, in UTF-8 bytes, that vnlt serve takes; a longer one is refused.
SERVED_NUMBER_BYTES = 100


def served(row):
    """Whether vnlt serve answers the row's text rather than refusing it as too long."""
    return len(row.text.encode("utf-8")) <= SERVED_NUMBER_BYTES


def rows():
    """Each row of written_numbers.tsv: the text as written, and what the shipped directory answers."""
    table = []
    for line in (DATA / "written_numbers.tsv").read_text(encoding="utf-8").split("\n"):
        if not line or line.startswith("#"):
            continue
        fields = (line.split("\t") + [""] * 5)[:5]
        table.append(Row(unescape(fields[0]).decode(), fields[1], int(fields[2]), fields[3], fields[4]))
    return table
