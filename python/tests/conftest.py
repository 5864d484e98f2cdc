"""The tools the tests run (the build's wavtokeb-cli and wavtokeb-synth, given by CTest or
found in the checkout's build folder) and the recordings they convert."""

import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
# Real recordings and sidecars, beside the repository (never copied into it).
CORPUS = ROOT.parent / "shared" / "corpus" / "real"
# The package of this checkout, not an installed one.
sys.path.insert(0, str(ROOT / "python"))

import wavtokeb  # noqa: E402


def _tool(variable, default):
    given = os.environ.get(variable)
    path = pathlib.Path(given or ROOT / "build" / default)
    if not os.access(path, os.X_OK):
        if given:
            pytest.fail(f"{variable}={given} is no program")
        pytest.skip(f"{path} is not built (make build), or set {variable}")
    return path


@pytest.fixture(scope="session")
def cli():
    return _tool("WAVTOKEB_CLI", "src/cli/wavtokeb-cli")


@pytest.fixture(scope="session")
def synth():
    return _tool("WAVTOKEB_SYNTH", "src/synth/wavtokeb-synth")


@pytest.fixture(scope="session")
def golden(tmp_path_factory):
    """The output folders of the golden conversions (tests/cli/golden_test.cpp), one per case."""
    tests = _tool("WAVTOKEB_GOLDEN_TESTS", "tests/cli/golden_tests")
    keep = tmp_path_factory.mktemp("golden")
    subprocess.run(
        [tests, "--gtest_brief=1"],
        env=dict(os.environ, WTK_GOLDEN_KEEP=str(keep)),
        stdout=subprocess.DEVNULL,
        check=False,  # a changed golden value fails there, not here
    )
    cases = sorted(p for p in keep.iterdir() if p.is_dir())
    assert len(cases) >= 4, "the golden cases wrote no output folders"
    return cases


class Scenes:
    """Writes synthetic recordings (wavtokeb-synth one) and converts them with wavtokeb.convert."""

    def __init__(self, root, cli, synth):
        self.root, self.cli, self.synth = root, cli, synth
        self.count = 0
        self.written = {}

    def recordings(self, files, rate=384):
        """files: (name, seconds, seed) of each recording; written once for each list, each
        with the times of its clicks in NAME.truth.csv beside it."""
        key = (tuple(files), rate)
        if key in self.written:
            return self.written[key]
        self.count += 1
        folder = self.root / f"in{self.count}"
        self.written[key] = folder
        folder.mkdir()
        for name, seconds, seed in files:
            subprocess.run(
                [self.synth, "one", folder / name, "--rate", str(rate), "--seconds", str(seconds),
                 "--seed", str(seed), "--noise", "8", "--truth", folder / f"{name}.truth.csv"],
                check=True,
                stdout=subprocess.DEVNULL,
            )
        return folder

    def convert(self, files, rate=384, **options):
        folder = self.recordings(files, rate)
        self.count += 1
        out = self.root / f"out{self.count}"
        return wavtokeb.convert([folder], out, cli=self.cli, quiet=True, **options)


@pytest.fixture(scope="session")
def scenes(tmp_path_factory, cli, synth):
    return Scenes(tmp_path_factory.mktemp("scenes"), cli, synth)
