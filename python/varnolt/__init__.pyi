from os import PathLike
from typing import Iterable, Literal, SupportsIndex, Union

import pandas

Status = Literal["found", "unknown", "foreign", "invalid"]
Number = Union[str, bytes, SupportsIndex, float, None]

__version__: str
STATUSES: tuple[Status, Status, Status, Status]
DEFAULT_FILE: str

class Answer:
    """One number's answer; unpacks and indexes like a tuple of its seven fields."""

    _fields: tuple[str, ...]
    def __init__(self, status: Status, key: int, area: str, type: str, province: str, city: str,
                 area_code: str) -> None: ...
    @property
    def status(self) -> Status: ...
    @property
    def key(self) -> int: ...
    @property
    def found(self) -> bool: ...
    area: str
    type: str
    province: str
    city: str
    area_code: str
    def _asdict(self) -> dict[str, Union[str, int]]: ...
    def __len__(self) -> int: ...
    def __getitem__(self, index: int) -> Union[str, int]: ...

class Error(OSError):
    """errno, strerror and filename: the system's reason, where there is one."""

    code: int
    reason: str
    path: Union[str, None]

class MissingError(Error, FileNotFoundError): ...
class DamagedError(Error): ...

class Directory:
    def __init__(self, path: Union[str, PathLike[str], None] = None) -> None: ...
    @property
    def path(self) -> str: ...
    def lookup(self, number: Union[str, bytes, SupportsIndex, float]) -> Answer: ...
    def lookup_many(self, numbers: Iterable[Number]) -> list[Answer]: ...
    def annotate(self, numbers: Union[pandas.Series, Iterable[Number]]) -> pandas.DataFrame: ...

def version() -> str: ...
