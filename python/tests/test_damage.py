"""Damaged input raises ValueError naming the file and the byte (or the side file and the
line); never a partial table without an error."""

import os
import random
import shutil
import subprocess

import pytest

import wavtokeb

HEADER, RECORD = 1024, 16


@pytest.fixture(scope="module")
def sound(scenes):
    """A sound TK1 file of two recordings with its side files, and its size."""
    out = scenes.convert([("SITE.20240101000000.wav", 8, 41), ("SITE.20240101000200.wav", 5, 42)])
    tk1 = next(out.glob("*.TK1"))
    return tk1


def _copy(sound, folder, side_files=(".txt", ".recordings.csv")):
    tk1 = folder / sound.name
    shutil.copy(sound, tk1)
    for suffix in side_files:
        shutil.copy(sound.with_name(sound.stem + suffix), folder / (sound.stem + suffix))
    return tk1


def _patch(path, offset, data):
    with open(path, "r+b") as f:
        f.seek(offset)
        f.write(data)


def _click_offset(tk1):
    """The offset of the first click record."""
    data = tk1.read_bytes()
    for at in range(HEADER + 2 * RECORD, len(data), RECORD):
        if data[at] not in (254, 255):
            return at
    raise AssertionError("no click")


def _raises(tk1, where, what):
    for read in (wavtokeb.read_tk1, lambda p: next(wavtokeb.iter_clicks(p))):
        with pytest.raises(ValueError, match=what) as e:
            read(tk1)
        assert e.value.where == where
        assert str(tk1) in str(e.value) and where in str(e.value)


def _cut(n):
    return lambda p: p.write_bytes(p.read_bytes()[:n])


def _append(data):
    return lambda p: p.write_bytes(p.read_bytes() + data)


def test_damaged_tk1_files_name_the_byte(sound, tmp_path):
    size = sound.stat().st_size
    cut = size - 5 - (size - 5 - HEADER) % RECORD  # where the cut record begins
    cases = {
        # what is done to the file: where the fault is, what is said
        "cut": (_cut(-5), f"byte {cut}", "partial record"),
        "no-end": (_cut(-RECORD), f"byte {size - RECORD}", "no end record"),
        "after-end": (_append(bytes(RECORD)), f"byte {size}", "data after the end record"),
        "tail-after-end": (_append(b"\x01"), f"byte {size}", "data after the end record"),
        "lead": (lambda p: _patch(p, HEADER, b"\x00"), f"byte {HEADER}", "no lead minute record"),
        "count": (lambda p: _patch(p, 342, b"\x63"), "byte 340", "header counts 99 minute"),
        "last-minute": (lambda p: _patch(p, 279, b"\x00"), "byte 276", "last logging minute"),
        "time": (lambda p: _patch(p, _click_offset(p), b"\xb7\x1b\x00"), None, "click time beyond"),
        "header-only": (_cut(HEADER), f"byte {HEADER}", "no lead minute record"),
        "short": (_cut(100), "byte 100", "ends within the 1024-byte TK1 header"),
    }
    for name, (damage, where, what) in cases.items():
        folder = tmp_path / name
        folder.mkdir()
        tk1 = _copy(sound, folder)
        damage(tk1)
        _raises(tk1, where or f"byte {_click_offset(tk1)}", what)


def test_foreign_files_are_refused(sound, tmp_path, synth):
    wav = tmp_path / "x.TK1"
    subprocess.run(
        [synth, "one", wav, "--seconds", "1", "--rate", "96", "--no-clicks"],
        check=True,
        stdout=subprocess.DEVNULL,
    )
    _raises(wav, "byte 0", "it is a WAV file")
    text = tmp_path / "notes.TK1"
    text.write_bytes(b"These are field notes, no click data. " * 40)
    _raises(text, "byte 12", "holds 101 where a TK1 header holds 1")


def test_damaged_side_files_name_the_line(sound, tmp_path):
    def table(p):
        return p.with_name(p.stem + ".recordings.csv")

    def linkage(p):
        return p.with_name(p.stem + ".txt")

    def last_row_less(t, cells):
        return t.rstrip("\r\n").rsplit(",", cells)[0] + "\r\n"

    cases = {
        # the side file, what is done to its text: where the fault is, what is said
        "heading": (
            table, lambda t: "name,when\r\n" + t.split("\r\n", 1)[1],
            "line 1", "no recordings table heading",
        ),
        "start": (
            table, lambda t: t.replace("2024-01-01T00:02:00", "2024-13-01T00:02:00"),
            "line 3", "no recordings table row",
        ),
        "cells": (table, lambda t: last_row_less(t, 3), "line 3", "no recordings table row"),
        "placed": (
            table, lambda t: t.replace("2024-01-01T00:00:00,", "0001-01-01T00:00:00,", 1),
            "line 2", "which datetime64.ns. holds",
        ),
        "rows": (
            table, lambda t: t.rstrip("\r\n").rsplit("\r\n", 1)[0] + "\r\n",
            "line 2", "1 rows for the 2 recordings",
        ),
        "linkage": (linkage, lambda t: t.replace("\t", " ", 1), "line 1", "no source linkage line"),
    }
    for name, (side, change, where, what) in cases.items():
        folder = tmp_path / name
        folder.mkdir()
        tk1 = _copy(sound, folder)
        side(tk1).write_bytes(change(side(tk1).read_bytes().decode()).encode())
        with pytest.raises(ValueError, match=what) as e:
            wavtokeb.read_tk1(tk1)
        assert e.value.where == where and str(side(tk1)) in str(e.value), name


def test_random_damage_raises_exactly_where_dump_finds_a_fault(sound, tmp_path, cli):
    # Bytes changed, cut or added anywhere in the TK1 file: the reader raises ValueError where
    # dump reports a fault (exit status other than 0), and otherwise gives dump's rows.
    from dumpcheck import assert_clicks_equal_dump

    rng = random.Random(29)
    original = sound.read_bytes()
    for k in range(60):
        data = bytearray(original)
        how = k % 3
        if how == 0:
            for _ in range(rng.randint(1, 4)):
                data[rng.randrange(HEADER - 700, len(data))] = rng.randrange(256)
        elif how == 1:
            data = data[: rng.randrange(len(data))]
        else:
            at = rng.randrange(HEADER, len(data))
            data[at:at] = bytes(rng.randrange(256) for _ in range(rng.choice((1, 16, 32))))
        tk1 = tmp_path / f"{k}.TK1"
        tk1.write_bytes(bytes(data))
        dumped = subprocess.run([cli, "dump", "--csv", tk1], capture_output=True)
        try:
            t = wavtokeb.read_tk1(tk1)
        except ValueError:
            assert dumped.returncode != 0, f"case {k}: dump finds no fault"
            continue
        assert dumped.returncode == 0, f"case {k}: {dumped.stderr.decode()}"
        assert_clicks_equal_dump(cli, tk1, t)


def test_random_damage_to_side_files(sound, tmp_path, cli):
    # Characters changed, taken out or put in, in the recordings table: the reader refuses
    # exactly the tables dump refuses when named (--recordings), and starts it cannot hold as
    # times, and otherwise gives dump's rows; a linkage file it refuses is one of whose lines
    # dump says it is no linkage line.
    from dumpcheck import assert_clicks_equal_dump

    rng = random.Random(2929)
    table_text = sound.with_name(sound.stem + ".recordings.csv").read_text()
    linkage_text = sound.with_name(sound.stem + ".txt").read_text()
    alphabet = "0123456789-:.TZ,\"\r\n xa"
    for k in range(int(os.environ.get("WTK_SIDE_CASES", 60))):
        folder = tmp_path / str(k)
        folder.mkdir()
        tk1 = _copy(sound, folder)
        side = tk1.with_name(tk1.stem + (".txt" if k % 4 == 3 else ".recordings.csv"))
        text = list(linkage_text if k % 4 == 3 else table_text)
        for _ in range(rng.randint(1, 3)):
            at = rng.randrange(len(text))
            how = rng.random()
            if how < 0.6:
                text[at] = rng.choice(alphabet)
            elif how < 0.8:
                del text[at]
            else:
                text.insert(at, rng.choice(alphabet))
        side.write_text("".join(text), newline="")
        try:
            t = wavtokeb.read_tk1(tk1)
        except ValueError as e:
            t, refused = None, e
        if side.suffix == ".txt":
            dumped = subprocess.run([cli, "dump", "--csv", tk1], capture_output=True)
            warned = b"is no source linkage line" in dumped.stderr
            assert (t is None) == warned, f"case {k}: {dumped.stderr.decode()}"
            continue
        dumped = subprocess.run([cli, "dump", "--csv", "--recordings", side, tk1], capture_output=True)
        if t is None and "datetime64[ns] holds" in str(refused):
            assert refused.where.startswith("line")  # a start in another century
        elif t is None:
            assert dumped.returncode == 2, f"case {k}: dump reads the table: {refused}"
        else:
            assert dumped.returncode == 0, f"case {k}: {dumped.stderr.decode()}"
            assert_clicks_equal_dump(cli, tk1, t)
