#!/usr/bin/env python3
"""How long the Python package takes to read a year of clicks of one location.

Writes a synthetic TK1 file with numpy: 525,600 minutes (a year), 20 M clicks spread over them
as a porpoise site's would be (quiet hours and busy ones), its source-linkage file and its
recordings table (one recording per hour); then reads it in a fresh process with read_tk1()
and with iter_clicks(), and prints the wall and CPU time and the peak memory of each. Nothing
here is timed against a limit: the figures are for people to read.

    read_tk1_bench.py [--clicks N] [--minutes N] [--repeat N] [--chunk N] [--folder DIR]
"""

import argparse
import os
import pathlib
import resource
import subprocess
import sys
import tempfile
import time

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "python"))

START_MINUTE = 65_222_880  # 2024-01-01 00:00 in minutes since 1899-12-30


def write_year(folder, clicks, minutes, seed=1):
    """NAME.TK1, NAME.txt and NAME.recordings.csv of one location; returns the TK1 path."""
    rng = np.random.default_rng(seed)
    # Clicks per minute: hours of presence among quiet ones.
    hourly = rng.gamma(0.3, 1.0, size=(minutes + 59) // 60)
    rate = np.repeat(hourly, 60)[:minutes]
    per_minute = rng.poisson(rate * clicks / rate.sum())
    per_minute = np.minimum(per_minute, 65_535)
    n = int(per_minute.sum())
    body = np.zeros(1 + minutes + n + 1, dtype=(np.uint8, 16))
    body[0, 0] = 254  # the lead minute record
    # Each minute record, then its clicks.
    minute_at = 1 + np.arange(minutes) + np.concatenate([[0], np.cumsum(per_minute)[:-1]])
    body[minute_at, 0] = 254
    body[minute_at, 14] = 3
    is_click = np.ones(len(body), dtype=bool)
    is_click[[0, -1]] = False
    is_click[minute_at] = False
    times = np.sort(rng.integers(0, 12_000_000, size=n)).astype(np.uint32)
    # Sorted within each minute: sort the keys minute * 2^24 + time.
    owner = np.repeat(np.arange(minutes), per_minute)
    times = np.sort(owner.astype(np.int64) << 24 | rng.integers(0, 12_000_000, size=n)) & 0xFFFFFF
    clicks_view = body[is_click]
    clicks_view[:, 0] = times >> 16
    clicks_view[:, 1] = (times >> 8) & 255
    clicks_view[:, 2] = times & 255
    clicks_view[:, 3] = rng.integers(5, 20, size=n)
    clicks_view[:, 4] = rng.integers(0, 256, size=n)
    clicks_view[:, 5:13] = rng.integers(1, 256, size=(n, 8))
    clicks_view[:, 13:15] = rng.integers(0, 256, size=(n, 2))
    clicks_view[:, 15] = rng.integers(0, 128, size=n) * 2
    body[is_click] = clicks_view
    body[-1] = 255
    header = bytearray(1024)
    for at, v in zip((12, 31, 66, 78), (1, 245, 11, 15)):
        header[at] = v
    header[67] = 10
    for at in (256, 268, 272):
        header[at : at + 4] = START_MINUTE.to_bytes(4, "big")
    for at in (260, 276):
        header[at : at + 4] = (START_MINUTE + minutes).to_bytes(4, "big")
    header[340:343] = minutes.to_bytes(3, "big")
    tk1 = folder / "NewFileNameYEAR 2024 01 01.TK1"
    with open(tk1, "wb") as f:
        f.write(header)
        body.tofile(f)
    # One recording per hour, placed at its minute.
    hours = (minutes + 59) // 60
    with open(folder / "NewFileNameYEAR 2024 01 01.txt", "w", newline="") as f:
        for h in range(hours):
            f.write(f"{START_MINUTE + 60 * h}\tYEAR/YEAR.{h:05d}.wav\r\n")
    epoch = np.datetime64("1899-12-30T00:00")
    with open(folder / "NewFileNameYEAR 2024 01 01.recordings.csv", "w", newline="") as f:
        f.write(
            "path,start,time_source,correction_s,rate_hz,samples,duration_s,placed_minute,"
            "placed_offset_s\r\n"
        )
        for h in range(hours):
            t = str(epoch + np.timedelta64(START_MINUTE + 60 * h, "m"))
            f.write(
                f"/data/YEAR/YEAR.{h:05d}.wav,{t}:00.000000Z,name,0.000000,576000,2073600000,"
                f"3600.000000,{t}:00,0.000000\r\n"
            )
    return tk1, n


def measure(tk1, how, chunk):
    """Reads the file in this process; prints the wall and CPU seconds and the peak memory."""
    import wavtokeb

    cpu0, wall0 = time.process_time(), time.perf_counter()
    if how == "read_tk1":
        t = wavtokeb.read_tk1(tk1)
        rows = len(t.clicks)
    else:
        rows = sum(len(part) for part in wavtokeb.iter_clicks(tk1, chunk=chunk))
    wall, cpu = time.perf_counter() - wall0, time.process_time() - cpu0
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"{wall:.3f} {cpu:.3f} {peak:.0f} {rows}")


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--measure":
        measure(sys.argv[2], sys.argv[3], int(sys.argv[4]))
        return
    if len(sys.argv) > 1 and sys.argv[1] == "--write":
        tk1, n = write_year(pathlib.Path(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]))
        print(tk1, n, sep="\n")
        return
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--clicks", type=int, default=20_000_000)
    p.add_argument("--minutes", type=int, default=525_600)
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--chunk", type=int, default=1_000_000)
    p.add_argument("--folder", help="where to write the year for the while (a temporary folder)")
    a = p.parse_args()
    if a.folder:
        os.makedirs(a.folder, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=a.folder) as tmp:
        folder = pathlib.Path(tmp)
        t0 = time.perf_counter()
        # Written by a process of its own: a process started from this one would otherwise
        # count the memory used for writing in its peak.
        tk1, n = subprocess.run(
            [sys.executable, __file__, "--write", str(folder), str(a.clicks), str(a.minutes)],
            check=True,
            capture_output=True,
            text=True,
        ).stdout.splitlines()
        n = int(n)
        size = os.path.getsize(tk1) / 1e6
        print(
            f"Python reader: a year of one location, {a.minutes:,} minutes, {n:,} clicks "
            f"({size:.0f} MB, written in {time.perf_counter() - t0:.1f} s); medians of "
            f"{a.repeat} runs, each in a fresh process"
        )
        print(f"{'':24} {'wall s':>8} {'CPU s':>8} {'peak MB':>8}")
        for how in ("read_tk1", "iter_clicks"):
            runs = []
            for _ in range(a.repeat):
                out = subprocess.run(
                    [sys.executable, __file__, "--measure", str(tk1), how, str(a.chunk)],
                    check=True,
                    capture_output=True,
                    text=True,
                ).stdout.split()
                runs.append([float(v) for v in out[:3]])
                assert int(out[3]) == n, (out, n)
            wall, cpu, peak = np.median(np.array(runs), axis=0)
            label = how if how == "read_tk1" else f"iter_clicks({a.chunk:,})"
            print(f"{label:24} {wall:8.2f} {cpu:8.2f} {peak:8.0f}")


if __name__ == "__main__":
    main()
