"""The seconds of recording in each minute of a TK1 file, as the converter cuts a recording into
blocks and closes minutes.

A recording is read in blocks: the first from where it was placed (its start, to the
microsecond, with --exact-start) to the end of its minute, then whole minutes of samples. A
block's minute closes a little before the block's end (the last samples of a whole block open
the next minute); a block that ends before its minute closes (a recording's end) leaves the
minute open for the next recording. Sums are taken in the
converter's order, so that each minute's seconds equal those of `dump --minutes-csv`.
"""

import numpy as np


def _rate_tables(k):
    """For k kilo-samples per second: samples per minute, and the tick count after which a
    minute closes, from the 32-bit float scaler the converter holds."""
    scaler = float(np.float32(500.0 / k))
    return k * 60_000, round(120000000.0 / scaler) - 500, scaler


def _positions_to_minute_end(close, tick):
    """Positions of a block (4 ticks each, from tick) up to its minute's close."""
    return np.where(tick <= close, (close - tick) // 4 + 1, 1)


def recorded_seconds(rows):
    """The minute numbers that hold recording and the seconds of recording in each, for the
    rows of a recordings table."""
    valid = [
        r for r in rows
        if r.rate_hz % 1000 == 0 and 1 <= r.rate_hz // 1000 <= 2000 and r.samples > 0
    ]
    if not valid:
        return np.zeros(0, dtype=np.int64), np.zeros(0)
    rate_hz = np.array([r.rate_hz for r in valid], dtype=np.int64)
    samples = np.array([r.samples for r in valid], dtype=np.int64)
    placed = np.array([r.placed_us for r in valid], dtype=np.int64)
    placed_minute, within = np.divmod(placed, 60_000_000)
    tables = {k: _rate_tables(k) for k in set((rate_hz // 1000).tolist())}
    per_minute = np.array([tables[k][0] for k in (rate_hz // 1000).tolist()], dtype=np.int64)
    close = np.array([tables[k][1] for k in (rate_hz // 1000).tolist()], dtype=np.int64)
    scaler = np.array([tables[k][2] for k in (rate_hz // 1000).tolist()])

    # The first block: from the start to its minute's end.
    n1 = np.minimum((60_000_000 - within) * per_minute // 60_000_000, samples)
    tick = np.rint(within.astype(np.float64) * 2.0 / scaler).astype(np.int64)
    b1 = _positions_to_minute_end(close, tick)
    split1 = n1 >= b1
    after_first = placed_minute + split1
    # Whole blocks of a minute of samples, then what is left.
    left = samples - n1
    whole, last = np.divmod(left, per_minute)
    b0 = _positions_to_minute_end(close, 0)
    split_last = (last > 0) & (last >= b0)
    first_parts = 1 + split1
    counts = first_parts + 2 * whole + (last > 0) + split_last
    offset = np.cumsum(counts) - counts
    total = int(counts.sum())
    minutes = np.empty(total, dtype=np.int64)
    parts = np.empty(total, dtype=np.int64)
    row = np.repeat(np.arange(len(valid)), counts)

    def put(at, m, p):
        minutes[at] = m
        parts[at] = p

    put(offset, placed_minute, np.where(split1, b1, n1))
    put(offset[split1] + 1, placed_minute[split1] + 1, (n1 - b1)[split1])
    # Each whole block closes its minute after b0 positions; the rest opens the next minute.
    w = np.repeat(np.arange(len(valid)), whole)
    j = np.arange(len(w)) - np.repeat(np.cumsum(whole) - whole, whole)
    at = offset[w] + first_parts[w] + 2 * j
    put(at, after_first[w] + j, b0[w])
    put(at + 1, after_first[w] + j + 1, per_minute[w] - b0[w])
    tail = last > 0
    at = offset + first_parts + 2 * whole
    put(at[tail], (after_first + whole)[tail], np.where(split_last, b0, last)[tail])
    put(at[split_last] + 1, (after_first + whole)[split_last] + 1, (last - b0)[split_last])
    seconds = parts.astype(np.float64) / rate_hz[row]
    return _sum_in_order(minutes, seconds)


def _sum_in_order(minutes, seconds):
    """Each minute's seconds added up from 0 in the order the parts come, as the converter adds
    them: the first part of every minute, then the second, ..."""
    order = np.argsort(minutes, kind="stable")
    minutes, seconds = minutes[order], seconds[order]
    starts = np.flatnonzero(np.r_[True, minutes[1:] != minutes[:-1]])
    group = np.repeat(np.arange(len(starts)), np.diff(np.r_[starts, len(minutes)]))
    rank = np.arange(len(minutes)) - starts[group]
    sums = np.zeros(len(starts))
    for r in range(int(rank.max()) + 1 if len(rank) else 0):
        at = rank == r
        sums[group[at]] += seconds[at]
    return minutes[starts], sums
