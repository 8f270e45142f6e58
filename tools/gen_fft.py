#!/usr/bin/env python3
"""Model of the fixed-point 1-D FFTs and generator of their unrolled C++ code.

One model describes every transform size: the stage plan, the twiddle constant
and the rounding of every twiddle site, and the bit-reversed block order. The
model runs in Python (`fft_model`, exact 32-bit wrapping integer arithmetic)
and writes straight-line C++ (`emit_cpp`) from the same description, so the
two cannot drift apart.

Decimation in time. After the first stage (radix 4, no twiddles), a block of
length L at position p holds the L-point transform of the subsequence of
stride N/L whose offset is p with its bits reversed. Radix-4 stages merge four
consecutive blocks, radix-2 stages two.

Run: python3 tools/gen_fft.py            writes algorithm/math/zr_fft_kernels.cpp
                                         (under DIR with --root DIR)
     python3 tools/gen_fft.py --check    runs the model against a float DFT
     python3 tools/gen_fft.py --golden   prints hashes of the model's exact outputs
                                         for the seeded inputs of tests/math/fft_test.cpp
"""

from decimal import Decimal, getcontext
import cmath
import math
import random
import sys

import decimal_math
from gen_output import write_text

OUT = "algorithm/math/zr_fft_kernels.cpp"

# Rounding of the real and imaginary part of each twiddle site, keyed by
# (k1, r): 'f' rounds down (arithmetic shift), 'c' rounds up (negated sum
# shifted, negated). Sites not listed round down; sites whose angle is a
# multiple of 90 degrees are exact and never rounded.


def parse_sites(text):
    sites = {}
    for item in text.split(","):
        site, mode = item.split()
        k1, r = site.split(".")
        sites[(int(k1), int(r))] = mode
    return sites


ROUND_16_R4 = parse_sites("1.1 ff, 1.2 ff, 1.3 fc, 2.1 ff, 2.3 fc, 3.1 fc, 3.2 fc, 3.3 fc")
ROUND_32_R4 = parse_sites("1.1 ff, 1.2 ff, 1.3 fc, 2.1 ff, 2.3 cf, 3.1 fc, 3.2 fc, 3.3 cc")
ROUND_32_R2 = parse_sites(
    "1.1 ff, 2.1 ff, 3.1 ff, 4.1 ff, 5.1 fc, 6.1 fc, 7.1 fc, 9.1 ff, 10.1 ff, 11.1 ff, 12.1 fc, "
    "13.1 cf, 14.1 cf, 15.1 cf")
ROUND_64_R4A = parse_sites("1.1 ff, 1.2 ff, 1.3 ff, 2.1 ff, 2.3 fc, 3.1 ff, 3.2 fc, 3.3 fc")
ROUND_64_R4B = parse_sites("8.3 fc, 11.3 cc, 12.2 fc, 12.3 cc, 13.3 cc, 14.3 cc, 15.3 cc")
ROUND_128_R2 = parse_sites("48.1 fc")


class Stage:
    def __init__(self, radix, length, scaling, rounding):
        self.radix = radix        # 4 or 2
        self.length = length      # M, the length of the merged blocks
        self.scaling = scaling    # 'split' or 'whole' (radix 4); None for radix 2
        self.rounding = rounding  # {(k1, r): mode}


# Stages after the first, for each size.
PLAN = {
    16: [Stage(4, 16, "split", ROUND_16_R4)],
    32: [Stage(4, 16, "whole", ROUND_32_R4), Stage(2, 32, None, ROUND_32_R2)],
    64: [Stage(4, 16, "split", ROUND_64_R4A), Stage(4, 64, "split", ROUND_64_R4B)],
    128: [Stage(4, 16, "split", ROUND_64_R4A), Stage(4, 64, "split", ROUND_64_R4B),
          Stage(2, 128, None, ROUND_128_R2)],
}

# The constants as documented, to check the computed ones against.
LISTED_CONSTANTS = {
    16: {(946, 392), (724, 724)},
    32: {(1004, 200), (851, 569)},
    64: {(1019, 100), (980, 297), (903, 483), (792, 650)},
    128: {(1023, 50), (1013, 150), (993, 249), (964, 345), (926, 438), (878, 526), (822, 610), (759, 688)},
}


def bit_reverse(value, bits):
    out = 0
    for _ in range(bits):
        out = (out << 1) | (value & 1)
        value >>= 1
    return out


# --- twiddle constants, computed with decimal arithmetic ----------------------

getcontext().prec = 50


_PI = decimal_math.pi()


def _round(v):
    return decimal_math.round_half_up(v, Decimal(10) ** -30)


def twiddle_constants(e, m):
    """(c, s) = (round(1024 cos t), round(1024 sin t)) for t = 2 pi e / m, not a right angle."""
    # Fold into the first octant so the series runs on a small argument.
    e %= m
    octant_angle = 2 * _PI * Decimal(e) / Decimal(m)
    angle = octant_angle if octant_angle <= _PI else octant_angle - 2 * _PI
    s, c = decimal_math.sin(angle), decimal_math.cos(angle)
    return _round(1024 * c), _round(1024 * s)


def site_kind(e, m):
    """'exact0', 'exact90', 'exact180', 'exact270' or 'general' for W^e, W = e^(-2 pi i / m)."""
    if (4 * e) % m == 0:
        return "exact%d" % (90 * ((4 * e // m) % 4))
    return "general"


def check_constants():
    for n in (16, 32, 64, 128):
        folded = set()
        for e in range(1, n // 8 + 1):
            if site_kind(e, n) == "general":
                c, s = twiddle_constants(e, n)
                folded.add((max(abs(c), abs(s)), min(abs(c), abs(s))))
        expected = set().union(*(LISTED_CONSTANTS[k] for k in LISTED_CONSTANTS if k <= n))
        assert folded == expected, (n, folded, expected)
    # Every non-exact site of the fully listed stages is listed.
    for table, m, radix in ((ROUND_16_R4, 16, 4), (ROUND_32_R4, 16, 4), (ROUND_32_R2, 32, 2),
                            (ROUND_64_R4A, 16, 4)):
        length = m // radix
        rs = range(1, radix)
        general = {(k1, r) for k1 in range(length) for r in rs if site_kind(r * k1, m) == "general"}
        assert general == set(table), (m, radix, general ^ set(table))
    for table, m, radix in ((ROUND_64_R4B, 64, 4), (ROUND_128_R2, 128, 2)):
        for (k1, r) in table:
            assert site_kind(r * k1, m) == "general"


# --- the model in Python ------------------------------------------------------

def wrap(v):
    return ((v + 0x80000000) & 0xFFFFFFFF) - 0x80000000


def round_shift(v, mode):
    v = wrap(v)
    return v >> 10 if mode == "f" else wrap(-(wrap(-v) >> 10))


def twiddle(a, b, e, m, mode):
    kind = site_kind(e, m)
    if kind == "exact0":
        return a, b
    if kind == "exact90":
        return b, wrap(-a)
    if kind == "exact180":
        return wrap(-a), wrap(-b)
    if kind == "exact270":
        return wrap(-b), a
    c, s = twiddle_constants(e, m)
    return round_shift(a * c + b * s, mode[0]), round_shift(b * c - a * s, mode[1])


def first_stage(re, im):
    n = len(re)
    q = n // 4
    bits = (q).bit_length() - 1
    xr, xi = [0] * n, [0] * n
    for r in range(q):
        a = [(re[r + k * q], im[r + k * q]) for k in range(4)]
        p = bit_reverse(r, bits)
        (a0r, a0i), (a1r, a1i), (a2r, a2i), (a3r, a3i) = a
        outs = [
            (a0r + a1r + a2r + a3r, a0i + a1i + a2i + a3i),
            (a0r + a1i - a2r - a3i, a0i - a1r - a2i + a3r),
            (a0r - a1r + a2r - a3r, a0i - a1i + a2i - a3i),
            (a0r - a1i - a2r + a3i, a0i + a1r - a2i - a3r),
        ]
        for k, (vr, vi) in enumerate(outs):
            xr[4 * p + k] = wrap(vr) >> 2
            xi[4 * p + k] = wrap(vi) >> 2
    return xr, xi


def radix4_stage(xr, xi, stage):
    m, L = stage.length, stage.length // 4
    offsets = (0, 2, 1, 3)  # the offset r held by block 0, 1, 2, 3
    for base in range(0, len(xr), m):
        for k1 in range(L):
            z = [None] * 4
            for blk in range(4):
                r = offsets[blk]
                pos = base + blk * L + k1
                z[r] = twiddle(xr[pos], xi[pos], r * k1, m, stage.rounding.get((k1, r), "ff"))
            A = [wrap(z[0][i] + z[2][i]) for i in (0, 1)]
            B = [wrap(z[0][i] - z[2][i]) for i in (0, 1)]
            C = [wrap(z[1][i] + z[3][i]) for i in (0, 1)]
            D = [wrap(z[1][i] - z[3][i]) for i in (0, 1)]
            if stage.scaling == "split":
                A, B, C, D = ([v >> 1 for v in X] for X in (A, B, C, D))
                shift = 1
            else:
                shift = 2
            outs = [
                (A[0] + C[0], A[1] + C[1]),
                (B[0] + D[1], B[1] - D[0]),  # B - jD
                (A[0] - C[0], A[1] - C[1]),
                (B[0] - D[1], B[1] + D[0]),  # B + jD
            ]
            for q, (vr, vi) in enumerate(outs):
                xr[base + k1 + q * L] = wrap(vr) >> shift
                xi[base + k1 + q * L] = wrap(vi) >> shift


def radix2_stage(xr, xi, stage):
    m, L = stage.length, stage.length // 2
    for base in range(0, len(xr), m):
        for k in range(L):
            y0 = (xr[base + k], xi[base + k])
            zr, zi = twiddle(xr[base + L + k], xi[base + L + k], k, m, stage.rounding.get((k, 1), "ff"))
            xr[base + k], xi[base + k] = wrap(y0[0] + zr) >> 1, wrap(y0[1] + zi) >> 1
            xr[base + L + k], xi[base + L + k] = wrap(y0[0] - zr) >> 1, wrap(y0[1] - zi) >> 1


def fft_model(re, im):
    xr, xi = first_stage(re, im)
    for stage in PLAN[len(re)]:
        (radix4_stage if stage.radix == 4 else radix2_stage)(xr, xi, stage)
    return xr, xi


def run_checks():
    check_constants()
    rng = random.Random(1)
    for n in PLAN:
        for amplitude in (1000, 1 << 18):
            re = [rng.randint(-amplitude, amplitude) for _ in range(n)]
            im = [rng.randint(-amplitude, amplitude) for _ in range(n)]
            got_r, got_i = fft_model(re, im)
            worst = 0.0
            for k in range(n):
                ref = sum(complex(re[t], im[t]) * cmath.exp(-2j * math.pi * t * k / n) for t in range(n)) / n
                worst = max(worst, abs(complex(got_r[k], got_i[k]) - ref))
            print(f"N={n:3d} amplitude {amplitude:7d}: largest error {worst:.2f}")
        assert fft_model([777] * n, [0] * n) == ([777] + [0] * (n - 1), [0] * n)
        assert fft_model([n] + [0] * (n - 1), [0] * n) == ([1] * n, [0] * n)
        assert fft_model([-1] + [0] * (n - 1), [0] * n) == ([-1] * n, [0] * n)


# --- 2-D transforms in Python, for exact reference values -----------------------

def trunc_div2(v):
    v = wrap(v)
    return -((-v) // 2) if v < 0 else v // 2


def fft2d_model(block, n):
    """Half spectrum (re, im), each n rows of n/2 + 1, of the real n x n block."""
    h = n // 2 + 1
    re, im = [0] * (n * h), [0] * (n * h)
    for i in range(n // 2):
        zr, zi = fft_model(block[2 * i * n:(2 * i + 1) * n], block[(2 * i + 1) * n:(2 * i + 2) * n])
        a, b = 2 * i * h, (2 * i + 1) * h
        for k in (0, n // 2):
            re[a + k], im[a + k], re[b + k], im[b + k] = zr[k], 0, zi[k], 0
        for k in range(1, n // 2):
            re[a + k] = trunc_div2(zr[k] + zr[n - k])
            im[a + k] = trunc_div2(zi[k] - zi[n - k])
            re[b + k] = trunc_div2(zi[k] + zi[n - k])
            im[b + k] = trunc_div2(zr[n - k] - zr[k])
    for v in range(h):
        cr, ci = fft_model([re[u * h + v] for u in range(n)], [im[u * h + v] for u in range(n)])
        for u in range(n):
            re[u * h + v], im[u * h + v] = cr[u], ci[u]
    return re, im


def ifft2d_model(re, im, n):
    """(block, work) of the inverse transform of the half spectrum."""
    h = n // 2 + 1
    block, work = [0] * (n * n), [0] * (n * h)
    for v in range(h):
        xr = [re[((n - t) % n) * h + v] for t in range(n)]
        xi = [im[((n - t) % n) * h + v] for t in range(n)]
        yr, yi = fft_model(xr, xi)
        for u in range(n):
            block[u * n + v], work[u * h + v] = yr[u], yi[u]
    for i in range(n // 2):
        fa_re, fa_im = block[2 * i * n:2 * i * n + h], work[2 * i * h:(2 * i + 1) * h]
        fb_re, fb_im = block[(2 * i + 1) * n:(2 * i + 1) * n + h], work[(2 * i + 1) * h:(2 * i + 2) * h]
        zr, zi = [0] * n, [0] * n
        for v in range(h):
            zr[v], zi[v] = wrap(fa_re[v] - fb_im[v]), wrap(fa_im[v] + fb_re[v])
        for v in range(1, n // 2):
            zr[n - v], zi[n - v] = wrap(fa_re[v] + fb_im[v]), wrap(fb_re[v] - fa_im[v])
        outr, outi = fft_model([zr[(n - t) % n] for t in range(n)], [zi[(n - t) % n] for t in range(n)])
        block[2 * i * n:(2 * i + 1) * n] = outr
        block[(2 * i + 1) * n:(2 * i + 2) * n] = outi
    return block, work


class Lcg:
    """The test's input generator: state = state * 1664525 + 1013904223."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state


def value_hash(values, h=0xCBF29CE484222325):
    for v in values:
        h = ((h ^ (v & 0xFFFFFFFF)) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def golden():
    """Hashes of the exact outputs for the test's seeded inputs."""
    for n in PLAN:
        g = Lcg(n)
        re = [(g.next() >> 13) - (1 << 18) for _ in range(n)]
        im = [(g.next() >> 13) - (1 << 18) for _ in range(n)]
        out_r, out_i = fft_model(re, im)
        block = [((g.next() >> 24) - 128) * 4096 for _ in range(n * n)]
        sr, si = fft2d_model(block, n)
        back, work = ifft2d_model(sr, si, n)
        print(f"    {{{n}, 0x{value_hash(out_r + out_i):016X}ull, 0x{value_hash(sr + si):016X}ull, "
              f"0x{value_hash(back + work):016X}ull}},")


# --- C++ emitter ----------------------------------------------------------------

def cpp_twiddle(name, a, b, e, m, mode):
    """Statements defining name_r and name_i as W^e times (a + j b)."""
    kind = site_kind(e, m)
    if kind == "exact0":
        return [f"const int32_t {name}r = {a}, {name}i = {b};"]
    if kind == "exact90":
        return [f"const int32_t {name}r = {b}, {name}i = -{a};"]
    if kind == "exact180":
        return [f"const int32_t {name}r = -{a}, {name}i = -{b};"]
    if kind == "exact270":
        return [f"const int32_t {name}r = -{b}, {name}i = {a};"]
    c, s = twiddle_constants(e, m)

    def product(x, cx, y, cy):
        # x * cx + y * cy with the signs folded into the operators.
        first = f"{x} * {cx}" if cx >= 0 else f"-{x} * {-cx}"
        second = f" + {y} * {cy}" if cy >= 0 else f" - {y} * {-cy}"
        return first + second

    def rounded(expr, m_):
        return f"({expr}) >> 10" if m_ == "f" else f"-((-({expr})) >> 10)"

    return [f"const int32_t {name}r = {rounded(product(a, c, b, s), mode[0])};",
            f"const int32_t {name}i = {rounded(product(b, c, a, -s), mode[1])};"]


def emit_size(n):
    q = n // 4
    bits = q.bit_length() - 1
    stages = PLAN[n]
    lines = [f"void zr_fftn{n}(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im) {{",
             f"    int32_t xr[{n}], xi[{n}];"]
    # The last stage writes to the output arrays.
    def target(stage_index):
        return ("out_re", "out_im") if stage_index == len(stages) - 1 else ("xr", "xi")

    lines.append("    // First stage: radix 4 without twiddles, results in bit-reversed block order.")
    for r in range(q):
        p = bit_reverse(r, bits)
        lines.append("    {")
        loads = ", ".join(f"a{k}r = in_re[{r + k * q}], a{k}i = in_im[{r + k * q}]" for k in range(4))
        lines.append(f"        const int32_t {loads};")
        outs = [
            ("a0r + a1r + a2r + a3r", "a0i + a1i + a2i + a3i"),
            ("a0r + a1i - a2r - a3i", "a0i - a1r - a2i + a3r"),
            ("a0r - a1r + a2r - a3r", "a0i - a1i + a2i - a3i"),
            ("a0r - a1i - a2r + a3i", "a0i + a1r - a2i - a3r"),
        ]
        for k, (er, ei) in enumerate(outs):
            lines.append(f"        xr[{4 * p + k}] = ({er}) >> 2;")
            lines.append(f"        xi[{4 * p + k}] = ({ei}) >> 2;")
        lines.append("    }")

    for si, stage in enumerate(stages):
        dr, di = target(si)
        m = stage.length
        if stage.radix == 4:
            L = m // 4
            lines.append(f"    // Radix-4 stage into blocks of {m}, {stage.scaling} scaling.")
            for base in range(0, n, m):
                for k1 in range(L):
                    lines.append("    {")
                    for blk, r in enumerate((0, 2, 1, 3)):
                        pos = base + blk * L + k1
                        mode = stage.rounding.get((k1, r), "ff")
                        for s in cpp_twiddle(f"z{r}", f"xr[{pos}]", f"xi[{pos}]", r * k1, m, mode):
                            lines.append("        " + s)
                    sh = " >> 1" if stage.scaling == "split" else ""
                    for nm, op, x, y in (("A", "+", 0, 2), ("B", "-", 0, 2), ("C", "+", 1, 3), ("D", "-", 1, 3)):
                        lines.append(f"        const int32_t {nm}r = (z{x}r {op} z{y}r){sh}, "
                                     f"{nm}i = (z{x}i {op} z{y}i){sh};")
                    out_shift = 1 if stage.scaling == "split" else 2
                    outs = [("Ar + Cr", "Ai + Ci"), ("Br + Di", "Bi - Dr"), ("Ar - Cr", "Ai - Ci"), ("Br - Di", "Bi + Dr")]
                    for qq, (er, ei) in enumerate(outs):
                        pos = base + k1 + qq * L
                        lines.append(f"        {dr}[{pos}] = ({er}) >> {out_shift};")
                        lines.append(f"        {di}[{pos}] = ({ei}) >> {out_shift};")
                    lines.append("    }")
        else:
            L = m // 2
            lines.append(f"    // Radix-2 stage into blocks of {m}.")
            for base in range(0, n, m):
                for k in range(L):
                    lines.append("    {")
                    mode = stage.rounding.get((k, 1), "ff")
                    lines.append(f"        const int32_t y0r = xr[{base + k}], y0i = xi[{base + k}];")
                    for s in cpp_twiddle("z", f"xr[{base + L + k}]", f"xi[{base + L + k}]", k, m, mode):
                        lines.append("        " + s)
                    lines.append(f"        {dr}[{base + k}] = (y0r + zr) >> 1;")
                    lines.append(f"        {di}[{base + k}] = (y0i + zi) >> 1;")
                    lines.append(f"        {dr}[{base + L + k}] = (y0r - zr) >> 1;")
                    lines.append(f"        {di}[{base + L + k}] = (y0i - zi) >> 1;")
                    lines.append("    }")
    lines.append("}")
    return "\n".join(lines) + "\n"


def emit_cpp():
    check_constants()
    parts = [
        "// Generated by tools/gen_fft.py; do not edit.\n",
        "// Straight-line fixed-point 1-D FFTs of 16, 32, 64 and 128 points.\n",
        '#include "math/zr_fft.h"\n\n',
        "// Every sum wraps in 32 bits (the library is built with -fwrapv); every shift of a\n",
        "// signed value is arithmetic.\n\n",
    ]
    for n in (16, 32, 64, 128):
        parts.append(emit_size(n))
        parts.append("\n")
    write_text(OUT, "".join(parts).rstrip("\n") + "\n")


if __name__ == "__main__":
    if "--check" in sys.argv:
        run_checks()
    elif "--golden" in sys.argv:
        golden()
    else:
        emit_cpp()
