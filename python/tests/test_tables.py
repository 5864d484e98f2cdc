"""The tables of the trains and presence commands, typed; convert() and its failures."""

import subprocess

import pandas as pd
import pytest

import wavtokeb

TRAINS = (
    "train,location,recording,start,end,clicks,ici_ms_modal,ici_ms_min,ici_ms_max,khz_median,"
    "pmax_median,class,quality,buzz_clicks,encounter\r\n"
    "1,REEF,/data/REEF.20240611080000.wav,2024-06-11T08:00:05.521525Z,"
    "2024-06-11T08:00:07.000000Z,42,48.5,30.1,70.2,131.2,56,nbhf,high,5,1\r\n"
    "2,REEF,/data/REEF.20240611080000.wav,2024-06-11T08:00:09.000000Z,"
    "2024-06-11T08:00:19.000000Z,100,100.0,99.5,100.5,129.0,80,sonar,moderate,0,\r\n"
)

PRESENCE = (
    "period_start,location,recorded_minutes,recorded_s,nbhf_dpm,dolphin_dpm,sonar_minutes,"
    "buzz_minutes,nbhf_trains,encounters\r\n"
    "2024-06-11T00:00:00+02:00,REEF,60,3600.000000,7,0,3,1,12,2\r\n"
    "2024-06-11T01:00:00+02:00,REEF,0,0.000000,,,,,,\r\n"
    "2024-06-11T02:00:00+02:00,REEF,10,540.500000,0,0,0,0,0,0\r\n"
)


def test_trains_are_typed(tmp_path):
    path = tmp_path / "trains.csv"
    path.write_text(TRAINS, newline="")
    t = wavtokeb.read_trains(path)
    assert list(t.columns) == TRAINS.split("\r\n")[0].split(",")
    assert str(t.start.dtype) == "datetime64[ns, UTC]"
    assert t.start[0] == pd.Timestamp("2024-06-11T08:00:05.521525Z")
    assert (t.end - t.start)[1] == pd.Timedelta(seconds=10)
    assert str(t.clicks.dtype) == "Int64" and list(t.clicks) == [42, 100]
    assert t.encounter[0] == 1 and t.encounter.isna()[1]
    assert list(t["class"].astype(str)) == ["nbhf", "sonar"]
    assert t.quality.cat.ordered and list(t.quality > "moderate") == [True, False]
    assert (t[t.quality >= "moderate"].train == [1, 2]).all()


def test_presence_without_effort_is_missing_never_zero(tmp_path):
    path = tmp_path / "presence.csv"
    path.write_text(PRESENCE, newline="")
    p = wavtokeb.read_presence(path)
    # The offset the periods were written with is kept: days and hours stay local.
    assert p.period_start[0] == pd.Timestamp("2024-06-10T22:00:00Z")
    assert p.period_start.dt.hour.tolist() == [0, 1, 2]
    assert str(p.nbhf_dpm.dtype) == "Int64"
    assert p.loc[1, ["nbhf_dpm", "dolphin_dpm", "encounters"]].isna().all()
    assert p.nbhf_dpm[2] == 0 and not pd.isna(p.nbhf_dpm[2])
    # DPM per recorded hour leaves the hour without effort out.
    rate = (60 * p.nbhf_dpm / p.recorded_minutes).astype("Float64")
    assert rate[0] == 7 and pd.isna(rate[1]) and rate[2] == 0
    assert p.recorded_s[2] == 540.5


@pytest.mark.parametrize(
    "text,reader,match",
    [
        (TRAINS.replace("khz_median", "khz"), wavtokeb.read_trains,
         "line 1: .* lacks the column khz_median"),
        (TRAINS.replace(",42,", ",4x2,"), wavtokeb.read_trains,
         "line 2: clicks '4x2' does not read"),
        (TRAINS.replace("Z,100,", "Q,100,"), wavtokeb.read_trains, "line 3: end"),
        (TRAINS.replace(",high,", ",great,"), wavtokeb.read_trains, "line 2: quality 'great'"),
        (TRAINS.replace(",0,\r\n", ",0\r\n"), wavtokeb.read_trains,
         "line 3: 14 cells where the heading has 15"),
        (PRESENCE.replace(",7,", ",7.5,"), wavtokeb.read_presence, "line 2: nbhf_dpm '7.5'"),
        (TRAINS, wavtokeb.read_presence, "no table of `wavtokeb-cli presence`"),
        ("", wavtokeb.read_presence, "line 1: the file is empty"),
    ],
)
def test_tables_that_do_not_read_name_the_line(tmp_path, text, reader, match):
    path = tmp_path / "table.csv"
    path.write_text(text, newline="")
    with pytest.raises(ValueError, match=match):
        reader(path)


def test_without_pandas_the_tables_are_numpy_arrays(tmp_path, monkeypatch):
    from wavtokeb import _tables

    path = tmp_path / "presence.csv"
    path.write_text(PRESENCE, newline="")
    with_pandas = wavtokeb.read_presence(path)
    monkeypatch.setattr(_tables, "pd", None)
    p = wavtokeb.read_presence(path)
    assert list(p["nbhf_dpm"].mask) == [False, True, False]
    assert (p["period_start"] == with_pandas.period_start.dt.tz_convert(None).to_numpy()).all()


def test_convert_runs_the_tool_and_raises_its_message(scenes, tmp_path):
    folder = scenes.recordings([("LOC.20240611080000.wav", 3, 51)])
    out = wavtokeb.convert(folder, tmp_path / "out", cli=scenes.cli, exact_start=True, quiet=True)
    assert out == tmp_path / "out" and len(wavtokeb.read_folder(out).header) == 1
    # A second run into the folder is refused: nothing is replaced.
    with pytest.raises(wavtokeb.ConversionError, match="there already") as e:
        wavtokeb.convert([folder], out, cli=scenes.cli)
    assert e.value.status == 2 and "--overwrite" in e.value.message
    with pytest.raises(wavtokeb.ConversionError) as e:
        wavtokeb.convert([folder], tmp_path / "other", cli=scenes.cli, preset="loud")
    assert e.value.status == 2 and "loud" in str(e.value)
    with pytest.raises(FileNotFoundError):
        wavtokeb.convert([folder], tmp_path / "x", cli=tmp_path / "no-such-tool")


def test_options_become_the_command_line():
    from wavtokeb._convert import options_to_args

    assert options_to_args(
        {"jobs": 2, "exact_start": True, "no_linkage": False, "site": None,
         "set": ["A=1", "B=2"], "time_shift": "-02:00"}
    ) == ["--jobs", "2", "--exact-start", "--set", "A=1", "--set", "B=2", "--time-shift", "-02:00"]


def _has_command(cli, name):
    listed = subprocess.run([cli, "--help"], capture_output=True, text=True).stdout
    return any(line.split()[1:2] == [name] for line in listed.splitlines() if line.strip())


def test_the_tools_own_trains_and_presence_tables(scenes, cli, tmp_path):
    # What trains and presence write for two locations with a gap: typed, joined with the
    # clicks by location, periods without effort missing.
    if not (_has_command(cli, "trains") and _has_command(cli, "presence")):
        pytest.skip("this wavtokeb-cli has no trains and presence commands")
    out = scenes.convert(
        [
            ("HARBOUR.20230517140000.wav", 30, 81),
            ("HARBOUR.20230517160000.wav", 20, 82),
            ("REEF.20230517140100.wav", 25, 83),
        ]
    )
    tables = {}
    for name, args in {
        "trains": ["trains", out],
        "hours": ["presence", out, "--per", "hour"],
        "days": ["presence", out, "--per", "day", "--utc-offset", "+02:00"],
    }.items():
        path = tmp_path / f"{name}.csv"
        done = subprocess.run([cli, *args], capture_output=True)
        assert done.returncode == 0, done.stderr.decode()
        path.write_bytes(done.stdout)
        tables[name] = path
    clicks = wavtokeb.read_folder(out).clicks
    trains = wavtokeb.read_trains(tables["trains"])
    assert len(trains) > 0 and str(trains.start.dtype) == "datetime64[ns, UTC]"
    assert set(trains.location.astype(str)) <= set(clicks.location.astype(str))
    assert (trains.end >= trains.start).all() and (trains.clicks > 0).all()
    # Each train lies among the clicks of its location.
    for location, rows in trains.groupby(trains.location.astype(str)):
        times = clicks.time[clicks.location == location]
        assert (rows.start >= times.min()).all() and (rows.end <= times.max()).all()
    hours = wavtokeb.read_presence(tables["hours"])
    assert str(hours.nbhf_dpm.dtype) == "Int64"
    without = hours[hours.recorded_minutes == 0]
    assert len(without) > 0, "the hour 15:00 of HARBOUR has no recording"
    assert without[["nbhf_dpm", "dolphin_dpm", "nbhf_trains"]].isna().all().all()
    assert hours[hours.recorded_minutes > 0].nbhf_dpm.notna().all()
    days = wavtokeb.read_presence(tables["days"])
    assert (days.period_start.dt.hour == 0).all() and str(days.period_start.dt.tz) == "UTC+02:00"
