"""Clicks go to the recordings dump gives them, for recordings and clicks laid out at random:
files that overlap, follow each other within a minute, lie apart, have no start or no known
length, at rates whose block ends open minutes; clicks that step back in time, lie in a
block's last ticks or before the first recording."""

import random

import pytest

import wavtokeb
from dumpcheck import assert_clicks_equal_dump, assert_minutes_equal_dump
from tk1files import write_linkage, write_table, write_tk1

MINUTE0 = 65_454_240  # 2024-06-11 08:00
US0 = MINUTE0 * 60_000_000


def _scene(rng, minutes):
    """Recordings (as table rows) and the click times of each minute."""
    rows = []
    at = rng.choice([0, 60, rng.randrange(0, 90)])
    for i in range(rng.randrange(0, 6)):
        rate = rng.choice([1000, 96000, 384000, 576000, 576000, 0])
        length = rng.choice([0.5, 5, 20, 45, 60, 70, 120, 130])
        samples = 0 if rate == 0 else int(length * rate) - rng.randrange(0, 50)
        placed = US0 + at * 1_000_000
        start = None if rng.random() < 0.2 else placed + rng.randrange(-2_000_000, 2_000_000)
        rows.append(
            {"path": f"/data/LOC.{i}.wav", "placed_us": placed, "rate_hz": rate,
             "samples": samples, "start_us": start, "zoned": rng.random() < 0.5}
        )
        # The next one: after this one's end, right at it, within it (overlap), or in the same
        # second.
        at += rng.choice(
            [int(length) + rng.randrange(0, 100), int(length), rng.randrange(0, int(length) + 1), 0]
        )
    clicks = []
    for _ in range(minutes):
        times = sorted(rng.randrange(0, 12_000_000) for _ in range(rng.randrange(0, 12)))
        if times and rng.random() < 0.3:
            # Another file's samples begin again in this minute: time steps back.
            times += sorted(rng.randrange(0, times[-1] + 1) for _ in range(rng.randrange(1, 6)))
        if rng.random() < 0.3:
            # A block's last ticks opened this minute: clicks in its first 125 ms, then the
            # next block's from the minute's start.
            times = sorted(rng.randrange(0, 25_000) for _ in range(2)) + times
        clicks.append(times)
    return rows, clicks


@pytest.mark.parametrize("seed", range(int(__import__("os").environ.get("WTK_SEEDS", 40))))
def test_random_layouts_equal_dump(cli, tmp_path, seed):
    rng = random.Random(seed)
    minutes = rng.randrange(1, 8)
    rows, clicks = _scene(rng, minutes)
    tk1 = tmp_path / "NewFileNameLOC 2024 06 11.TK1"
    write_tk1(tk1, MINUTE0, clicks, seed)
    linkage = [((r["placed_us"] // 60_000_000), r["path"].replace("/data/", "")) for r in rows]
    side = rng.choice(["table", "both", "linkage"])
    if side != "linkage":
        write_table(tmp_path / "NewFileNameLOC 2024 06 11.recordings.csv", rows)
    if side != "table":
        write_linkage(tmp_path / "NewFileNameLOC 2024 06 11.txt", linkage)
    t = wavtokeb.read_tk1(tk1)
    assert_clicks_equal_dump(cli, tk1, t)
    assert_minutes_equal_dump(cli, tk1, t)
    # Read in pieces of a few clicks, the walk carries over from piece to piece.
    pieces = list(wavtokeb.iter_clicks(tk1, chunk=3))
    assert sum(len(p) for p in pieces) == len(t.clicks)
    if pieces:
        import pandas as pd

        joined = pd.concat(pieces, ignore_index=True)
        assert list(joined.time) == list(t.clicks.time)
        assert list(joined.recording.astype(object)) == list(t.clicks.recording.astype(object))
