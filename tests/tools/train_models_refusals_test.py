#!/usr/bin/env python3
"""train_models refuses unknown names, empty lists and another mode's option
before it reads or writes anything: exit status 2, the bad name and the valid
names on standard error, nothing on standard output, ROOT left empty.

    train_models_refusals_test.py TRAIN_MODELS WORK_DIR
"""
import shutil
import subprocess
import sys
from pathlib import Path

SET_NAMES = ["E100", "E115", "E130", "E144", "E56", "E64", "E80", "H100", "H115", "H130", "H56", "H80", "P115",
             "P130", "L160", "L160m", "L192"]
MODEL_IDS = ["e100", "e115", "e130", "e144", "e56", "e64", "e80", "h100", "h115", "h130", "h56", "p115", "p130",
             "l160", "l160m", "l192"]

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def main():
    trainer, work = sys.argv[1], Path(sys.argv[2])
    shutil.rmtree(work, ignore_errors=True)
    train, ssb, root = work / "train", work / "ssb", work / "root"
    for d in (train, ssb, root):
        d.mkdir(parents=True)
    # (arguments, what standard error names, the valid names it lists)
    rows = [
        (["evaluate", train, ssb, "--sets", "BOGUS"], '"BOGUS"', SET_NAMES),
        (["decisions", train, "--sets", "nope"], '"nope"', SET_NAMES),
        (["calibrate", train, "--models", "zz9"], '"zz9"', MODEL_IDS + ["h80"]),
        (["train", train, root, "--models", "zz9"], '"zz9"', MODEL_IDS),
        (["train", train, root, "--models", "h80"], '"h80"', MODEL_IDS),
        (["evaluate", train, ssb, "--sets", ""], "needs at least one name", SET_NAMES),
        (["evaluate", train, ssb, "--models", "e130"], "evaluate takes --sets, not --models", []),
    ]
    for args, named, valid in rows:
        what = " ".join(str(a) for a in args)
        result = subprocess.run([trainer, *map(str, args)], capture_output=True, text=True, timeout=60)
        check(result.returncode == 2, f"{what}: exit code {result.returncode}")
        check(result.stdout == "", f"{what}: standard output {result.stdout!r}")
        check(named in result.stderr, f"{what}: standard error {result.stderr!r} does not hold {named}")
        listed = result.stderr.rpartition(":")[2].strip().split(", ") if valid else []
        check(listed == valid, f"{what}: valid names listed {listed}, not {valid}")
        check(not any(root.iterdir()), f"{what}: wrote under ROOT")

    print("train_models refusals:", "failed" if failures else "passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
