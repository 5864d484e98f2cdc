"""The tables of the reader against what `wavtokeb-cli dump` writes for the same file, column
by column, in dump's own text."""

import csv
import io
import math
import subprocess

import numpy as np
import pandas as pd

EPOCH = pd.Timestamp("1899-12-30", tz="UTC")


def run_dump(cli, tk1, *options):
    done = subprocess.run([cli, "dump", *options, tk1], capture_output=True, check=False)
    assert done.returncode == 0, done.stderr.decode()
    return done.stdout.decode("utf-8")


def dump_rows(cli, tk1, *options):
    return list(csv.DictReader(io.StringIO(run_dump(cli, tk1, *options), newline="")))


def _fixed(values, decimals):
    """Numbers as dump writes them: the decimals given, "" for none, no minus sign on 0."""
    values = pd.Series(values).astype("Float64").to_numpy(dtype=np.float64, na_value=np.nan)
    text = np.char.mod(f"%.{decimals}f", values).astype(object)
    text[np.isnan(values)] = ""
    zero = "0." + "0" * decimals
    text[text == "-" + zero] = zero
    return text


def _whole(values):
    return np.array([str(v) for v in np.asarray(values, dtype=np.int64)], dtype=object)


def _clock(times):
    """Times as dump writes them: "yyyy-mm-dd hh:mm:ss.ffffff"."""
    return pd.Series(times).dt.strftime("%Y-%m-%d %H:%M:%S.%f").to_numpy(dtype=object)


FIELDS = [
    "ClkTime5MuSecs", "Ncyc", "PkAtPosn", "ClkIPIrangeCode", "IPIpreMax", "IPIPostMax",
    "IPIPost1", "IPIPost2", "PkMinus1", "Pmax", "PkPlus1", "IPIbefore",
    "Durationto16CycDiv256", "AmpReversalCount", "Durationto16CycLow8", "PreLastIPI",
]
KHZ = {"IPIpreMax", "IPIPostMax", "IPIPost1", "IPIPost2", "IPIbefore", "PreLastIPI"}


def click_texts(tables):
    """The click table as dump --csv writes it: {column: texts}. Checks on the way that each
    click's time is its recording's start plus its offset, or else its time in the TK1 file."""
    c = tables.clicks
    tk1_clock = c.minute + pd.to_timedelta(c.ClkTime5MuSecs.astype(np.int64) * 5, unit="us")
    out = {"DateTime": _clock(tk1_clock)}
    out["Minute"] = _whole((c.minute - EPOCH) // pd.Timedelta(minutes=1))
    for f in FIELDS:
        out[f] = _whole(c[f])
        if f in KHZ:
            out[f + "_kHz"] = _fixed(c[f + "_kHz"], 3)
        if f == "Durationto16CycLow8":
            d = c.Durationto16Cyc
            out["Durationto16Cyc"] = np.where(d.isna(), "", d.astype(str)).astype(object)
    out["source_wav"] = c.recording.astype(object).fillna("").to_numpy(dtype=object)
    out["offset_s"] = _fixed(c.offset_s, 6)
    exact = np.zeros(len(c), dtype=bool)
    r = tables.recordings
    if r is not None:
        by_name = r.set_index(r.recording.astype(str))
        start = c.recording.astype(object).map(by_name.start)
        exact = start.notna().to_numpy()
        zoned = c.recording.astype(object).map(by_name.zoned).fillna(False).to_numpy(dtype=bool)
        text = _clock(c.time) + np.where(zoned, "Z", "").astype(object)
        text[~exact] = ""
        out["recording_time"] = text
        offset = pd.to_timedelta((c.offset_s[exact] * 1e6).round().astype(np.int64), unit="us")
        assert (c.time[exact] == start[exact] + offset).all()
    assert (c.time[~exact] == tk1_clock[~exact]).all()
    return out


def _assert_texts_equal(tk1, what, got, expected):
    for name in expected[0] if expected else ():
        want = np.array([row[name] for row in expected], dtype=object)
        bad = np.flatnonzero(got[name] != want)
        assert len(bad) == 0, (
            f"{tk1}: {name} of {what} {bad[0]}: {got[name][bad[0]]!r}, dump {want[bad[0]]!r}"
        )


def assert_clicks_equal_dump(cli, tk1, tables):
    expected = dump_rows(cli, tk1, "--csv")
    got = click_texts(tables)
    assert len(tables.clicks) == len(expected), tk1
    for name in ("source_wav", "offset_s", "recording_time"):
        if expected and name not in expected[0]:
            # dump leaves the columns out without side files: the reader has none to give.
            assert (got.pop(name, np.array([""])) == "").all(), (tk1, name)
    if expected:
        assert set(got) == set(expected[0]), (tk1, set(got) ^ set(expected[0]))
    _assert_texts_equal(tk1, "click", got, expected)
    return len(expected)


def minute_texts(tables):
    m = tables.minutes
    return {
        "minute": m.minute.dt.strftime("%Y-%m-%dT%H:%M:%S").to_numpy(dtype=object),
        "recorded_s": _fixed(m.recorded_s, 6),
        "clicks": _whole(m.clicks),
        "MinuteScalerX2560": _whole(m.MinuteScalerX2560),
        "scaler": _fixed(m.scaler, 6),
        "DeadBandPlusUplift": _whole(m.DeadBandPlusUplift),
        "threshold": _whole(m.threshold),
    }


def assert_minutes_equal_dump(cli, tk1, tables):
    expected = dump_rows(cli, tk1, "--minutes-csv", "--quiet")
    assert len(tables.minutes) == len(expected)
    _assert_texts_equal(tk1, "minute", minute_texts(tables), expected)


# The text dump's names of the header fields where they differ from the reader's.
_HEADER_NAMES = {
    "TK1StartMin": "StartMin",
    "MinuteRecords": "MinuteCount",
    "LastLoggingMinCopy": "LastLoggingMin2",
}


def assert_header_equals_dump(cli, tk1, header):
    lines = run_dump(cli, tk1).split("\r\n")
    checked = 0
    for line in lines:
        cells = line.split("\t")
        if len(cells) < 2 or cells[0] in ("File", "FileBytes") or cells[0][0].isdigit():
            continue
        if cells[0] == "Summary":
            break
        name = _HEADER_NAMES.get(cells[0], cells[0])
        if name == "Constants":
            assert header[name] == [int(v) for v in cells[1].split()]
        elif name == "TK1StartMinCopies":
            assert [header["StartMin2"], header["StartMin3"]] == [int(v) for v in cells[1:3]]
        elif name.startswith("WorkingStrongLimit"):
            assert header["WorkingStrongLimit"][int(name[-1]) - 1] == int(cells[1])
        else:
            assert int(header[name]) == int(cells[1]), name
        checked += 1
    assert checked == 27
