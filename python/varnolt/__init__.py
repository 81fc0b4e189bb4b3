"""The home area (归属地) and number type of Chinese telephone numbers, offline.

    >>> import varnolt
    >>> d = varnolt.Directory()               # the national directory in the package
    >>> a = d.lookup("Tel: 139 1234 5678")
    >>> a.area, a.type, a.area_code
    ('江苏省常州市', '中国移动', '0519')

Numbers are read as people write them: spaces, dashes, dots, brackets,
fullwidth digits, +86 or 0086, a label before and an extension after.
Every answer has a status: 'found'; 'unknown' (a Chinese number the
directory does not cover); 'foreign' (another country's number); or
'invalid' (no number in the text). Only 'found' has an area.

A Directory never changes once open: any number of threads may use one at
once, and lookup_many lets other threads run while it works. Numbers may be
str, bytes, any integer (numpy's and pandas' too) or float; in a batch,
None, NaN and pandas' NA are answered 'invalid', and so is text that is not
Unicode. pandas is needed for annotate alone.
"""
import functools
import os

from ._varnolt import Answer, DamagedError, Error, MissingError, version
from ._varnolt import Directory as _Directory

__all__ = ["Answer", "Directory", "Error", "MissingError", "DamagedError", "STATUSES", "DEFAULT_FILE"]
__version__ = version()

#: Every answer's status is one of these.
STATUSES = ("found", "unknown", "foreign", "invalid")
#: The national directory that comes with the package.
DEFAULT_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Varnolt.dat")
_TEXTS = Answer._fields[2:]


class Directory(_Directory):
    """An open directory file ("Varnolt.dat"), read whole when opened.

    Directory() opens the national directory that comes with the package;
    Directory(path) opens another, such as a copy a user has added to.
    Raises MissingError (a FileNotFoundError) when there is no file at the
    path, DamagedError when it is not a directory file or a damaged one,
    and Error for anything else. Each is an OSError: errno, strerror and
    filename say the system's reason where there is one; .code, .reason
    and .path are the library's.

    A Directory can be sent to the worker processes of multiprocessing or
    Dask. Directory() arrives as the receiving side's own national
    directory, wherever its package is installed. Directory(path) arrives as
    its path, and is opened as the file is there then: each process keeps
    the one it opened while the file stays the same (its size, modification
    time and inode), and opens it again once it was changed or replaced.
    """

    __slots__ = ()

    def __init__(self, path=None):
        """Opens the directory file at path, or the package's own."""
        super().__init__(DEFAULT_FILE if path is None else path)

    def __reduce__(self):
        """Pickled as its path, or as None for the package's own."""
        return (_opened, (None if self.path == DEFAULT_FILE else self.path,))

    def __repr__(self):
        return "varnolt.Directory(%r)" % (self.path,)

    def annotate(self, numbers):
        """The answers for a pandas Series (or any sequence) of numbers, as a
        DataFrame on the same index, one column per Answer field: status,
        key (UInt32), area, type, province, city and area_code, the texts as
        categoricals. A missing number (None, NaN, pd.NA) has every column
        missing; text that is not Unicode is 'invalid'. Columns of int64 or
        float64 numbers, as pandas reads them from CSV, are answered as their
        digits."""
        import numpy as np
        import pandas as pd

        if isinstance(numbers, pd.Series):
            series = numbers
        else:  # an array keeps its dtype; anything else is a column of objects
            series = pd.Series(numbers, dtype=None if isinstance(numbers, np.ndarray) else object)
        values = series.to_numpy()
        if values.dtype.kind in "iu":
            values = np.ascontiguousarray(values, dtype=np.int64)
        elif values.dtype.kind == "f":
            values = np.ascontiguousarray(values, dtype=np.float64)
        else:
            values = values.tolist()
        filled = np.empty((len(Answer._fields), len(values)), np.int32)
        texts = self._columns(values, filled)
        statuses = filled[0]
        columns = {
            "status": pd.Categorical.from_codes(statuses, categories=STATUSES),
            "key": pd.arrays.IntegerArray(filled[1].view(np.uint32), statuses < 0),
        }
        for name, codes, categories in zip(_TEXTS, filled[2:], texts):
            columns[name] = pd.Categorical.from_codes(codes, categories=categories)
        return pd.DataFrame(columns, index=series.index)


def _error_text(error):
    """The library's reason and the file, then the system's reason if any."""
    if not hasattr(error, "reason"):
        return OSError.__str__(error)
    text = error.reason if error.path is None else "%s: %s" % (error.reason, error.path)
    return text if error.errno is None else "%s (%s)" % (text, error.strerror)


Error.__str__ = _error_text


def _opened(path):
    """A pickled Directory, as the receiving process has it."""
    path = DEFAULT_FILE if path is None else path
    try:
        found = os.stat(path)
    except OSError:
        return Directory(path)  # raises the error of the file as it is
    return _opened_as((path, found.st_dev, found.st_ino, found.st_size, found.st_mtime_ns))


@functools.lru_cache(maxsize=16)
def _opened_as(file):
    """Each file once in a process, while it stays the same."""
    return Directory(file[0])
