"""The TK1 file layout: the 1024-byte header, the 16-byte body records and the walk that gives
each record its minute.

A TK1 file is the header, then from offset 1024 a lead minute record, the first counted minute
record, the click and minute records in the order they occur (each minute record opens the next
minute; click records belong to the minute opened last) and an end record. Every multi-byte
integer is unsigned big-endian. Records are told apart by their first byte: 254 a minute
record, 255 the end record, anything else a click record.
"""

import os

import numpy as np

HEADER_BYTES = 1024
RECORD_BYTES = 16
MINUTE_MARKER = 254
END_MARKER = 255
TIME_UNITS_PER_MINUTE = 12_000_000
CONSTANT_OFFSETS = (12, 31, 66, 78)
CONSTANTS = (1, 245, 11, 15)

# The header's fields: name, offset, bytes.
_HEADER_FIELDS = (
    ("LoggerNumber", 2, 4),
    ("HighPassFilterIndex", 65, 1),
    ("DeadBandSetting", 67, 1),
    ("MinAnyIPI", 68, 1),
    ("MaxStartIPI", 69, 1),
    ("FixedCycLimit", 70, 1),
    ("MaxSPLforReversalTest", 71, 1),
    ("BwAddon", 72, 1),
    ("MaxSPLforAmpDropTest", 79, 1),
    ("NoisyLevel", 93, 1),
    ("QuietLevel", 94, 1),
    ("NofNoisyMinsForAction", 95, 1),
    ("NofQuietMinsForAction", 96, 1),
    ("AmpStep", 113, 1),
    ("StartMin", 256, 4),
    ("StartMin2", 268, 4),
    ("StartMin3", 272, 4),
    ("LastLoggingMin", 260, 4),
    ("LastLoggingMin2", 276, 4),
    ("FinalisedAtMin", 264, 4),
    ("MinuteCount", 340, 3),
)
_FLAGS_OFFSET = 77
_STRONG_LIMIT_OFFSET = 73

# One body record. A click record's time is its first 3 bytes (read here as the top 24 bits of
# a 4-byte field that overlaps Ncyc); bytes 4 and 13 hold two nibbles each. A minute record
# keeps DeadBandPlusUplift in byte 13 and MinuteScalerX2560 in byte 14.
RECORD_DTYPE = np.dtype(
    {
        "names": [
            "TimeAndNcyc", "Ncyc", "PkAtPosnAndRangeCode", "IPIpreMax", "IPIPostMax",
            "IPIPost1", "IPIPost2", "PkMinus1", "Pmax", "PkPlus1", "IPIbefore",
            "DurationHighAndReversals", "Durationto16CycLow8", "PreLastIPI",
        ],
        "formats": [">u4"] + ["u1"] * 13,
        "offsets": [0] + list(range(3, 16)),
        "itemsize": RECORD_BYTES,
    }
)


class TK1Error(ValueError):
    """A file that is no sound TK1 file (or a side file that cannot be read): the message names
    the file and the byte (or line) where the fault lies."""

    def __init__(self, path, where, what):
        super().__init__(f"{os.fsdecode(path)}: {where}: {what}")
        self.path = path
        self.where = where
        self.what = what


def _byte_error(path, offset, what):
    return TK1Error(path, f"byte {offset}", what)


def _big_endian(header, offset, count):
    return int.from_bytes(header[offset : offset + count], "big")


def decode_header(header):
    """The header's fields by their names, from its 1024 bytes."""
    h = {name: _big_endian(header, at, n) for name, at, n in _HEADER_FIELDS}
    h["Constants"] = [header[at] for at in CONSTANT_OFFSETS]
    h["WorkingStrongLimit"] = [header[_STRONG_LIMIT_OFFSET + k] for k in range(4)]
    h["UsingToughAmpDrop"] = bool(header[_FLAGS_OFFSET] & 1)
    h["UserMaxSPLforBWtestLow4"] = (header[_FLAGS_OFFSET] >> 3) & 15
    return h


_FOREIGN_MAGIC = (
    (b"RIFF", "a RIFF file"),
    (b"RF64", "an RF64 file"),
    (b"fLaC", "a FLAC file"),
    (b"OggS", "an Ogg file"),
    (b"FORM", "an IFF/AIFF file"),
    (b"ID3", "an MP3 file"),
    (b"PK\x03\x04", "a ZIP file"),
)


def check_header(path, header, size):
    """Raises TK1Error where the first bytes of a file are no TK1 header."""
    for magic, what in _FOREIGN_MAGIC:
        if header.startswith(magic):
            what = "a WAV file" if header[8:12] == b"WAVE" else what
            raise _byte_error(path, 0, f"it is {what}, no TK1 file")
    for at, expected in zip(CONSTANT_OFFSETS, CONSTANTS):
        if at < len(header) and header[at] != expected:
            raise _byte_error(
                path,
                at,
                f"holds {header[at]} where a TK1 header holds {expected}: no TK1 file",
            )
    if size < HEADER_BYTES:
        raise _byte_error(path, size, f"the file ends within the 1024-byte TK1 header")


class Body:
    """The records of a TK1 file as rows of 16 bytes (read whole, or mapped from the disk) and
    what the walk through them gives: where the minute records are and how many clicks each
    minute holds. Checks the file's shape on the way and raises TK1Error at the first fault.

    The body proper is records[1:end]: after the lead minute record, before the end record."""

    def __init__(self, path, mapped=False):
        self.path = path
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            header = f.read(HEADER_BYTES)
            check_header(path, header, size)
            count = (size - HEADER_BYTES) // RECORD_BYTES
            if mapped and count > 0:
                self.raw = np.memmap(
                    f, dtype=np.uint8, mode="r", offset=HEADER_BYTES, shape=(count, RECORD_BYTES)
                )
            else:
                self.raw = np.fromfile(f, dtype=np.uint8, count=count * RECORD_BYTES)
                self.raw = self.raw.reshape(-1, RECORD_BYTES)
        if len(self.raw) < count:
            raise _byte_error(path, self.offset_of(len(self.raw)), "the file shrank while read")
        self.header = decode_header(header)
        self.size = size
        self._check_shape()

    def offset_of(self, index):
        """The offset of records[index]."""
        return HEADER_BYTES + RECORD_BYTES * int(index)

    def _check_shape(self):
        path, raw = self.path, self.raw
        first = raw[:, 0]
        if len(raw) == 0 or first[0] != MINUTE_MARKER:
            raise _byte_error(path, HEADER_BYTES, "no lead minute record where the body begins")
        ends = np.flatnonzero(first[1:] == END_MARKER)
        partial = (self.size - HEADER_BYTES) % RECORD_BYTES
        if len(ends) == 0:
            if partial:
                at = self.size - partial
                raise _byte_error(path, at, f"the file ends in a partial record of {partial} bytes")
            raise _byte_error(path, self.size, "no end record: the file was not finalised")
        end = int(ends[0]) + 1
        if end + 1 < len(raw) or partial:
            raise _byte_error(path, self.offset_of(end + 1), "data after the end record")
        self.end = end
        body_first = first[1:end]
        # Positions of the counted minute records in the body, and the clicks between them:
        # clicks[k] belong to the k-th counted minute (clicks[0]: those before the first).
        self.minute_at = np.flatnonzero(body_first == MINUTE_MARKER)
        counted = len(self.minute_at)
        self.clicks = np.diff(np.r_[-1, self.minute_at, end - 1]) - 1
        self.clicks_before = np.r_[0, np.cumsum(self.clicks)]
        if counted != self.header["MinuteCount"]:
            raise _byte_error(
                path,
                340,
                f"the header counts {self.header['MinuteCount']} minute records, "
                f"the file holds {counted}",
            )
        last = (self.header["StartMin"] + counted) & 0xFFFFFFFF
        for name, at in (("LastLoggingMin", 260), ("LastLoggingMin2", 276)):
            if self.header[name] != last:
                raise _byte_error(
                    path,
                    at,
                    f"the last logging minute is {self.header[name]}, the start minute and "
                    f"the minute records give {last}",
                )
        # Click times lie within their minute: below 12,000,000 units of 5 us (0xB71B00).
        suspects = np.flatnonzero(
            (body_first >= TIME_UNITS_PER_MINUTE >> 16) & (body_first < MINUTE_MARKER)
        )
        if len(suspects):
            times = raw[1:end][suspects].view(RECORD_DTYPE)["TimeAndNcyc"].ravel() >> 8
            bad = suspects[times >= TIME_UNITS_PER_MINUTE]
            if len(bad):
                raise _byte_error(
                    path,
                    self.offset_of(int(bad[0]) + 1),
                    "a click time beyond the end of its minute",
                )
        self.counted_minutes = counted

    def start_minute(self):
        return self.header["StartMin"] & 0x7FFFFFFF
