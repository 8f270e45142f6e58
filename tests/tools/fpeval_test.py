#!/usr/bin/env python3
"""fpeval on a small generated folder: the TOTAL line and the refusals.

    fpeval_test.py FPEVAL SYNTHETIC_FINGERS WORK_DIR
"""
import re
import shutil
import subprocess
import sys
from pathlib import Path

FINGERS = 4
PROBES = 2
PRESET_COUNT = 49
TOTAL = re.compile(r"TOTAL fingers (\d+) enrol-fail (\d+) genuine (\d+)/(\d+) impostor (\d+)/(\d+) errors (\d+)")

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=300)


def read_pgm(path):
    data = path.read_bytes()
    magic, size, maxval, pixels = data.split(b"\n", 3)
    # The generator writes one comment line after the magic.
    while size.startswith(b"#"):
        size, maxval, pixels = maxval, *pixels.split(b"\n", 1)
    cols, rows = map(int, size.split())
    return rows, cols, pixels[: rows * cols]


def write_pgm(path, rows, cols, pixels):
    path.write_bytes(b"P5\n%d %d\n255\n" % (cols, rows) + bytes(pixels))


def crop_folder(src, dst, rows, cols):
    """Copies the layout with every capture cut to its top-left rows x cols."""
    for pgm in src.rglob("*.pgm"):
        r, c, px = read_pgm(pgm)
        out = dst / pgm.relative_to(src)
        out.parent.mkdir(parents=True, exist_ok=True)
        write_pgm(out, rows, cols, b"".join(px[i * c : i * c + cols] for i in range(rows)))


def total_of(result, what):
    """The TOTAL line's figures, checked for shape and consistency."""
    lines = result.stdout.strip().splitlines()
    check(result.returncode == 0, f"{what}: exit code {result.returncode}, stderr {result.stderr!r}")
    match = TOTAL.fullmatch(lines[-1]) if lines else None
    check(match is not None, f"{what}: last line {lines[-1] if lines else None!r} is not the TOTAL line")
    if match is None:
        return None
    f, x, a, b, c, d, e = map(int, match.groups())
    enrolled = f - x
    check(f == FINGERS, f"{what}: {f} fingers, not {FINGERS}")
    check(b == PROBES * f, f"{what}: {b} genuine comparisons, not {PROBES * f} (failed enrolments count too)")
    check(d == PROBES * f * enrolled - PROBES * enrolled, f"{what}: {d} impostor comparisons with {enrolled} enrolled")
    check(a <= b and c <= d and e <= b + d, f"{what}: accepts or errors beyond the comparisons")
    return f, x, a, b, c, d, e


def main():
    fpeval, generator, work = sys.argv[1], sys.argv[2], Path(sys.argv[3])
    shutil.rmtree(work, ignore_errors=True)
    folder, cropped, mixed = work / "generated", work / "cropped", work / "mixed"
    gen = run(generator, folder, "--fingers", FINGERS, "--seed", 11, "--db", "synthetic")
    check(gen.returncode == 0, f"generator failed: {gen.stderr}")

    # The working preset, by its full and its short name, at three levels.
    full = run(fpeval, "--preset", "gen_192x80_hybridhr_create", folder)
    total_of(full, "working preset")
    for level in (6, 12, 18):
        check(f"  level {level}: genuine accepted" in full.stdout, f"no figures at level {level}")
    short = run(fpeval, "--preset", "192x80_hybridhr", folder)
    check(short.stdout.splitlines()[-1:] == full.stdout.splitlines()[-1:], "short name gives another run")

    # Captures of another size, all alike, are read from their header.
    crop_folder(folder, cropped, 130, 90)
    other = run(fpeval, "--preset", "192x80_hybridhr_speed_mem", cropped)
    total_of(other, "130 x 90 captures")
    check("captures 130 x 90" in other.stdout, "the heading does not give the captures' size")

    # An untrained preset reports its failures and does not crash.
    untrained = run(fpeval, "--preset", "gen_130x130_hybrid_create", folder)
    counts = total_of(untrained, "untrained preset")
    if counts and (counts[1] > 0 or counts[6] > 0):
        check(" code " in untrained.stdout, "failures are reported without their code")

    # The exported interface keeps its run and gains the TOTAL line.
    total_of(run(fpeval, folder), "exported interface")

    # One capture of another size is refused, naming it.
    crop_folder(folder, mixed, 176, 96)
    odd = next(mixed.rglob("p8.pgm"))
    write_pgm(odd, 100, 96, bytes(100 * 96))
    refused = run(fpeval, "--preset", "192x80_hybridhr", mixed)
    check(refused.returncode == 1, f"a capture of another size gives exit code {refused.returncode}")
    check(str(odd) in refused.stderr and "one size" in refused.stderr, f"refusal reads {refused.stderr!r}")

    # An unknown preset lists every valid name.
    unknown = run(fpeval, "--preset", "gen_1x1_hybrid_create", folder)
    check(unknown.returncode == 2, f"an unknown preset gives exit code {unknown.returncode}")
    listed = re.findall(r"^  gen_\w+_create$", unknown.stderr, re.MULTILINE)
    check(len(listed) == PRESET_COUNT, f"{len(listed)} presets listed, not {PRESET_COUNT}")

    print("fpeval checks:", "failed" if failures else "passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
