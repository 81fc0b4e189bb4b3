"""The README's Dask recipe, as it stands there, on a local cluster of two
worker processes: its answers equal `vnlt query --column` on the same rows.
Usage: dask_test.py [VNLT]; the package and vnlt as package_test.py finds them."""
import csv
import glob
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from package_test import VNLT, generated, varnolt, written_numbers  # noqa: E402

FIELDS = ["status", "key", "area", "type", "province", "city", "area_code"]


def main():
    vnlt = sys.argv[1] if len(sys.argv) > 1 else VNLT
    # The recipe's processes import the package from where this one did.
    os.environ["PYTHONPATH"] = os.path.dirname(os.path.dirname(varnolt.__file__))
    readme = open(os.path.join(HERE, "..", "..", "README.md"), encoding="utf-8").read()
    recipe = re.search(r"```py\n(.*?)```", readme, re.S).group(1)
    texts = [row.text for row in written_numbers.rows() if "\n" not in row.text] + generated(6000, 3)
    with tempfile.TemporaryDirectory() as work:
        expected = []
        for part in range(3):
            rows = [(str(i), t) for i, t in enumerate(texts[part::3])]
            calls = os.path.join(work, "calls-%d.csv" % part)
            with open(calls, "w", newline="", encoding="utf-8") as f:
                csv.writer(f).writerows([("id", "phone")] + rows)
            out = subprocess.run([vnlt, "--dat", varnolt.DEFAULT_FILE, "query", "--column", "2", "--input", calls],
                                 capture_output=True).stdout.decode("utf-8-sig")
            for line in list(csv.reader(out.splitlines()))[1:]:
                # id, phone, key, found, area, type, province, city, areaCode, status
                expected.append([line[0], line[1], line[9], line[2]] + line[4:9])
        open(os.path.join(work, "answer.py"), "w", encoding="utf-8").write(recipe)
        subprocess.run([sys.executable, "answer.py"], cwd=work, check=True, timeout=240)
        got = []
        for name in sorted(glob.glob(os.path.join(work, "answered-*.csv"))):
            with open(name, newline="", encoding="utf-8") as f:
                rows = list(csv.DictReader(f))
            got += [[r["id"], r["phone"]] + [r[field] for field in FIELDS] for r in rows]
    differ = [(g, e) for g, e in zip(got, expected) if g != e]
    print("%d rows through Dask, %d rows from vnlt, %d differ" % (len(got), len(expected), len(differ)))
    for g, e in differ[:10]:
        print("FAIL: dask %s, vnlt %s" % (g, e))
    sys.exit(0 if got and len(got) == len(expected) and not differ else 1)


if __name__ == "__main__":
    main()
