"""The tables of `wavtokeb-cli trains` and `wavtokeb-cli presence`, typed.

An empty count in the presence table means no recording effort in that period: it is read as
missing (a nullable integer), never as 0."""

import csv
import os

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


def _bad(texts, name, bad):
    """Raises _BadCell for the first of the cells marked bad."""
    at = np.flatnonzero(bad)
    if len(at):
        raise _BadCell(int(at[0]), name, texts[int(at[0])])


def _numbers(texts, name):
    """The cells as numbers (NaN for an empty cell); raises _BadCell for one that is no number."""
    if _tables.have_pandas():
        values = _tables.pd.to_numeric(
            _tables.pd.Series(texts, dtype=object), errors="coerce"
        ).to_numpy(dtype=np.float64)
        empty = np.array([t == "" for t in texts], dtype=bool)
        _bad(texts, name, np.isnan(values) & ~empty)
        return values
    values = np.full(len(texts), np.nan)
    for i, t in enumerate(texts):
        if t:
            try:
                values[i] = float(t)
            except ValueError:
                raise _BadCell(i, name, t) from None
    return values


def _parse_int(texts, name):
    values = _numbers(texts, name)
    missing = np.isnan(values)
    _bad(texts, name, ~missing & (np.floor(values) != values))
    return _tables.Nullable(np.where(missing, 0, values).astype(np.int64), missing)


def _parse_float(texts, name):
    return _numbers(texts, name)


def _offset_minutes(suffix):
    """The offset of a time's suffix (Z, +hh:mm, -hh:mm) in minutes; None for another one."""
    if suffix == "Z":
        return 0
    if len(suffix) == 6 and suffix[0] in "+-" and suffix[3] == ":":
        try:
            m = int(suffix[1:3]) * 60 + int(suffix[4:])
        except ValueError:
            return None
        return m if suffix[0] == "+" else -m
    return None


def _parse_time(texts, name):
    """ISO 8601 times that end in Z or an offset (+hh:mm): the instants, in the offset they
    were all written with (UTC where they differ)."""
    ns = np.full(len(texts), _tables.NAT, dtype=np.int64)
    offsets = set()
    for i, t in enumerate(texts):
        if not t:
            continue
        suffix = "Z" if t.endswith("Z") else t[-6:]
        offset = _offset_minutes(suffix)
        try:
            if offset is None:
                raise ValueError(t)
            local = np.datetime64(t[: len(t) - len(suffix)], "ns")
        except ValueError:
            raise _BadCell(i, name, t) from None
        ns[i] = (local - np.timedelta64(offset, "m")).astype(np.int64)
        offsets.add(offset)
    return _tables.Times(ns, offsets.pop() if len(offsets) == 1 else 0)


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
    try:
        for k, name in enumerate(heading):
            texts = [row[k] for row in rows]
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
