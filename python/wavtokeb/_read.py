"""Reading TK1 files and the side files beside them into tables: one row per click, one row per
minute, one row per recording."""

import contextlib
import os

import numpy as np

from . import _tables
from ._effort import recorded_seconds
from ._sidecars import (
    EPOCH_TO_1970_US,
    parse_seconds_us,
    TK1Error,
    read_linkage,
    read_recordings,
    side_file,
)
from ._sources import LinkageWalk, TableWalk
from ._tk1 import MINUTE_MARKER, RECORD_DTYPE, Body

_US_PER_MINUTE = 60_000_000
_OUT_OF_RANGE = "a time outside the years 1678 to 2261, which datetime64[ns] holds"
# The times a datetime64[ns] holds, in microseconds since 1899-12-30.
_FIRST_US = -(2**63 - 1) // 1000 + EPOCH_TO_1970_US + 1
_LAST_US = (2**63 - 1) // 1000 + EPOCH_TO_1970_US - 1


def _khz_table():
    """4000 / IPI to three decimals (rounded half up), the frequency of a period in 250 ns
    units; none for 0 and for 255, which stands for 255 or more."""
    table = np.full(256, np.nan)
    ipi = np.arange(1, 255)
    table[1:255] = ((8_000_000 // ipi + 1) // 2) / 1000
    return table


_KHZ = _khz_table()


def _round6(x):
    """Seconds as they are written with six decimals (to the microsecond), correctly
    rounded."""
    x = np.asarray(x, dtype=np.float64)
    scaled = x * 1e6
    out = np.rint(scaled)
    # Where the product lies too near a half to tell, the decimal text decides.
    near = np.abs(scaled - np.floor(scaled) - 0.5) < 1e-6
    for i in np.flatnonzero(near):
        out[i] = round(float(f"{x[i]:.6f}") * 1e6)
    return out / 1e6


class Sources:
    """What the side files of a TK1 file tell of its recordings: each recording's name (as the
    linkage file gives it, else as the recordings table does), the recordings table's rows and
    the walk that attributes the clicks (by the table's placement where it is there, else by
    the linkage file's minutes)."""

    def __init__(self, tk1_path):
        self.tk1_path = tk1_path
        linkage_path = side_file(tk1_path, ".txt")
        table_path = side_file(tk1_path, ".recordings.csv")
        lines = read_linkage(linkage_path) if linkage_path else None
        self.heading, self.rows = read_recordings(table_path) if table_path else (None, None)
        if lines is not None and self.rows is not None and len(lines) != len(self.rows):
            raise TK1Error(
                table_path,
                f"line {len(self.rows) + 1}",
                f"it has {len(self.rows)} rows for the {len(lines)} recordings of the "
                f"source-linkage file {os.fsdecode(linkage_path)}",
            )
        for i, row in enumerate(self.rows or ()):
            for us in (row.placed_us, row.start_us):
                if us is not None and not _FIRST_US <= us <= _LAST_US:
                    raise TK1Error(table_path, f"line {i + 2}", _OUT_OF_RANGE)
        if lines is not None:
            self.names = [line.path for line in lines]
        else:
            self.names = [row.path for row in self.rows or ()]
        self._lines = lines
        self.table_path = table_path

    def walk(self):
        """A new walk over the clicks of the file."""
        if self.rows is not None:
            return TableWalk(self.rows)
        return LinkageWalk([line.minute for line in self._lines or ()])

    def recordings(self):
        """The recordings table's columns, typed, with the name the click table gives each
        recording."""
        if self.rows is None:
            return None
        columns = {"recording": _tables.Categorical(np.arange(len(self.rows)), self.names)}
        for k, name in enumerate(self.heading):
            if name in columns:
                continue
            cells = [row.cells[k] if k < len(row.cells) else "" for row in self.rows]
            columns[name] = _recordings_column(name, cells, self.rows)
        columns["zoned"] = np.array([row.zoned for row in self.rows], dtype=bool)
        return columns


def _times_of_us(us):
    """Microseconds since 1899-12-30 as nanoseconds since 1970-01-01."""
    return _tables.Times((np.asarray(us, dtype=np.int64) - EPOCH_TO_1970_US) * 1000)


def _seconds_or_nan(text):
    us = parse_seconds_us(text)
    return np.nan if us is None else us / 1e6


def _recordings_column(name, cells, rows):
    if name == "start":
        return _tables.Times(
            [
                _tables.NAT if row.start_us is None else (row.start_us - EPOCH_TO_1970_US) * 1000
                for row in rows
            ]
        )
    if name == "placed_minute":
        return _times_of_us([row.placed_us for row in rows])
    if name in ("rate_hz", "samples"):
        return np.array([getattr(row, name) for row in rows], dtype=np.int64)
    if name == "correction_s":
        return np.array(
            [row.correction_us / 1e6 if c else np.nan for row, c in zip(rows, cells)]
        )
    if name in ("duration_s", "placed_offset_s"):
        # Written for people: where a cell does not read as seconds, it is missing.
        return np.array([_seconds_or_nan(c) for c in cells], dtype=np.float64)
    if name == "path":
        return _tables.Categorical(np.arange(len(cells)), cells)
    return np.array(cells, dtype=object)


def _click_rows(body, first, last):
    """The click records of counted minutes first .. last - 1 (minute 0: clicks before the
    first counted minute record) as rows of 16 bytes."""
    bounds = lambda k: 0 if k == 0 else int(body.minute_at[k - 1])  # noqa: E731
    stop = bounds(last) if last <= body.counted_minutes else body.end - 1
    rows = body.raw[1 + bounds(first) : 1 + stop]
    return np.ascontiguousarray(rows[rows[:, 0] != MINUTE_MARKER])


# The click table's columns and how they are stored: the fields of the record in its order,
# each interval with its frequency beside it.
_CLICK_COLUMNS = [("time", np.int64), ("minute", np.int64), ("ClkTime5MuSecs", np.int32)]
for _name in (
    "Ncyc", "PkAtPosn", "ClkIPIrangeCode", "IPIpreMax", "IPIPostMax", "IPIPost1", "IPIPost2",
    "PkMinus1", "Pmax", "PkPlus1", "IPIbefore", "Durationto16CycDiv256", "AmpReversalCount",
    "Durationto16CycLow8", "Durationto16Cyc", "PreLastIPI",
):
    _CLICK_COLUMNS.append((_name, np.int16 if _name == "Durationto16Cyc" else np.uint8))
    if _name in ("IPIpreMax", "IPIPostMax", "IPIPost1", "IPIPost2", "IPIbefore", "PreLastIPI"):
        _CLICK_COLUMNS.append((_name + "_kHz", np.float64))
_CLICK_COLUMNS += [("recording", np.int32), ("offset_s", np.float64)]
# Clicks worked on at a time: the pieces stay in the processor's caches.
_PIECE = 1 << 18


def _minute_ranges(body, chunk, first=0, last=None):
    """Counted minutes first .. last - 1 in ranges of about chunk clicks (a minute with more
    alone): (first, last, clicks before first, clicks before last) of each."""
    last = body.counted_minutes + 1 if last is None else last
    before = body.clicks_before
    while first < last:
        reach = np.searchsorted(before, before[first] + chunk, side="right") - 1
        end = min(max(int(reach), first + 1), last)
        yield first, end, int(before[first]), int(before[end])
        first = end


class _ClickTable:
    """The columns of the clicks of counted minutes first .. last - 1, filled piece by piece."""

    def __init__(self, body, first, last, finder, sources):
        self.body, self.finder, self.sources = body, finder, sources
        counts = body.clicks[first:last]
        n = int(counts.sum())
        self.c = {name: np.empty(n, dtype=dtype) for name, dtype in _CLICK_COLUMNS}
        self.missing_duration = np.empty(n, dtype=bool)
        done = int(body.clicks_before[first])
        for a, b, lo, hi in _minute_ranges(body, _PIECE, first, last):
            self._fill(a, b, lo - done, hi - done)

    def columns(self):
        c = dict(self.c)
        c["time"] = _tables.Times(c["time"])
        c["minute"] = _tables.Times(c["minute"])
        c["Durationto16Cyc"] = _tables.Nullable(c["Durationto16Cyc"], self.missing_duration)
        c["recording"] = _tables.Categorical(c["recording"], self.sources.names)
        return c

    def _fill(self, first, last, at, to):
        body, sources = self.body, self.sources
        out = {name: column[at:to] for name, column in self.c.items()}
        rows = _click_rows(body, first, last)
        r = rows.view(RECORD_DTYPE).ravel()
        times = (r["TimeAndNcyc"] >> 8).astype(np.int64)
        per_minute = body.clicks[first:last]
        minute_numbers = body.start_minute() - 1 + np.arange(first, last, dtype=np.int64)
        held = per_minute > 0
        minute_us = np.repeat(minute_numbers * _US_PER_MINUTE, per_minute)
        within = times * 5
        entry, offset_us, time_us = self.finder.attribute(
            minute_numbers[held], per_minute[held], minute_us + within, within
        )
        known = entry >= 0
        if len(time_us) and (time_us.min() < _FIRST_US or time_us.max() > _LAST_US):
            # A recording's start far from where it was placed.
            outside = (time_us < _FIRST_US) | (time_us > _LAST_US)
            row = int(entry[np.argmax(outside)])
            if row >= 0 and sources.table_path:
                raise TK1Error(sources.table_path, f"line {row + 2}", _OUT_OF_RANGE)
            raise TK1Error(sources.tk1_path, "byte 256", _OUT_OF_RANGE)
        out["time"][:] = (time_us - EPOCH_TO_1970_US) * 1000
        out["minute"][:] = (minute_us - EPOCH_TO_1970_US) * 1000
        out["ClkTime5MuSecs"][:] = times
        np.divide(offset_us, 1e6, out=out["offset_s"])
        out["offset_s"][~known] = np.nan
        out["recording"][:] = entry
        nibbles4 = r["PkAtPosnAndRangeCode"]
        np.right_shift(nibbles4, 4, out=out["PkAtPosn"])
        np.bitwise_and(nibbles4, 15, out=out["ClkIPIrangeCode"])
        nibbles13 = r["DurationHighAndReversals"]
        np.right_shift(nibbles13, 4, out=out["Durationto16CycDiv256"])
        np.bitwise_and(nibbles13, 15, out=out["AmpReversalCount"])
        for name in (
            "Ncyc", "IPIpreMax", "IPIPostMax", "IPIPost1", "IPIPost2", "PkMinus1", "Pmax",
            "PkPlus1", "IPIbefore", "Durationto16CycLow8", "PreLastIPI",
        ):
            out[name][:] = r[name]
            if name + "_kHz" in out:
                out[name + "_kHz"][:] = _KHZ[out[name]]
        high = out["Durationto16CycDiv256"]
        duration = out["Durationto16Cyc"]
        np.left_shift(high, 8, out=duration, dtype=np.int16)
        duration += out["Durationto16CycLow8"]
        np.greater_equal(high, 15, out=self.missing_duration[at:to])


def _minute_columns(body, sources):
    counted = body.counted_minutes
    minute_records = body.raw[1 : body.end][body.minute_at].view(RECORD_DTYPE).ravel()
    numbers = body.start_minute() + np.arange(counted, dtype=np.int64)
    if sources.rows is not None:
        with_recording, seconds = recorded_seconds(sources.rows)
        at = np.searchsorted(with_recording, numbers)
        found = at < len(with_recording)
        found[found] = with_recording[at[found]] == numbers[found]
        recorded = np.zeros(counted)
        recorded[found] = seconds[at[found]]
        recorded = _round6(recorded)
    else:
        recorded = np.full(counted, np.nan)
    scaler = minute_records["Durationto16CycLow8"]
    uplift = minute_records["DurationHighAndReversals"]
    return {
        "minute": _times_of_us(numbers * _US_PER_MINUTE),
        "recorded_s": recorded,
        "clicks": body.clicks[1:],
        "MinuteScalerX2560": np.array(scaler),
        "scaler": _round6(scaler / 2560.0),
        "DeadBandPlusUplift": np.array(uplift),
        "threshold": body.header["DeadBandSetting"] + uplift.astype(np.int32),
    }


def _open(path, mapped=False):
    body = Body(path, mapped)
    sources = Sources(path)
    last = body.start_minute() + body.counted_minutes
    if not _FIRST_US <= last * _US_PER_MINUTE <= _LAST_US:
        raise TK1Error(path, "byte 256", _OUT_OF_RANGE)
    return body, sources


class TK1Tables:
    """The tables of one TK1 file (read_tk1) or of every TK1 file of a folder (read_folder).

    header: the header's fields by name (read_folder: a table, one row per file);
    clicks: one row per click; minutes: one row per minute of the file, gaps included;
    recordings: one row per recording of the recordings table (None without one)."""

    def __init__(self, path, header, clicks, minutes, recordings):
        self.path = path
        self.header = header
        self.clicks = clicks
        self.minutes = minutes
        self.recordings = recordings

    def __repr__(self):
        def rows(t):
            if t is None:
                return 0
            return len(t) if hasattr(t, "columns") else len(next(iter(t.values()), ()))

        return (
            f"<wavtokeb tables of {os.fsdecode(self.path)!r}: {rows(self.clicks)} clicks, "
            f"{rows(self.minutes)} minutes, {rows(self.recordings)} recordings>"
        )


@contextlib.contextmanager
def _small_pages():
    """numpy asks the kernel for huge pages for large arrays; on a busy machine the kernel then
    compacts memory at every fault, which took four times as long as the reading itself. The
    columns of a large file are made of ordinary pages (numpy's setting is restored after)."""
    toggle = getattr(np.core.multiarray, "_set_madvise_hugepage", None)
    before = toggle(False) if toggle else None
    try:
        yield
    finally:
        if toggle:
            toggle(before)


def _read_columns(path):
    body, sources = _open(path, mapped=True)
    with _small_pages():
        clicks = _ClickTable(body, 0, body.counted_minutes + 1, sources.walk(), sources)
    clicks = clicks.columns()
    minutes = _minute_columns(body, sources)
    return body.header, clicks, minutes, sources.recordings()


def read_tk1(path):
    """The tables of a TK1 file and the side files beside it (its source-linkage file
    NAME.txt and its recordings table NAME.recordings.csv, where they are there).

    Raises TK1Error (a ValueError) naming the file and the byte where a file is no sound TK1
    file: a foreign file, a partial record, no end record, data after it, a click time beyond
    its minute, header counts that disagree with the records; or naming the side file and the
    line that does not read."""
    header, clicks, minutes, recordings = _read_columns(path)
    return TK1Tables(
        path,
        header,
        _tables.frame(clicks),
        _tables.frame(minutes),
        _tables.frame(recordings) if recordings is not None else None,
    )


def iter_clicks(path, chunk=1_000_000):
    """The click table of a TK1 file in pieces of about chunk clicks (whole minutes each), for
    files larger than memory: the file is mapped, not read whole. The file's shape is checked
    before the first piece."""
    if chunk < 1:
        raise ValueError("chunk must be at least 1")
    body, sources = _open(path, mapped=True)
    finder = sources.walk()
    for first, last, lo, hi in _minute_ranges(body, chunk):
        if hi > lo:
            yield _tables.frame(_ClickTable(body, first, last, finder, sources).columns())


def location_of(tk1_name):
    """The location of a TK1 file, as the trains and presence tables name it: the file's name
    less its folder, its extension and the date string " yyyy mm dd" before it ("SiteREEF 2024
    06 11.TK1" is SiteREEF)."""
    name = os.path.basename(os.fsdecode(tk1_name))
    dot = name.rfind(".")
    if dot > 0:
        name = name[:dot]
    n = len(name)
    if n > 11 and name[n - 11] == " " and name[n - 6] == " " and name[n - 3] == " ":
        name = name[: n - 11]
    return name


def tk1_files(folder):
    """The TK1 files of a folder and its sub-folders (*.TK1 in any case), by location and,
    within a location, by their start minutes."""
    found = []
    for top, folders, names in os.walk(folder):
        folders[:] = sorted(f for f in folders if not f.startswith("."))
        for name in names:
            path = os.path.join(top, name)
            if not name.startswith(".") and name.upper().endswith(".TK1") and os.path.isfile(path):
                with open(path, "rb") as f:
                    f.seek(256)
                    start = int.from_bytes(f.read(4), "big")
                found.append((location_of(name), start, path))
    return [path for _, _, path in sorted(found)]


def read_folder(path):
    """The tables of every TK1 file of an output folder (and its sub-folders), one after
    another, each row with its location (the file's name less its date, as the trains and
    presence tables give it) and its file (its path within the folder)."""
    files = tk1_files(path)
    if not files:
        raise ValueError(f"{os.fsdecode(path)}: no TK1 file in this folder")
    headers, clicks, minutes, recordings = [], [], [], []
    for f in files:
        name = os.path.relpath(f, path)
        location = location_of(f)
        header, c, m, r = _read_columns(f)
        tags = {"location": location, "file": name}
        headers.append(dict(tags, **header))
        for table, part in ((clicks, c), (minutes, m), (recordings, r)):
            if part is None:
                continue
            rows = len(next(iter(part.values())))
            table.append(
                {
                    **{k: _tables.Categorical.repeat(v, rows) for k, v in tags.items()},
                    **part,
                }
            )
    header_table = headers
    if _tables.have_pandas():
        header_table = _tables.pd.DataFrame(headers)
    return TK1Tables(
        path,
        header_table,
        _tables.frame(_tables.concat(clicks)),
        _tables.frame(_tables.concat(minutes)),
        _tables.frame(_tables.concat(recordings)) if recordings else None,
    )
