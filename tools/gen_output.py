"""Where the table generators write their files.

By default into the repository (algorithm/...); with `--root DIR` on the
command line into DIR instead, under the same relative paths, so that the
output can be compared with the committed tables (tools/check_tables.py).
"""
from pathlib import Path
import sys

REPOSITORY = Path(__file__).resolve().parent.parent


def output_root():
    if "--root" in sys.argv:
        i = sys.argv.index("--root")
        if i + 1 >= len(sys.argv):
            sys.exit("--root needs a directory")
        return Path(sys.argv[i + 1])
    return REPOSITORY


def write_text(relative_path, text):
    """Writes text to relative_path (e.g. "algorithm/math/x.h") under the output root."""
    path = output_root() / relative_path
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
