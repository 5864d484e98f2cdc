"""Running wavtokeb-cli convert from Python."""

import os
import pathlib
import shutil
import subprocess
import sys


class ConversionError(RuntimeError):
    """wavtokeb-cli ended with an exit status other than 0: its message (what it wrote on
    stderr), the status, and what it wrote on stdout."""

    def __init__(self, command, status, message, stdout):
        self.command = command
        self.status = status
        self.message = message
        self.stdout = stdout
        how = f"exit status {status}" if status >= 0 else f"signal {-status}"
        super().__init__(f"wavtokeb-cli convert ended with {how}: {message}")


def find_cli(cli=None):
    """The wavtokeb-cli to run: the one given, else $WAVTOKEB_CLI, else the one on PATH."""
    exe = cli or os.environ.get("WAVTOKEB_CLI") or shutil.which("wavtokeb-cli")
    if not exe:
        raise FileNotFoundError(
            "wavtokeb-cli is not on PATH: install it (the wavtokeb-cli package) or give "
            "convert(..., cli='/path/to/wavtokeb-cli')"
        )
    return os.fspath(exe)


def options_to_args(options):
    """Keyword options as command-line options: jobs=2 gives --jobs 2, exact_start=True gives
    --exact-start (False and None give nothing), set=["A=1", "B=2"] gives --set A=1 --set B=2."""
    args = []
    for name, value in options.items():
        flag = "--" + name.rstrip("_").replace("_", "-")
        if value is None or value is False:
            continue
        if value is True:
            args.append(flag)
        elif isinstance(value, (list, tuple)):
            for v in value:
                args += [flag, os.fspath(v) if isinstance(v, os.PathLike) else str(v)]
        else:
            args += [flag, os.fspath(value) if isinstance(value, os.PathLike) else str(value)]
    return args


def convert(paths, out, cli=None, **options):
    """Converts recordings (files or folders) into TK1 files in the folder out with
    `wavtokeb-cli convert` and returns out as a path, ready for read_folder(). Keyword options
    are the command line's (jobs=2, exact_start=True, time_source="file", set=[...]); its
    warnings go to stderr. Raises ConversionError with the tool's message and exit status when
    it fails (nothing replaced: the tool refuses to replace earlier results unless
    overwrite=True)."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    command = [find_cli(cli), "convert", *options_to_args(options), "--out", os.fspath(out)]
    command += ["--", *(os.fspath(p) for p in paths)] if paths else []
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True)
    stderr = done.stderr.decode("utf-8", errors="replace")
    stdout = done.stdout.decode("utf-8", errors="replace")
    if done.returncode != 0:
        raise ConversionError(command, done.returncode, stderr.strip(), stdout)
    if stderr:
        sys.stderr.write(stderr)
    return pathlib.Path(out)
