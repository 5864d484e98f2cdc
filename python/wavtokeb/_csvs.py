"""The tables of `wavtokeb-cli trains` and `wavtokeb-cli presence`, typed.

An empty count in the presence table means no recording effort in that period: it is read as
missing (a nullable integer), never as 0."""

import csv
import os
import re

import numpy as np

from . import _tables

QUALITIES = ("low", "moderate", "high")

TRAIN_COLUMNS = {
    "train": "int",
    "location": "category",
    "recording": "category",
    "start": "time",
    "end": "time",
    "clicks": "int",
    "ici_ms_modal": "float",
    "ici_ms_min": "float",
    "ici_ms_max": "float",
    "khz_median": "float",
    "pmax_median": "float",
    "class": "category",
    "quality": "quality",
    "buzz_clicks": "int",
    "encounter": "int",
}

PRESENCE_COLUMNS = {
    "period_start": "time",
    "location": "category",
    "recorded_minutes": "int",
    "recorded_s": "float",
    "nbhf_dpm": "int",
    "dolphin_dpm": "int",
    "sonar_minutes": "int",
    "buzz_minutes": "int",
    "nbhf_trains": "int",
    "encounters": "int",
}


class _BadCell(Exception):
    def __init__(self, row, column, text):
        super().__init__()
        self.row, self.column, self.text = row, column, text


def _cells(path):
    """The heading and the rows of a CSV file (RFC 4180, CR LF or LF line ends), as text."""
    try:
        with open(path, newline="", encoding="utf-8", errors="surrogateescape") as f:
            rows = list(csv.reader(f))
    except OSError as e:
        raise ValueError(f"{os.fsdecode(path)}: cannot be read: {e.strerror}") from e
    except csv.Error as e:
        raise ValueError(f"{os.fsdecode(path)}: no CSV table: {e}") from e
    if not rows:
        raise ValueError(f"{os.fsdecode(path)}: line 1: the file is empty, no table heading")
    return rows[0], rows[1:]


_INTEGER = re.compile(r"-?[0-9]{1,18}")
_NUMBER = re.compile(r"-?[0-9]+(\.[0-9]*)?([eE][-+]?[0-9]+)?")
_TIME = re.compile(
    r"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]{1,9})?(Z|[+-][0-9]{2}:[0-9]{2})"
)


def _first_bad(texts, name, shape):
    """Raises _BadCell for the first cell that is neither empty nor of the shape."""
    for i, t in enumerate(texts):
        if t and not shape.fullmatch(t):
            raise _BadCell(i, name, t)


def _parse_int(texts, name):
    cells = np.array(texts, dtype=str)
    missing = cells == ""
    try:
        values = np.where(missing, "0", cells).astype(np.int64)
    except (ValueError, OverflowError):
        _first_bad(texts, name, _INTEGER)
        raise
    return _tables.Nullable(values, missing)


def _parse_float(texts, name):
    cells = np.array(texts, dtype=str)
    missing = cells == ""
    try:
        values = np.where(missing, "nan", cells).astype(np.float64)
    except ValueError:
        _first_bad(texts, name, _NUMBER)
        raise
    values[missing] = np.nan
    return values


def _offset_minutes(suffix):
    """The offset of a time's suffix (Z, +hh:mm, -hh:mm) in minutes."""
    if suffix == "Z":
        return 0
    m = int(suffix[1:3]) * 60 + int(suffix[4:])
    return m if suffix[0] == "+" else -m


def _parse_time(texts, name):
    """ISO 8601 times that end in Z or an offset (+hh:mm): the instants, shown at the offset
    they were all written with (UTC where they differ)."""
    ns = np.full(len(texts), _tables.NAT, dtype=np.int64)
    dated = [i for i, t in enumerate(texts) if t]
    suffixes = [texts[i][-1:] if texts[i].endswith("Z") else texts[i][-6:] for i in dated]
    offsets = {}
    for i, suffix in zip(dated, suffixes):
        if suffix not in offsets:
            if not _TIME.fullmatch(texts[i]):
                raise _BadCell(i, name, texts[i])
            offsets[suffix] = _offset_minutes(suffix)
    local = [texts[i][: -len(suffix)] for i, suffix in zip(dated, suffixes)]
    try:
        if any(len(t) < 19 or t[10] != "T" for t in local):
            raise ValueError
        times = np.array(local, dtype="datetime64[ns]").astype(np.int64)
    except ValueError:
        _first_bad(texts, name, _TIME)
        for i in dated:  # a date that its month does not have
            try:
                np.datetime64(texts[i][: -len(suffixes[dated.index(i)])], "ns")
            except ValueError:
                raise _BadCell(i, name, texts[i]) from None
        raise
    shift = np.array([offsets[s] for s in suffixes], dtype=np.int64) * 60_000_000_000
    ns[dated] = times - shift
    return _tables.Times(ns, next(iter(offsets.values())) if len(offsets) == 1 else 0)


def _parse_category(texts, name, allowed=None):
    """Texts as categories: those allowed (another text does not read), else those there."""
    categories = list(allowed) if allowed else sorted(set(t for t in texts if t))
    where = {c: i for i, c in enumerate(categories)}
    codes = np.empty(len(texts), dtype=np.int32)
    for i, t in enumerate(texts):
        code = where.get(t, -1)
        if code < 0 and (t or allowed):
            raise _BadCell(i, name, t)
        codes[i] = code
    return _tables.Categorical(codes, categories)


def _read_table(path, schema, verb):
    heading, rows = _cells(path)
    missing = [name for name in schema if name not in heading]
    if missing:
        raise ValueError(
            f"{os.fsdecode(path)}: line 1: no table of `wavtokeb-cli {verb}`: it lacks the "
            f"column{'s' if len(missing) > 1 else ''} {', '.join(missing)}"
        )
    for number, row in enumerate(rows, start=2):
        if len(row) != len(heading):
            raise ValueError(
                f"{os.fsdecode(path)}: line {number}: {len(row)} cells where the heading "
                f"has {len(heading)}"
            )
    columns = {}
    cells = list(zip(*rows)) if rows else [()] * len(heading)
    try:
        for k, name in enumerate(heading):
            texts = cells[k]
            kind = schema.get(name, "text")
            if kind == "int":
                columns[name] = _parse_int(texts, name)
            elif kind == "float":
                columns[name] = _parse_float(texts, name)
            elif kind == "time":
                columns[name] = _parse_time(texts, name)
            elif kind == "category":
                columns[name] = _parse_category(texts, name)
            elif kind == "quality":
                columns[name] = _parse_category(texts, name, QUALITIES)
            else:
                columns[name] = np.array(texts, dtype=object)
    except _BadCell as bad:
        raise ValueError(
            f"{os.fsdecode(path)}: line {bad.row + 2}: {bad.column} {bad.text!r} does not read"
        ) from None
    table = _tables.frame(columns)
    if _tables.have_pandas() and "quality" in columns:
        table["quality"] = table["quality"].cat.as_ordered()
    return table


def read_trains(path):
    """The CSV of `wavtokeb-cli trains`, one row per click train: start and end as UTC times,
    counts as nullable integers, class and location as categories, quality as an ordered
    category (low < moderate < high). Raises ValueError naming the file and the line where it
    is no such table."""
    return _read_table(path, TRAIN_COLUMNS, "trains")


def read_presence(path):
    """The CSV of `wavtokeb-cli presence`, one row per period and location: period_start as a
    UTC time (the offset it was written with is taken into account), counts as nullable
    integers. An empty count (a period without recording effort) is missing, never 0."""
    return _read_table(path, PRESENCE_COLUMNS, "presence")
