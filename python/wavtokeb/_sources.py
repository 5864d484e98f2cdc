"""Which recording each click came from, its offset from that recording's first sample and its
exact time: the rule `wavtokeb-cli dump` follows, so that a click gets the same recording,
offset and time here as in its CSV.

With the recordings table, each recording occupies the span of the TK1 file's time from its
placed first sample for its length (its samples at its rate). The clicks are walked in file
order with a current recording, the first one at the start. A click's time T is its minute's
start plus its time in the minute (W). Where a recording's samples close a minute, its last
500 ticks (125,000,000 / rate us) open the next minute and its next block starts that minute's
times again; so a recording's clicks may lie up to that allowance A (+ 5 us) past its end where
they lie within A of their minute's start, and its times step back only from a click within A
of its minute's start that is not past its end. The current recording gives way to the next,
as often as it applies, when T lies past its end, or when T steps back from the click before
(where that one lay at least A into its minute, or at or past the current recording's end) and
the next recording's span holds T. A recording of unknown length ends where the next one is
placed. The offset is T less the placed first sample; the exact time is the recording's start
plus the offset, and without a start, T.

With the source-linkage file alone, each recording's samples begin at the start of the minute
the file gives it. Within a minute, a step back of more than 250 ms shows where the next file's
samples begin when the linkage gives it this minute or the next (a file that continues the
minute its predecessor ran into); where it gives a file this minute and the file after it
neither this minute nor the next, the clicks before the minute's first such step are still its
predecessor's. Offsets count from the start of the minute where the file's samples begin; the
exact time is T.
"""

import numpy as np

_US_PER_MINUTE = 60_000_000
_NEVER = np.iinfo(np.int64).max
# The ticks at the end of a block that open the next minute, in microseconds at 1 sample/s.
_TAIL_US_HERTZ = 125_000_000
# The allowance where the rate is not known: the widest, at 1 k samples/s.
_UNKNOWN_ALLOWANCE_US = _TAIL_US_HERTZ // 1000 + 5
# A step back in time of more than 250 ms within a minute (linkage file alone).
_STEP_UNITS = 50_000


class TableWalk:
    """The clicks of a TK1 file, in file order, attributed by the recordings table's
    placement. The walk carries over from one call of attribute() to the next, so that a file
    can be read in pieces of whole minutes."""

    def __init__(self, rows):
        ends, allowances = [], []
        for i, r in enumerate(rows):
            if r.rate_hz > 0:
                ends.append(min(r.placed_us + r.samples * 1_000_000 // r.rate_hz, _NEVER))
                allowances.append(-(-_TAIL_US_HERTZ // r.rate_hz) + 5)
            else:
                ends.append(rows[i + 1].placed_us if i + 1 < len(rows) else _NEVER)
                allowances.append(_UNKNOWN_ALLOWANCE_US)
        self.end, self.allowance = ends, allowances
        self.placed = [r.placed_us for r in rows]
        # A click's time is its time on the TK1 file's clock moved by its recording's start
        # less its placed first sample (not moved without a start); the last entry is for
        # clicks of no recording (index -1).
        self.placed_of = np.array(self.placed + [0], dtype=np.int64)
        self.shift_of = np.array(
            [r.start_us - r.placed_us if r.start_us is not None else 0 for r in rows] + [0],
            dtype=np.int64,
        )
        self.current = 0
        self.previous = None  # the time and the time within its minute of the click before

    def attribute(self, group_minutes, group_clicks, t, within):
        """For clicks in file order, given as the minutes that hold clicks, the number of
        clicks of each, their times T and their microseconds within their minute: each click's
        recording (-1: none), its offset from that recording's first sample and its time, in
        microseconds."""
        n, count = len(t), len(self.placed)
        recording = np.full(n, -1, dtype=np.int32)
        if n == 0 or count == 0:
            return recording, np.zeros(n, dtype=np.int64), t
        self.t, self.within = t, within
        # The walk moves on past a recording's end, or where time steps back.
        self.latest = np.maximum.accumulate(t)
        self.steps = np.flatnonzero(t[1:] < t[:-1]) + 1
        if self.previous is not None and t[0] < self.previous[0]:
            self.steps = np.r_[0, self.steps]
        at = 0
        while at < n:
            c = self.current
            if c + 1 >= count:
                recording[at:] = c
                break
            k = self._first_move(c, at)
            recording[at:k] = c
            if k == n:
                break
            # The click that moves the walk on: as many recordings as apply.
            while self.current + 1 < count and self._moves_on(k, self.current):
                self.current += 1
            recording[k] = self.current
            at = k + 1
        self.previous = (int(t[-1]), int(within[-1]))
        del self.t, self.within, self.latest, self.steps
        return recording, t - self.placed_of[recording], t + self.shift_of[recording]

    def _before(self, k):
        """The time and the time within its minute of the click before click k (None for the
        first click of the file)."""
        return (int(self.t[k - 1]), int(self.within[k - 1])) if k > 0 else self.previous

    def _past_end(self, i, k):
        """Whether click k lies past the end of recording i (beyond the allowance of its last
        block's ticks in the next minute)."""
        t, within = int(self.t[k]), int(self.within[k])
        end, allowance = self.end[i], self.allowance[i]
        return t >= end and not (within < allowance and t - end < allowance)

    def _moves_on(self, k, c):
        """Whether the current recording c gives way to the next one at click k."""
        if self._past_end(c, k):
            return True
        t, before = int(self.t[k]), self._before(k)
        # Times step back within a recording only where a block's last ticks opened a minute
        # and its next block starts that minute again; not after its last block.
        step_back = (
            before is not None
            and t < before[0]
            and (before[1] >= self.allowance[c] or before[0] >= self.end[c])
        )
        return step_back and self.placed[c + 1] <= t and not self._past_end(c + 1, k)

    def _first_move(self, c, at):
        """The first click from at on where the current recording c gives way (n: none)."""
        n = len(self.t)
        end = self.end[c]
        if at > 0 and self.latest[at - 1] >= end:
            return self._search(c, at)  # clicks past its end before: look at each
        # The first click past its end; before it only a step back can move the walk on.
        k = int(np.searchsorted(self.latest, end, side="left"))
        if k < n and not self._past_end(c, k):
            k = self._search(c, k + 1)  # within the allowance after its end
        for s in self.steps[np.searchsorted(self.steps, at) : np.searchsorted(self.steps, k)]:
            if self._moves_on(int(s), c):
                return int(s)
        return k

    def _search(self, c, at):
        """The first click from at on where c gives way (n: none), looked at in growing
        windows: past a recording's end where clicks of a later span came first (rare)."""
        n, size = len(self.t), 64
        end, allowance = self.end[c], self.allowance[c]
        following = c + 1
        while at < n:
            hi = min(at + size, n)
            t, within = self.t[at:hi], self.within[at:hi]
            before = self._before(at)
            had = np.ones(hi - at, dtype=bool)
            if before is None:
                had[0], before = False, (0, 0)
            before_t = np.r_[before[0], self.t[at : hi - 1]]
            before_within = np.r_[before[1], self.within[at : hi - 1]]

            def past(i):
                e, a = self.end[i], self.allowance[i]
                return (t >= e) & ~((within < a) & (t - e < a))

            step_back = had & (t < before_t) & ((before_within >= allowance) | (before_t >= end))
            moves = past(c) | (step_back & (self.placed[following] <= t) & ~past(following))
            hit = np.flatnonzero(moves)
            if len(hit):
                return at + int(hit[0])
            at, size = hi, size * 2
        return n


class LinkageWalk:
    """The clicks of a TK1 file, in file order, attributed by the minutes of the source-linkage
    file alone. The walk carries over from one call of attribute() to the next."""

    def __init__(self, minutes):
        self.minutes = np.asarray(minutes, dtype=np.int64)
        self.sorted = bool(np.all(self.minutes[1:] >= self.minutes[:-1]))
        self.next = 0  # the first line not yet reached
        self.current = 0  # valid once next > 0
        self.origin = 0  # the minute in which the current line's samples begin
        self.last_minute = None  # the last minute with clicks that the walk saw

    def _reach(self):
        self.current = self.next
        self.next += 1
        self.origin = int(self.minutes[self.current])

    def _next_may_begin_in(self, minute):
        return self.next < len(self.minutes) and self.minutes[self.next] <= minute + 1

    def attribute(self, group_minutes, group_clicks, t, within):
        """As TableWalk.attribute()."""
        n = len(t)
        recording = np.full(n, -1, dtype=np.int32)
        base = np.zeros(n, dtype=np.int64)  # the start of the minute where its samples begin
        if n == 0 or len(self.minutes) == 0:
            return recording, base, t
        ends = np.cumsum(group_clicks)
        starts = ends - group_clicks
        step = np.zeros(n, dtype=bool)
        step[1:] = within[1:] + _STEP_UNITS * 5 < within[:-1]
        step[starts] = False
        step_at = np.flatnonzero(step)
        step_group = np.searchsorted(ends, step_at, side="right")
        if self.sorted:
            # A minute changes the walk's recording only where a line gives it (or a minute
            # since the last minute with clicks), or gives the next minute and the minute's
            # times step back.
            first = self.last_minute if self.last_minute is not None else np.iinfo(np.int64).min
            before = np.r_[first, group_minutes[:-1]]
            lo = np.searchsorted(self.minutes, before, side="right")
            mid = np.searchsorted(self.minutes, group_minutes, side="right")
            hi = np.searchsorted(self.minutes, group_minutes + 1, side="right")
            has_step = np.zeros(len(group_minutes), dtype=bool)
            has_step[step_group] = True
            changing = np.flatnonzero((mid > lo) | ((hi > mid) & has_step))
        else:
            changing = np.arange(len(group_minutes))
        done = 0
        for g in changing:
            s, e = int(starts[g]), int(ends[g])
            self._fill(recording, base, done, s)
            in_group = step_at[np.searchsorted(step_group, g) : np.searchsorted(step_group, g + 1)]
            self._minute(int(group_minutes[g]), list(in_group - s), recording[s:e], base[s:e])
            done = e
        self._fill(recording, base, done, n)
        self.last_minute = int(group_minutes[-1])
        offset = np.where(recording >= 0, t - base, 0)
        return recording, offset, t

    def _fill(self, recording, base, begin, end, which=None, origin=None):
        """Gives clicks [begin, end) to a line (the current one by default) whose samples begin
        in minute origin."""
        if which is None:
            if self.next == 0:
                return  # before the first line
            which, origin = self.current, self.origin
        recording[begin:end] = which
        base[begin:end] = origin * _US_PER_MINUTE

    def _minute(self, minute, steps, recording, base):
        count = len(self.minutes)
        while self.next < count and self.minutes[self.next] < minute:
            self._reach()
        had_line = self.next > 0
        previous, previous_origin = self.current, self.origin
        reached = False
        while self.next < count and self.minutes[self.next] == minute:
            self._reach()
            reached = True
        own = 0
        # A file given this minute whose samples start after a step continues the minute that
        # its predecessor ran into: the clicks before the step are the predecessor's.
        if reached and had_line and previous != self.current and steps:
            if not self._next_may_begin_in(minute):
                own = int(steps.pop(0))
                self._fill(recording, base, 0, own, previous, previous_origin)
        at = own
        for step in steps + [len(recording)]:
            self._fill(recording, base, at, step)
            at = step
            if step < len(recording) and self._next_may_begin_in(minute):
                self.next += 1
                self.current = self.next - 1
                self.origin = minute
