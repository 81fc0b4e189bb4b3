"""The varnolt package against vnlt on the same numbers, its errors from real
bad files, its answers from many threads, annotate with pandas, and the
README's Dask recipe.
Run by pytest; VARNOLT_VNLT names vnlt, and the package is imported from the
path, else from the native build (build/native/python)."""
import concurrent.futures
import contextlib
import csv
import json
import os
import pickle
import random
import re
import shutil
import subprocess
import sys
import threading

import pytest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import tables  # noqa: E402
from tables import DATA, VNLT  # noqa: E402

try:
    import varnolt
except ImportError:
    sys.path.insert(0, str(tables.ROOT / "build" / "native" / "python"))
    import varnolt

README = tables.ROOT / "README.md"


def generated(count, seed):
    """Mobile and fixed-line numbers, plain and as people write them."""
    rng = random.Random(seed)
    numbers = []
    for _ in range(count):
        mobile = "1%02d%08d" % (rng.randint(30, 99), rng.randint(0, 99999999))
        fixed = "0%d-%d" % (rng.randint(10, 999), rng.randint(2000000, 89999999))
        numbers.append(rng.choice([mobile, fixed, "+86 " + mobile[:3] + " " + mobile[3:], "Tel: " + fixed]))
    return numbers


@pytest.fixture(scope="module")
def directory():
    return varnolt.Directory()


@pytest.fixture(scope="module")
def numbers():
    return [row.text for row in tables.rows()] + generated(20000, 21)


@pytest.fixture(scope="module")
def vnlt_answers(numbers):
    """vnlt query's answers as Answer objects, in order."""
    out = subprocess.run([VNLT, "--dat", varnolt.DEFAULT_FILE, "query", "--format", "jsonl"],
                         input="".join(n + "\n" for n in numbers).encode(), capture_output=True)
    lines = [json.loads(line) for line in out.stdout.decode().splitlines()]
    return [varnolt.Answer(v["status"], v["key"], v["area"], v["type"], v["province"], v["city"], v["areaCode"])
            for v in lines]


def test_every_face_answers_as_vnlt(directory, numbers, vnlt_answers):
    assert len(vnlt_answers) == len(numbers)
    assert [directory.lookup(n) for n in numbers] == vnlt_answers
    assert directory.lookup_many(numbers) == vnlt_answers
    assert directory.lookup_many(iter(numbers[:100])) == vnlt_answers[:100]
    frame = directory.annotate(numbers)
    assert [tuple(row) for row in frame.astype(object).itertuples(index=False)] == [tuple(a) for a in vnlt_answers]


def test_numbers_as_numpy_pandas_and_csv_readers_hold_them(directory):
    np, pd = pytest.importorskip("numpy"), pytest.importorskip("pandas")
    found, invalid = directory.lookup("13912345678"), directory.lookup("")
    assert found == directory.lookup(13912345678) == directory.lookup(13912345678.0) == directory.lookup(
        b"13912345678") == directory.lookup(np.int64(13912345678)) == directory.lookup(pd.Series([13912345678])[0])
    # Missing numbers, values no telephone number has, and text that is not
    # Unicode (read with surrogateescape) are 'invalid', and fail no neighbour.
    lone = b"Tel\xff 139".decode("utf-8", "surrogateescape")
    for column in (["13912345678", None, float("nan"), pd.NA, pd.NaT, -13912345678, 2.5, 10 ** 30, lone],
                   np.array([13912345678, 0]), np.array([13912345678, np.nan], np.float32),
                   pd.Series([13912345678, None], dtype="Int64"), pd.Series(["13912345678", pd.NA], dtype="string")):
        assert directory.lookup_many(column) == [found] + [invalid] * (len(column) - 1), column
    assert directory.lookup(lone) == invalid and directory.annotate([lone])["status"][0] == "invalid"
    with pytest.raises(TypeError):
        directory.lookup(None)
    with pytest.raises(TypeError, match="not list"):
        directory.lookup_many([["13912345678"]])


def test_answers_are_plain_values(directory):
    a = directory.lookup("Tel: 139 1234 5678")
    status, key, area, *rest = a
    assert (status, key, area, a.found, len(a), a[-1]) == ("found", 1391234, "江苏省常州市", True, 7, "0519")
    assert pickle.loads(pickle.dumps(a)) == a and hash(varnolt.Answer(*a)) == hash(a)
    with pytest.raises(AttributeError):
        a.area = "北京市"
    with pytest.raises(ValueError):
        varnolt.Answer("maybe", 0, "", "", "", "", "")


def test_a_pickled_directory_opens_what_is_there_when_it_arrives(tmp_path):
    """Directory() is the receiver's own national directory; a path, the file as it is then."""
    package = tmp_path / "elsewhere" / "varnolt"
    shutil.copytree(os.path.dirname(varnolt.__file__), package)
    sent = subprocess.run([sys.executable, "-c", "import pickle, sys, varnolt; "
                           "sys.stdout.buffer.write(pickle.dumps(varnolt.Directory()))"],
                          env=dict(os.environ, PYTHONPATH=str(package.parent)), capture_output=True, check=True).stdout
    shutil.rmtree(package)
    assert pickle.loads(sent).path == varnolt.DEFAULT_FILE
    copy = tmp_path / "copy.dat"
    shutil.copyfile(varnolt.DEFAULT_FILE, copy)
    sent = pickle.dumps(varnolt.Directory(copy))
    assert pickle.loads(sent).lookup("13912345678").found
    shutil.copyfile(os.path.join(DATA, "wrong_magic.dat"), copy)
    with pytest.raises(varnolt.DamagedError):
        pickle.loads(sent)


def test_out_of_memory_is_memory_error_and_the_package_answers_after():
    pytest.importorskip("pandas")
    script = """if True:
        import contextlib, resource, numpy as np, varnolt
        d, numbers, texts = varnolt.Directory(), np.full(3000000, 13912345678), ["13912345678"] * 1000000
        d.annotate(numbers[:3])
        for room in range(16, 136, 30):
            used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
            resource.setrlimit(resource.RLIMIT_AS, (used + room * 2 ** 20, resource.RLIM_INFINITY))
            for call, given in ((d.annotate, numbers), (d.lookup_many, texts)):
                with contextlib.suppress(MemoryError):
                    call(given)
            resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
            assert d.annotate(numbers[:3])["area"].tolist() == ["江苏省常州市"] * 3
    """
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, timeout=120,
                         env=dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(varnolt.__file__))))
    assert (run.returncode, run.stderr) == (0, b"")


def test_threads_that_change_a_directory_or_a_list_it_is_answering():
    """A list cleared the moment the GIL is let go, its long text's memory given
    back to the system; two threads opening one Directory, which opens once."""
    np = pytest.importorskip("numpy")
    directory, numbers, outcomes, barrier = varnolt.Directory.__new__(varnolt.Directory), [], [], threading.Barrier(2)

    def init():
        barrier.wait()
        try:
            directory.__init__(varnolt.DEFAULT_FILE)
            outcomes.append("opened")
        except RuntimeError:
            outcomes.append("refused")
        while len(outcomes) < 22:
            numbers.clear()

    threads = [threading.Thread(target=init) for _ in range(2)]
    for t in threads:
        t.start()
    while len(outcomes) < 2:
        pass
    for _ in range(20):
        numbers[:] = ["13912345678"] * 16000 + ["x" * (40 << 20) + "13912345678"]
        with contextlib.suppress(RuntimeError, ValueError):  # changed size: before the call, or between slices
            directory._columns(numbers, np.empty((len(varnolt.Answer._fields), 16001), np.int32))
        outcomes.append("answered")
    for t in threads:
        t.join()
    assert sorted(outcomes[:2]) == ["opened", "refused"]


@pytest.mark.parametrize("make, error, code, errno", [
    (lambda tmp: os.path.join(tmp, "none.dat"), varnolt.MissingError, 1, 2),
    (lambda tmp: tmp, varnolt.Error, 2, None),
    (lambda tmp: os.path.join(DATA, "wrong_magic.dat"), varnolt.DamagedError, 5, None),
])
def test_bad_files_raise_with_the_library_reason_and_the_system_one(tmp_path, make, error, code, errno):
    path = make(str(tmp_path))
    with pytest.raises(error) as raised:
        varnolt.Directory(path)
    e = raised.value
    assert isinstance(e, FileNotFoundError if code == 1 else OSError)
    assert (e.code, e.path, e.filename) == (code, path, path)
    assert errno is None or e.errno == errno
    assert str(e) == e.reason + ": " + path + ("" if e.errno is None else " (%s)" % os.strerror(e.errno))


def test_one_directory_from_many_threads(directory):
    parts = [generated(5000, k) for k in range(8)]
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        got = list(pool.map(lambda p: (directory.lookup_many(p), [directory.lookup(n) for n in p[:500]]), parts))
    assert got == [(directory.lookup_many(part), directory.lookup_many(part[:500])) for part in parts]


def test_annotate_keeps_the_index_and_marks_missing_numbers():
    pd = pytest.importorskip("pandas")
    directory = varnolt.Directory()
    series = pd.Series(["13912345678", None, float("nan"), pd.NA, "hello", "010-12345678"],
                       index=list("abcdef"), dtype=object)
    frame = directory.annotate(series)
    assert list(frame.index) == list("abcdef") and list(frame.columns) == list(varnolt.Answer._fields)
    assert frame["status"].tolist()[:1] + frame["status"].tolist()[4:] == ["found", "invalid", "found"]
    assert frame.loc[["b", "c", "d"]].isna().all().all()
    assert str(frame["key"].dtype) == "UInt32" and frame.loc["f", "area"] == "北京市"
    assert all(str(frame[c].dtype) == "category" for c in ("status", "area", "type", "province", "city", "area_code"))
    # Columns as read from CSV: int64, float64 with a blank, and pandas' own NA types.
    for column in (pd.Series([13912345678, 13800000000]), pd.Series([13912345678, None]),
                   pd.Series(["13912345678", None], dtype="string"), pd.Series([13912345678, None], dtype="Int64")):
        answers = directory.annotate(column)
        assert answers.loc[0, "area"] == "江苏省常州市" and answers.index.equals(column.index)
        assert answers.iloc[1:].isna().all().all() == column.isna().iloc[1]


def test_the_readme_dask_recipe_answers_as_vnlt(tmp_path):
    """The README's recipe, as it stands there, on a local cluster of two worker
    processes: its answers equal `vnlt query --column` on the same rows."""
    pytest.importorskip("dask.distributed")
    recipe = re.search(r"```py\n(.*?)```", README.read_text(encoding="utf-8"), re.S).group(1)
    texts = [row.text for row in tables.rows() if "\n" not in row.text] + generated(6000, 3)
    expected = []
    for part in range(3):
        calls = tmp_path / ("calls-%d.csv" % part)
        with open(calls, "w", newline="", encoding="utf-8") as f:
            csv.writer(f).writerows([("id", "phone")] + [(str(i), t) for i, t in enumerate(texts[part::3])])
        out = subprocess.run([VNLT, "--dat", varnolt.DEFAULT_FILE, "query", "--column", "2", "--input", calls],
                             capture_output=True).stdout.decode("utf-8-sig")
        # id, phone, key, found, area, type, province, city, areaCode, status
        expected += [[line[0], line[1], line[9], line[2]] + line[4:9] for line in csv.reader(out.splitlines()[1:])]
    (tmp_path / "answer.py").write_text(recipe, encoding="utf-8")
    # The recipe's processes import the package from where this one did.
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(varnolt.__file__)))
    subprocess.run([sys.executable, "answer.py"], cwd=tmp_path, env=env, check=True, timeout=240)
    got = []
    for name in sorted(tmp_path.glob("answered-*.csv")):
        with open(name, newline="", encoding="utf-8") as f:
            got += [[r["id"], r["phone"]] + [r[field] for field in varnolt.Answer._fields] for r in csv.DictReader(f)]
    assert len(got) == len(expected) > 6000
    assert got == expected
