"""The two text files beside a TK1 file: the source-linkage file (NAME.txt: one line per
recording, the minute it was given, a tab, its path) and the recordings table
(NAME.recordings.csv: each recording's exact start and where its first sample lies in the TK1
file)."""

import os
import re

import numpy as np

from ._tk1 import TK1Error

MICROSECONDS_PER_MINUTE = 60_000_000
# Days from 1899-12-30, where minute numbers begin, to 1970-01-01.
EPOCH_TO_1970_DAYS = 25569
EPOCH_TO_1970_US = EPOCH_TO_1970_DAYS * 1440 * MICROSECONDS_PER_MINUTE


def _lines(path, what):
    """The lines of a side file without their line ends (CR LF or LF)."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise TK1Error(path, "the file", f"{what} cannot be read: {e.strerror}") from e
    text = data.decode("utf-8", errors="surrogateescape")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return [line[:-1] if line.endswith("\r") else line for line in lines]


class LinkageLine:
    __slots__ = ("minute", "path")

    def __init__(self, minute, path):
        self.minute = minute
        self.path = path


_LINKAGE_LINE = re.compile(r"([+-]?[0-9]+)\t(.+)", re.S)


def read_linkage(path):
    """The lines of a source-linkage file; a line that is no linkage line (a minute of at least
    0, a tab, a path) raises TK1Error naming it."""
    out = []
    for number, line in enumerate(_lines(path, "the source-linkage file"), start=1):
        m = _LINKAGE_LINE.fullmatch(line)
        minute = int(m.group(1)) if m else -1
        if not m or minute < 0 or minute > 0x7FFFFFFF:
            raise TK1Error(path, f"line {number}", "no source linkage line (minute, tab, path)")
        out.append(LinkageLine(minute, m.group(2)))
    return out


_ISO = re.compile(
    r"([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})(?:\.([0-9]{1,6}))?(Z?)"
)
_ISO_SHAPE = re.compile(
    r"(?!0000)[0-9]{4}-[0-9]{2}-[0-9]{2}T([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9](\.[0-9]{1,6})?Z?"
)


def _days_from_civil(y, m, d):
    """Days since 1970-01-01 of a date of the proleptic Gregorian calendar."""
    y -= m <= 2
    era = (y if y >= 0 else y - 399) // 400
    yoe = y - era * 400
    doy = (153 * (m + (-3 if m > 2 else 9)) + 2) // 5 + d - 1
    doe = yoe * 365 + yoe // 4 - yoe // 100 + doy
    return era * 146097 + doe - 719468


def _days_in_month(y, m):
    if m == 2:
        return 29 if (y % 4 == 0 and y % 100 != 0) or y % 400 == 0 else 28
    return 30 if m in (4, 6, 9, 11) else 31


def parse_iso_us(text):
    """Microseconds since 1899-12-30 00:00 of "2021-06-10T03:36:54.250000Z" (fraction and Z
    optional) and whether it ended in Z; None for text that is no such time."""
    m = _ISO.fullmatch(text)
    if not m:
        return None
    y, mo, d, h, mi, s = (int(g) for g in m.groups()[:6])
    if not (1 <= y and 1 <= mo <= 12 and 1 <= d <= _days_in_month(y, mo)):
        return None
    if h > 23 or mi > 59 or s > 59:
        return None
    fraction = m.group(7) or ""
    us = int(fraction.ljust(6, "0")) if fraction else 0
    days = _days_from_civil(y, mo, d) + EPOCH_TO_1970_DAYS
    return ((days * 1440 + h * 60 + mi) * 60 + s) * 1_000_000 + us, m.group(8) == "Z"


_SECONDS = re.compile(r"(-?)([0-9]{1,12})(?:\.([0-9]{1,6}))?")


def parse_seconds_us(text):
    """"-1.500000" seconds as microseconds; None for other text."""
    m = _SECONDS.fullmatch(text)
    if not m:
        return None
    us = int(m.group(2)) * 1_000_000 + int((m.group(3) or "").ljust(6, "0") or 0)
    return -us if m.group(1) else us


def _count(text):
    return int(text) if re.fullmatch(r"[0-9]{1,18}", text) else None


class RecordingRow:
    __slots__ = ("cells", "path", "start_us", "zoned", "correction_us", "rate_hz", "samples",
                 "placed_us")


# The columns a recordings table needs, and those read when they are there.
_NEEDED = ("path", "start", "placed_minute")


def csv_cells(line):
    """The cells of one line of a CSV table (no line breaks within cells): a quoted cell may
    hold commas and doubled quotes; any other character, a carriage return too, is itself."""
    if '"' not in line:
        return line.split(",")
    cells, cell, quoted, k = [], [], False, 0
    while k < len(line):
        ch = line[k]
        if quoted:
            if ch != '"':
                cell.append(ch)
            elif k + 1 < len(line) and line[k + 1] == '"':
                cell.append('"')
                k += 1
            else:
                quoted = False
        elif ch == '"':
            quoted = True
        elif ch == ",":
            cells.append("".join(cell))
            cell = []
        else:
            cell.append(ch)
        k += 1
    cells.append("".join(cell))
    return cells


def _times_us(texts):
    """parse_iso_us() of many texts at once: (microseconds, zoned), or the index of the first
    text that is no time."""
    for i, t in enumerate(texts):
        if not _ISO_SHAPE.fullmatch(t):
            return i
    try:
        us = np.array([t.rstrip("Z") for t in texts], dtype="datetime64[us]").astype(np.int64)
    except ValueError:  # a day that its month does not have
        return next(i for i, t in enumerate(texts) if parse_iso_us(t) is None)
    return us + EPOCH_TO_1970_US, np.array([t.endswith("Z") for t in texts], dtype=bool)


def read_recordings(path):
    """The rows of a recordings table and its heading; a table that does not read raises
    TK1Error naming the line. Cells are found by the heading's names, so columns added later
    are ignored; rate_hz and samples may be missing (then 0)."""
    lines = _lines(path, "the recordings table")
    heading = csv_cells(lines[0]) if lines else []
    if any(name not in heading for name in _NEEDED):
        raise TK1Error(
            path, "line 1", "no recordings table heading (path, start, ..., placed_minute)"
        )
    col = {name: heading.index(name) for name in heading[::-1]}
    read = ("path", "start", "placed_minute", "time_source", "correction_s", "rate_hz", "samples")
    needed = 1 + max(col[name] for name in read if name in col)
    if len(lines) > 1 and lines[-1] == "":
        lines = lines[:-1]  # a blank last line ends the table
    table = [csv_cells(line) for line in lines[1:]]

    def bad(i):
        return TK1Error(path, f"line {i + 2}", "no recordings table row")

    for i, cells in enumerate(table):
        if len(cells) < needed:
            raise bad(i)
    placed = _times_us([cells[col["placed_minute"]] for cells in table])
    if isinstance(placed, int):
        raise bad(placed)
    dated = [i for i, cells in enumerate(table) if cells[col["start"]]]
    starts = _times_us([table[i][col["start"]] for i in dated])
    if isinstance(starts, int):
        raise bad(dated[starts])
    rows = []
    for i, cells in enumerate(table):
        r = RecordingRow()
        r.cells = cells
        r.path = cells[col["path"]]
        r.placed_us = int(placed[0][i])
        r.start_us, r.zoned = None, False
        r.correction_us, r.rate_hz, r.samples = 0, 0, 0
        if "correction_s" in col and cells[col["correction_s"]]:
            r.correction_us = parse_seconds_us(cells[col["correction_s"]])
        if "rate_hz" in col:
            r.rate_hz = _count(cells[col["rate_hz"]])
        if "samples" in col:
            r.samples = _count(cells[col["samples"]])
        if r.correction_us is None or r.rate_hz is None or r.samples is None:
            raise bad(i)
        if r.rate_hz > 0x7FFFFFFF:
            raise bad(i)
        rows.append(r)
    for k, i in enumerate(dated):
        rows[i].start_us, rows[i].zoned = int(starts[0][k]), bool(starts[1][k])
    return heading, rows


def side_file(tk1_path, suffix):
    """The side file of a TK1 file: its name less ".TK1" (its last four characters) plus
    suffix, where it is a regular file."""
    name = os.fsdecode(tk1_path)
    candidate = name[:-4] + suffix if len(name) >= 4 else name + suffix
    return candidate if os.path.isfile(candidate) else None
