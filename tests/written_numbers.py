"""The table of written numbers every harness reads: tests/data/written_numbers.tsv."""
import collections
import os
import pathlib
import re

Row = collections.namedtuple("Row", "text status key area type")
TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "written_numbers.tsv")


def rows():
    """Each row: the text as written, and what the shipped directory answers."""
    table = []
    for line in pathlib.Path(TABLE).read_text(encoding="utf-8").split("\n"):
        if not line or line.startswith("#"):
            continue
        fields = (line.split("\t") + [""] * 5)[:5]
        table.append(Row(unescape(fields[0]), fields[1], int(fields[2]), fields[3], fields[4]))
    return table


def unescape(text):
    """In the tables, \\uXXXX stands for a unit that would not show."""
    return re.sub(r"\\u([0-9A-Fa-f]{4})", lambda m: chr(int(m.group(1), 16)), text)
