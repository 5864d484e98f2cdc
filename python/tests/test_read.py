"""The tables of TK1 files equal what `wavtokeb-cli dump` writes for them, to the microsecond."""

import shutil
import subprocess

import numpy as np
import pandas as pd
import pytest

import wavtokeb
from dumpcheck import (
    assert_clicks_equal_dump,
    assert_header_equals_dump,
    assert_minutes_equal_dump,
)


def test_golden_files_equal_dump(cli, golden):
    # Two locations with a gap, files sharing a minute, an undated file, 576, 500, 384 and
    # 97 k samples/s.
    clicks = 0
    files = sorted(f for case in golden for f in case.glob("*.TK1"))
    assert len(files) >= 6
    for tk1 in files:
        t = wavtokeb.read_tk1(tk1)
        clicks += assert_clicks_equal_dump(cli, tk1, t)
        assert_minutes_equal_dump(cli, tk1, t)
        assert_header_equals_dump(cli, tk1, t.header)
    assert clicks > 1000


# Recordings that share minutes: one that runs into the next one's minute, one that starts
# within a minute, a gap of empty minutes; with and without --exact-start.
SHARED_MINUTES = [
    ("LOC.20240611080000.wav", 70, 11),
    ("LOC.20240611080130.wav", 20, 12),
    ("LOC.20240611080400.wav", 8, 13),
]
SAME_MINUTE = [
    ("LOC.20240611080000.wav", 20, 21),
    ("LOC.20240611080030.wav", 20, 22),
    ("LOC.20240611080215.wav", 10, 23),
]


@pytest.fixture(scope="module")
def converted(scenes):
    return {
        "shared": scenes.convert(SHARED_MINUTES),
        "shared-exact": scenes.convert(SHARED_MINUTES, exact_start=True),
        "same-minute-exact": scenes.convert(SAME_MINUTE, exact_start=True),
        "same-minute": scenes.convert(SAME_MINUTE),
    }


def _with_side_files(out, tmp_path, keep):
    """A copy of a conversion's TK1 file with only the side files named."""
    tk1 = next(out.glob("*.TK1"))
    copy = tmp_path / tk1.name
    shutil.copy(tk1, copy)
    for suffix in keep:
        shutil.copy(tk1.with_name(tk1.stem + suffix), tmp_path / (tk1.stem + suffix))
    return copy


@pytest.mark.parametrize("case", ["shared", "shared-exact", "same-minute-exact", "same-minute"])
@pytest.mark.parametrize(
    "side_files",
    [(".txt", ".recordings.csv"), (".recordings.csv",), (".txt",), ()],
    ids=["linkage+table", "table", "linkage", "none"],
)
def test_recordings_sharing_minutes_equal_dump(cli, converted, tmp_path, case, side_files):
    tk1 = _with_side_files(converted[case], tmp_path, side_files)
    t = wavtokeb.read_tk1(tk1)
    assert assert_clicks_equal_dump(cli, tk1, t) > 100
    if ".recordings.csv" in side_files:
        assert_minutes_equal_dump(cli, tk1, t)
        assert t.clicks.recording.notna().all()
        assert t.minutes.recorded_s.sum() == pytest.approx(t.recordings.duration_s.sum(), abs=1e-4)
    else:
        assert t.recordings is None
        assert t.minutes.recorded_s.isna().all()
    if not side_files:
        assert t.clicks.recording.isna().all() and t.clicks.offset_s.isna().all()


@pytest.mark.parametrize("case", ["shared", "shared-exact", "same-minute-exact", "same-minute"])
def test_clicks_go_to_the_recording_that_holds_them(scenes, converted, case):
    # The clicks the recordings were written with: each click read lies at a click of its own
    # recording, at its offset (noise adds a few clicks of other frequencies).
    files = SHARED_MINUTES if case.startswith("shared") else SAME_MINUTE
    folder = scenes.recordings(files)
    truth = {p.name[: -len(".truth.csv")]: pd.read_csv(p) for p in folder.glob("*.truth.csv")}
    t = wavtokeb.read_tk1(next(converted[case].glob("*.TK1")))
    c = t.clicks
    assert (c.offset_s >= 0).all()
    names = c.recording.astype(str).str.rsplit("/", n=1).str[-1]
    tonal = (c.IPIpreMax_kHz - 130).abs() < 15
    for name, clicks in c[tonal].groupby(names[tonal]):
        written = np.sort(truth[name].converter_s.to_numpy())
        at = np.clip(np.searchsorted(written, clicks.offset_s), 1, len(written) - 1)
        nearest = np.minimum(
            np.abs(written[at] - clicks.offset_s), np.abs(written[at - 1] - clicks.offset_s)
        )
        assert (nearest < 0.002).mean() > 0.95, name
    start = c.recording.astype(object).map(dict(zip(t.recordings.recording, t.recordings.start)))
    assert (c.time == start + pd.to_timedelta(c.offset_s * 1e6, unit="us").round("us")).all()
    if case.endswith("exact"):
        # Placed at their start second: the TK1 file's clock is the true time.
        tk1_clock = c.minute + pd.to_timedelta(c.ClkTime5MuSecs.astype(np.int64) * 5, unit="us")
        assert (c.time == tk1_clock).all()


def test_recordings_dated_by_their_soundtrap_logs_equal_dump(scenes, cli, tmp_path):
    # Three recordings of a recorder whose own logs (real ones) give their starts in UTC.
    from conftest import CORPUS

    logs = sorted((CORPUS / "soundtrap").glob("*.log.xml"))
    if len(logs) < 3:
        pytest.skip(f"the real SoundTrap logs are not in {CORPUS}")
    folder = tmp_path / "in"
    folder.mkdir()
    for seed, log in enumerate(logs):
        shutil.copy(log, folder / log.name)
        wav = folder / log.name.replace(".log.xml", ".wav")
        subprocess.run(
            [scenes.synth, "one", wav, "--rate", "96", "--seconds", "6", "--freq", "40",
             "--seed", str(seed + 70)],
            check=True,
            stdout=subprocess.DEVNULL,
        )
    out = wavtokeb.convert(folder, tmp_path / "out", cli=cli, quiet=True)
    tk1 = next(out.glob("*.TK1"))
    t = wavtokeb.read_tk1(tk1)
    assert assert_clicks_equal_dump(cli, tk1, t) > 10
    assert t.recordings.zoned.all() and (t.recordings.time_source == "log.xml").all()
    # The first log starts the recording at 03:36:54 UTC, a second before its name says.
    assert t.recordings.start[0] == pd.Timestamp("2021-06-10T03:36:54Z")
    first = t.clicks[t.clicks.recording == t.recordings.recording[0]]
    assert (first.time >= pd.Timestamp("2021-06-10T03:36:54Z")).all()
    assert (first.time < pd.Timestamp("2021-06-10T03:37:00Z")).all()


def test_tables_have_their_types(converted):
    t = wavtokeb.read_tk1(next(converted["shared"].glob("*.TK1")))
    c = t.clicks
    assert str(c.time.dtype) == "datetime64[ns, UTC]"
    assert str(c.minute.dtype) == "datetime64[ns, UTC]"
    assert c.recording.dtype == "category"
    assert str(c.Durationto16Cyc.dtype) == "Int16"
    assert c.Pmax.dtype == np.uint8 and c.IPIpreMax_kHz.dtype == np.float64
    # kHz of an IPI of 255 (255 or more) is unknown, as it is for 0.
    assert c.loc[c.IPIbefore == 255, "IPIbefore_kHz"].isna().all()
    m = t.minutes
    assert list(m.columns) == [
        "minute", "recorded_s", "clicks", "MinuteScalerX2560", "scaler", "DeadBandPlusUplift",
        "threshold",
    ]
    # Every minute of the file, the gap included, one minute apart.
    assert (m.minute.diff().dropna() == pd.Timedelta(minutes=1)).all()
    assert m.clicks.sum() == len(c)
    assert (m.loc[m.recorded_s == 0, "clicks"] == 0).all()
    assert t.header["MinuteCount"] == len(m)
    assert t.recordings.start.notna().all() and not t.recordings.zoned.any()


def test_iter_clicks_gives_the_table_in_whole_minutes(converted):
    tk1 = next(converted["same-minute"].glob("*.TK1"))
    whole = wavtokeb.read_tk1(tk1).clicks
    for chunk in (1, 37, 10**6):
        pieces = list(wavtokeb.iter_clicks(tk1, chunk=chunk))
        assert len(pieces) >= (2 if chunk < len(whole) else 1)
        joined = pd.concat(pieces, ignore_index=True)
        joined["recording"] = joined.recording.astype(whole.recording.dtype)
        pd.testing.assert_frame_equal(joined, whole)
        # No minute is split between two pieces.
        minutes = [set(p.minute) for p in pieces]
        assert all(a.isdisjoint(b) for a, b in zip(minutes, minutes[1:]))
    with pytest.raises(ValueError):
        next(wavtokeb.iter_clicks(tk1, chunk=0))


def test_a_folder_with_two_locations_and_gaps(scenes, tmp_path):
    out = scenes.convert(
        [
            ("HARBOUR.20230517140000.wav", 30, 31),
            ("HARBOUR.20230517140300.wav", 10, 32),
            ("REEF.20230517140100.wav", 15, 33),
        ],
        site="GOLD",
    )
    # A sub-folder's files are read too.
    (out / "reef").mkdir()
    for f in out.glob("GOLDREEF*"):
        f.rename(out / "reef" / f.name)
    t = wavtokeb.read_folder(out)
    assert list(t.header.location) == ["GOLDHARBOUR", "GOLDREEF"]
    assert list(t.header.file) == ["GOLDHARBOUR 2023 05 17.TK1", "reef/GOLDREEF 2023 05 17.TK1"]
    # Each file's rows are its own tables, tagged with its location and name.
    for location, name in zip(t.header.location, t.header.file):
        alone = wavtokeb.read_tk1(out / name)
        for table, part in ((t.clicks, alone.clicks), (t.minutes, alone.minutes)):
            rows = table[table.file == name]
            assert (rows.location == location).all()
            rows = rows.drop(columns=["location", "file"]).reset_index(drop=True)
            if "recording" in part:
                rows["recording"] = rows.recording.astype(str).astype(part.recording.dtype)
            pd.testing.assert_frame_equal(rows, part)
    harbour = t.minutes[t.minutes.location == "GOLDHARBOUR"]
    # 14:00 recorded, 14:01 and 14:02 a gap, 14:03 recorded.
    assert list(harbour.recorded_s.round(3)) == [30.0, 0.0, 0.0, 10.0]
    assert list(harbour.clicks[1:3]) == [0, 0] and harbour.clicks.iloc[0] > 0
    assert t.clicks.groupby("location").size().to_dict() == {
        "GOLDHARBOUR": harbour.clicks.sum(),
        "GOLDREEF": t.minutes[t.minutes.location == "GOLDREEF"].clicks.sum(),
    }
    assert list(t.recordings.location) == ["GOLDHARBOUR", "GOLDHARBOUR", "GOLDREEF"]
    with pytest.raises(ValueError, match="no TK1 file"):
        wavtokeb.read_folder(tmp_path)


def test_location_of_names():
    # As the trains and presence tables name locations: the name less its date string.
    assert wavtokeb.location_of("out/NewFileNameREEF 2024 06 11.TK1") == "NewFileNameREEF"
    assert wavtokeb.location_of("GOLDHARBOUR 2023 05 17.tk1") == "GOLDHARBOUR"
    assert wavtokeb.location_of("NewFileNameunnamed  .TK1") == "NewFileNameunnamed  "


def test_without_pandas_the_tables_are_numpy_arrays(converted, monkeypatch):
    tk1 = next(converted["shared"].glob("*.TK1"))
    with_pandas = wavtokeb.read_tk1(tk1)
    from wavtokeb import _tables

    monkeypatch.setattr(_tables, "pd", None)
    t = wavtokeb.read_tk1(tk1)
    assert isinstance(t.clicks, dict) and isinstance(t.clicks["Pmax"], np.ndarray)
    assert list(t.clicks) == list(with_pandas.clicks.columns)
    np.testing.assert_array_equal(
        t.clicks["time"], with_pandas.clicks.time.dt.tz_localize(None).to_numpy()
    )
    recording = with_pandas.clicks.recording.astype(object)
    np.testing.assert_array_equal(t.clicks["recording"], recording)
    assert t.clicks["Durationto16Cyc"].mask.sum() == with_pandas.clicks.Durationto16Cyc.isna().sum()
    np.testing.assert_array_equal(t.minutes["recorded_s"], with_pandas.minutes.recorded_s)


def test_paths_with_commas_and_quotes(scenes, cli, tmp_path):
    # The recordings table quotes such paths; they come back as they are.
    folder = tmp_path / 'deployment "A", 2024'
    shutil.copytree(scenes.recordings([("LOC.20240611080000.wav", 3, 91)]), folder)
    out = wavtokeb.convert(folder, tmp_path / "out", cli=cli, quiet=True)
    tk1 = next(out.glob("*.TK1"))
    (out / (tk1.stem + ".txt")).unlink()  # the clicks named by the table's paths
    t = wavtokeb.read_tk1(tk1)
    assert list(t.recordings.path) == [str(folder / "LOC.20240611080000.wav")]
    assert assert_clicks_equal_dump(cli, tk1, t) > 0


def test_a_start_placed_at_its_fraction_of_a_second_equals_dump(synth, cli, tmp_path):
    # A GUANO recording starting 0.25 s into a second, placed there with --exact-start: its
    # first block runs from that instant to its minute's end, and the recording goes on into
    # the next minute.
    folder = tmp_path / "in"
    subprocess.run(
        [synth, "recorder", folder, "--style", "guano", "--start", "2024-06-11T08:00:30.250000",
         "--rate", "384", "--seconds", "45"],
        check=True,
        stdout=subprocess.DEVNULL,
    )
    out = wavtokeb.convert([folder], tmp_path / "out", cli=cli, exact_start=True, quiet=True)
    tk1 = next(out.glob("*.TK1"))
    t = wavtokeb.read_tk1(tk1)
    assert t.recordings.placed_minute.iloc[0].strftime("%H:%M:%S.%f") == "08:00:30.250000"
    assert assert_clicks_equal_dump(cli, tk1, t) > 100
    assert_minutes_equal_dump(cli, tk1, t)
