"""Which recording each click came from, and its second in that recording.

The recordings of a TK1 file are known from its source-linkage file (the minute each recording
was given, its path) and its recordings table (each recording's start and where its first
sample lies in the TK1 file). The rule is the one `wavtokeb-cli dump` follows, so that a click
gets the same recording, offset and time here as in its CSV.
"""

import numpy as np

# Times within a minute only grow inside one recording, apart from the last samples of each
# block (at most 125 ms), which open the next minute: a step back of more than 250 ms shows
# where another recording's samples begin in the same minute.
_STEP_UNITS = 50_000


class Entry:
    """A recording as the attribution sees it: the minute the linkage file gave it, where its
    first sample lies within that minute, and its start."""

    __slots__ = ("minute", "begin_us")

    def __init__(self, minute, begin_us=0):
        self.minute = minute
        self.begin_us = begin_us


class SourceFinder:
    """Walks the clicks of a TK1 file minute by minute, in file order, with the recording the
    walk has reached. A recording's samples begin at the start of the minute the linkage gives
    it; a recording placed later in its minute (begin_us) begins there. A recording given a
    minute whose clicks step back in time continues the minute its predecessor ran into: the
    clicks before the step are its predecessor's. The state carries over from one call of
    attribute() to the next, so a file can be read in pieces that end at minute ends."""

    def __init__(self, entries):
        self.entries = entries
        self.minutes = np.array([e.minute for e in entries], dtype=np.int64)
        self.begin_us = np.array([e.begin_us for e in entries], dtype=np.int64)
        self.sorted = bool(np.all(self.minutes[1:] >= self.minutes[:-1]))
        self.next = 0  # the first entry not yet reached
        self.current = 0  # valid once next > 0
        self.origin = 0  # the minute in which the current entry's samples begin
        self.last_minute = None  # the last minute with clicks that the walk saw

    def _reach(self):
        self.current = self.next
        self.next += 1
        self.origin = int(self.minutes[self.current])

    def _next_may_begin_in(self, minute):
        return self.next < len(self.entries) and self.minutes[self.next] <= minute + 1

    def attribute(self, group_minutes, group_clicks, times):
        """For clicks in file order, given as the minutes that hold clicks (increasing), the
        number of clicks of each, and the clicks' times in 5 us units: the index of each
        click's recording (-1 for none) and where that recording's first sample lies, in
        microseconds since 1899-12-30 on the TK1 file's clock (its offset is its time on that
        clock less this)."""
        n = len(times)
        entry = np.full(n, -1, dtype=np.int32)
        base = np.zeros(n, dtype=np.int64)
        if n == 0 or len(self.entries) == 0:
            return entry, base
        ends = np.cumsum(group_clicks)
        starts = ends - group_clicks
        t = times.astype(np.int64)
        # Steps back in time within a minute.
        step = np.zeros(n, dtype=bool)
        step[1:] = t[1:] + _STEP_UNITS < t[:-1]
        step[starts] = False
        step_at = np.flatnonzero(step)
        step_group = np.searchsorted(ends, step_at, side="right")
        if self.sorted:
            # A minute changes the walk's recording only where a recording was given that
            # minute (or one since the last minute with clicks), or was given the next minute
            # and the minute's times step back.
            before = np.r_[
                self.last_minute if self.last_minute is not None else np.iinfo(np.int64).min,
                group_minutes[:-1],
            ]
            lo = np.searchsorted(self.minutes, before, side="right")
            mid = np.searchsorted(self.minutes, group_minutes, side="right")
            hi = np.searchsorted(self.minutes, group_minutes + 1, side="right")
            has_step = np.zeros(len(group_minutes), dtype=bool)
            has_step[step_group] = True
            changing = np.flatnonzero((mid > lo) | ((hi > mid) & has_step))
        else:
            changing = np.arange(len(group_minutes))
        done = 0  # clicks attributed so far
        for g in changing:
            s, e = int(starts[g]), int(ends[g])
            self._fill(entry, base, done, s)
            g_steps = step_at[np.searchsorted(step_group, g) : np.searchsorted(step_group, g, "right")]
            self._minute(int(group_minutes[g]), t[s:e], list(g_steps - s), entry[s:e], base[s:e])
            done = e
        self._fill(entry, base, done, n)
        self.last_minute = int(group_minutes[-1])
        return entry, base

    def _fill(self, entry, base, begin, end, which=None, origin=None):
        """Gives clicks [begin, end) to a recording (by default the current one) whose samples
        begin in minute origin."""
        if which is None:
            if self.next == 0:
                return  # before the first recording
            which, origin = self.current, self.origin
        if begin < end:
            entry[begin:end] = which
            base[begin:end] = origin * 60_000_000 + int(self.begin_us[which])

    def _minute(self, minute, t, steps, entry, base):
        n_entries = len(self.entries)
        while self.next < n_entries and self.minutes[self.next] < minute:
            self._reach()
        had_entry = self.next > 0
        previous, previous_origin = self.current, self.origin
        reached = False
        while self.next < n_entries and self.minutes[self.next] == minute:
            self._reach()
            reached = True
        own = 0
        changed = reached and had_entry and previous != self.current
        if changed and steps and not self._next_may_begin_in(minute):
            own = int(steps.pop(0))
        elif changed and self.begin_us[self.current] > 0:
            # Without a step, a recording placed at its start second begins there.
            later = np.flatnonzero(t * 5 >= self.begin_us[self.current])
            own = int(later[0]) if len(later) else len(t)
            steps = [s for s in steps if s > own]
        if own:
            self._fill(entry, base, 0, own, previous, previous_origin)
        at = own
        for step in steps + [len(t)]:
            self._fill(entry, base, at, step)
            at = step
            if step < len(t) and self._next_may_begin_in(minute):
                self.next += 1
                self.current = self.next - 1
                self.origin = minute
