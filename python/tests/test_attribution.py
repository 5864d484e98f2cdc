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


# Recordings and clicks on the edges of the rule: (what, recordings as (placed s, length s,
# rate), click times in seconds from 08:00).
EDGES = [
    ("a click right at a recording's end, inside its minute", [(0, 30, 576000), (30, 30, 576000)],
     [29.99999, 30.0, 30.00001]),
    ("the last block's ticks after a minute's end: 0.2 ms at 576 k",
     [(0, 60, 576000), (60, 30, 576000)], [59.9, 60.000215, 60.00022, 60.000225, 61]),
    ("a step back from a click as far into its minute as a block's last ticks reach",
     [(0, 120, 1000), (60, 30, 1000)], [59.9, 60.125005, 60.1, 61]),
    ("a step back from a click just short of it", [(0, 120, 1000), (60, 30, 1000)],
     [59.9, 60.125, 60.1, 61]),
    ("times that step back within one recording", [(0, 30, 576000), (0, 30, 576000)],
     [10, 10, 9.99999, 20]),
    ("a step back to the very tick the next file is placed at",
     [(0, 45, 576000), (30, 20, 576000)], [10, 40, 30, 44]),
    ("a file ended mid-minute, the next file's click in the next minute's first ticks",
     [(0, 30, 1000), (60, 30, 1000)], [10, 60.05]),
    ("the last block's ticks end where the allowance ends",
     [(0, 60.01, 1000), (60, 30, 1000)], [59, 60.125005]),
    ("a click exactly the allowance after a recording's end, in the next minute's first ticks",
     [(0, 59.999, 1000), (60, 30, 1000)], [59, 60.124005]),
    ("the same after a click within the allowance: the clicks past the end are searched",
     [(0, 59.999, 1000), (60, 30, 1000)], [59, 60.0005, 60.124005]),
    # A last block as long as a minute's close (59,876 samples at 1 k): its minute closes at
    # its very end; one sample less leaves the minute open.
    ("a last block that ends exactly where its minute closes", [(0, 119.876, 1000)], [10, 119, 125]),
    ("a last block one sample short of its minute's close", [(0, 119.875, 1000)], [10, 119, 125]),
    ("a first block that ends exactly where its minute closes, then a whole minute",
     [(0.124, 119.876, 1000)], [10, 70]),
]


@pytest.mark.parametrize("what,recordings,clicks", EDGES, ids=[e[0] for e in EDGES])
def test_edges_of_the_rule_equal_dump(cli, tmp_path, what, recordings, clicks):
    rows = [
        {"path": f"/data/LOC.{i}.wav", "placed_us": US0 + int(p * 1e6), "rate_hz": rate,
         "samples": int(length * rate), "start_us": US0 + int(p * 1e6) + 250_000, "zoned": True}
        for i, (p, length, rate) in enumerate(recordings)
    ]
    minutes = [[] for _ in range(int(max(clicks) // 60) + 1)]
    for c in clicks:
        us = round(c * 1e6)
        minutes[us // 60_000_000].append((us % 60_000_000) // 5)
    tk1 = tmp_path / "NewFileNameLOC 2024 06 11.TK1"
    write_tk1(tk1, MINUTE0, minutes)
    write_table(tmp_path / "NewFileNameLOC 2024 06 11.recordings.csv", rows)
    t = wavtokeb.read_tk1(tk1)
    assert assert_clicks_equal_dump(cli, tk1, t) == len(clicks)
    assert_minutes_equal_dump(cli, tk1, t)


# The linkage file alone: (what, lines as (minute from 08:00, path), click times in seconds).
LINKAGE_EDGES = [
    ("a file given the next minute continues this one after its times step back",
     [(0, "A"), (1, "B"), (3, "C")], [10, 50, 20, 30, 70, 130, 190]),
    ("a file given this minute whose successor comes later: the clicks before the step stay",
     [(0, "A"), (1, "B"), (5, "C")], [10, 65, 70, 61, 62, 200, 301]),
    ("clicks before the first file's minute have none", [(1, "A"), (3, "B")], [10, 65, 130, 190.5]),
]


@pytest.mark.parametrize("what,lines,clicks", LINKAGE_EDGES, ids=[e[0] for e in LINKAGE_EDGES])
def test_linkage_edges_equal_dump(cli, tmp_path, what, lines, clicks):
    minutes = [[] for _ in range(int(max(clicks) // 60) + 1)]
    for c in clicks:
        us = round(c * 1e6)
        minutes[us // 60_000_000].append((us % 60_000_000) // 5)
    tk1 = tmp_path / "NewFileNameLOC 2024 06 11.TK1"
    write_tk1(tk1, MINUTE0, minutes)
    write_linkage(tmp_path / "NewFileNameLOC 2024 06 11.txt", [(MINUTE0 + m, p) for m, p in lines])
    t = wavtokeb.read_tk1(tk1)
    assert assert_clicks_equal_dump(cli, tk1, t) == len(clicks)
