"""The package installs from its source folder with pip and Debian's setuptools, without the
network, and works from where it was installed."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import wavtokeb

SOURCE = pathlib.Path(__file__).resolve().parents[1]


def test_pip_installs_it_offline(tmp_path, scenes):
    pytest.importorskip("pip")
    copy = tmp_path / "python"
    leave_out = shutil.ignore_patterns("tests", "__pycache__", "build", "*.egg-info")
    shutil.copytree(SOURCE, copy, ignore=leave_out)
    target = tmp_path / "site"
    done = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-index", "--no-deps",
         "--no-cache-dir", "--disable-pip-version-check", "--target", target, copy],
        capture_output=True,
        text=True,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    out = scenes.convert([("LOC.20240611080000.wav", 3, 61)])
    tk1 = next(out.glob("*.TK1"))
    # A fresh interpreter that sees the installed copy alone.
    read = subprocess.run(
        [sys.executable, "-I", "-c",
         f"import sys; sys.path.insert(0, {str(target)!r}); import wavtokeb; "
         f"print(wavtokeb.__file__); print(len(wavtokeb.read_tk1({str(tk1)!r}).clicks))"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
    )
    assert read.returncode == 0, read.stderr
    where, clicks = read.stdout.split()
    assert where.startswith(str(target))
    assert int(clicks) == len(wavtokeb.read_tk1(tk1).clicks) > 0


def test_one_version_everywhere():
    pyproject = (SOURCE / "pyproject.toml").read_text()
    assert re.search(r'^version = "([^"]+)"', pyproject, re.M).group(1) == wavtokeb.__version__
    project = os.environ.get("WAVTOKEB_VERSION")
    if project:
        assert wavtokeb.__version__ == project, "python/ and CMakeLists.txt name other versions"
