"""TK1 files and their side files written from given clicks, for tests."""

import numpy as np

EPOCH = np.datetime64("1899-12-30T00:00:00", "us")


def iso(us, decimals=True, zoned=False):
    """Microseconds since 1899-12-30 as the recordings table writes them."""
    text = str(EPOCH + np.timedelta64(int(us), "us"))
    if "." not in text:
        text += ".000000"
    return (text if decimals else text[:19]) + ("Z" if zoned else "")


def seconds(us):
    whole, frac = divmod(abs(int(us)), 1_000_000)
    return ("-" if us < 0 else "") + f"{whole}.{frac:06d}"


def write_tk1(path, start_minute, minutes, seed=0):
    """A finalised TK1 file: minutes[k] holds the click times (5 us units, in file order) of
    the k-th minute from start_minute; the other fields of each click are random."""
    rng = np.random.default_rng(seed)
    header = bytearray(1024)
    for at, v in zip((12, 31, 66, 78), (1, 245, 11, 15)):
        header[at] = v
    header[67] = 12
    for at in (256, 268, 272):
        header[at : at + 4] = start_minute.to_bytes(4, "big")
    for at in (260, 276):
        header[at : at + 4] = (start_minute + len(minutes)).to_bytes(4, "big")
    header[340:343] = len(minutes).to_bytes(3, "big")
    body = [bytes([254]) + bytes(15)]
    for times in minutes:
        body.append(bytes([254]) + bytes(12) + bytes([rng.integers(0, 9), rng.integers(0, 256), 0]))
        for t in times:
            fields = rng.integers(0, 256, size=13, dtype=np.uint8)
            fields[-1] &= 0xFE
            body.append(int(t).to_bytes(3, "big") + fields.tobytes())
    body.append(bytes([255]) * 16)
    with open(path, "wb") as f:
        f.write(bytes(header) + b"".join(body))


def write_table(path, rows):
    """A recordings table; rows: dicts with path, placed_us (whole seconds), rate_hz, samples,
    start_us (or None) and zoned."""
    lines = [
        "path,start,time_source,correction_s,rate_hz,samples,duration_s,placed_minute,"
        "placed_offset_s"
    ]
    for r in rows:
        dated = r["start_us"] is not None
        lines.append(
            ",".join(
                [
                    r["path"],
                    iso(r["start_us"], zoned=r["zoned"]) if dated else "",
                    "name",
                    "0.000000" if dated else "",
                    str(r["rate_hz"]),
                    str(r["samples"]),
                    seconds(r["samples"] * 1_000_000 // r["rate_hz"]) if r["rate_hz"] else "",
                    iso(r["placed_us"], decimals=False),
                    seconds(r["start_us"] - r["placed_us"]) if dated else "",
                ]
            )
        )
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


def write_linkage(path, lines):
    """A source-linkage file; lines: (minute, path)."""
    with open(path, "w", newline="") as f:
        f.write("".join(f"{m}\t{p}\r\n" for m, p in lines))
