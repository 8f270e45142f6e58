#!/usr/bin/env python3
"""Writes the constant tables of the fixed-point maths as literal C++ arrays.

Outputs (in algorithm/math/):
  zr_trig_tables.h / zr_trig_tables.cpp  sine and arctangent tables
  zr_exp_table.h                         2^(i/64) in Q8 for zr_exp_8
  zr_crc32_table.h                       CRC-32 table of the reflected polynomial

Every value is computed with exact or high-precision arithmetic. Where the
mathematical value is an integer (sin 0, sin 30 degrees, sin 90 degrees,
atan 1, 2^0) the value is taken exactly from a rational: a decimal series
gives 8191.99... for 16384 sin(pi/6), whose floor would be wrong. Every
other value is checked to lie far from the rounding boundary, so the floor
or round of the decimal approximation is the true one.

Run: python3 tools/gen_math_tables.py   (from the repository root)
"""

from decimal import Decimal, getcontext
from fractions import Fraction
from pathlib import Path
import math

getcontext().prec = 90
MARGIN = Decimal(10) ** -60  # minimum distance to a rounding boundary

OUT = Path(__file__).resolve().parent.parent / "algorithm" / "math"


def dec_pi():
    """pi to the context precision (series of the decimal module recipe)."""
    getcontext().prec += 2
    three = Decimal(3)
    lasts, t, s, n, na, d, da = 0, three, 3, 1, 0, 0, 24
    while s != lasts:
        lasts = s
        n, na = n + na, na + 8
        d, da = d + da, da + 32
        t = (t * n) / d
        s += t
    getcontext().prec -= 2
    return +s


PI = dec_pi()


def dec_sin(x):
    getcontext().prec += 2
    i, lasts, s, fact, num, sign = 1, 0, x, 1, x, 1
    while s != lasts:
        lasts = s
        i += 2
        fact *= i * (i - 1)
        num *= x * x
        sign *= -1
        s += num / fact * sign
    getcontext().prec -= 2
    return +s


def dec_atan(x):
    # Two halvings bring |x| below 0.42, then the Taylor series.
    getcontext().prec += 4
    for _ in range(2):
        x = x / (1 + (1 + x * x).sqrt())
    s, term, k, lasts = x, x, 1, None
    while s != lasts:
        lasts = s
        term *= -x * x
        k += 2
        s += term / k
    getcontext().prec -= 4
    return +(4 * s)


def dec_exp2(x):
    return (Decimal(2).ln() * x).exp()


def floor_checked(v):
    if isinstance(v, Fraction):
        return math.floor(v)
    f = int(v.to_integral_value(rounding="ROUND_FLOOR"))
    if v - f < MARGIN or (f + 1) - v < MARGIN:
        raise ValueError(f"value {v} is too close to an integer to floor safely")
    return f


def round_checked(v):
    """round(v) = floor(v + 1/2)."""
    if isinstance(v, Fraction):
        return math.floor(v + Fraction(1, 2))
    return floor_checked(v + Decimal("0.5"))


def sin_of_fraction_of_half_turn(frac):
    """sin(pi * frac) for a Fraction frac in [0, 1/2]; exact where rational."""
    exact = {Fraction(0): Fraction(0), Fraction(1, 6): Fraction(1, 2), Fraction(1, 2): Fraction(1)}
    if frac in exact:
        return exact[frac]
    return dec_sin(PI * Decimal(frac.numerator) / Decimal(frac.denominator))


def atan_turn_fraction(ratio):
    """atan(ratio) / (2 pi) for a Fraction ratio >= 0; exact at 0 and 1."""
    exact = {Fraction(0): Fraction(0), Fraction(1): Fraction(1, 8)}
    if ratio in exact:
        return exact[ratio]
    return dec_atan(Decimal(ratio.numerator) / Decimal(ratio.denominator)) / (2 * PI)


def exp2_fraction(frac):
    if frac == 0:
        return Fraction(1)
    return dec_exp2(Decimal(frac.numerator) / Decimal(frac.denominator))


def scale(v, k):
    return v * k if isinstance(v, Fraction) else v * Decimal(k)


def tables():
    t = {}
    # 8-bit quarter sines: sin(2 pi i / 256) = sin(pi * i / 128).
    t["zr_sin_table_8"] = ("int16_t", [floor_checked(scale(sin_of_fraction_of_half_turn(Fraction(i, 128)), 16384)) for i in range(65)])
    t["zr_sin_table_8_rounded"] = ("int16_t", [round_checked(scale(sin_of_fraction_of_half_turn(Fraction(i, 128)), 16384)) for i in range(65)])
    # Fine quarter sine: 255 steps to the quarter turn.
    t["zr_sin_table_fine"] = ("uint16_t", [floor_checked(scale(sin_of_fraction_of_half_turn(Fraction(i, 510)), 16384)) for i in range(256)])
    # Q31 quarter sine with one mirrored guard entry.
    q31 = [round_checked(scale(sin_of_fraction_of_half_turn(Fraction(i, 512)), 2147483647)) for i in range(257)]
    q31.append(q31[255])
    t["zr_sin_table_q31"] = ("uint32_t", q31)
    t["zr_atan_table_8"] = ("uint8_t", [round_checked(scale(atan_turn_fraction(Fraction(i, 128)), 256)) for i in range(129)])
    t["zr_atan_table_24"] = ("int32_t", [round_checked(scale(atan_turn_fraction(Fraction(i, 256)), 1 << 24)) for i in range(258)])
    return t


def check(t):
    # The first and telling values as the tables are documented.
    expect = {
        "zr_sin_table_8": ([0, 402, 803, 1205, 1605], [16379, 16384]),
        "zr_sin_table_8_rounded": ([0, 402, 804, 1205, 1606], [16379, 16384]),
        "zr_sin_table_fine": ([0, 100, 201, 302, 403], [16383, 16384]),
        "zr_sin_table_q31": ([0, 13176712, 26352928], [2147483647, 2147443221]),
        "zr_atan_table_8": ([0, 0, 1, 1, 1, 2, 2, 2, 3], [32]),
        "zr_atan_table_24": ([0, 10430, 20860, 31290], [2097152, 2102357]),
    }
    for name, (head, tail) in expect.items():
        values = t[name][1]
        assert values[: len(head)] == head, name
        assert values[-len(tail):] == tail, name
    assert t["zr_sin_table_fine"][1][85] == 8192
    diff = sum(a != b for a, b in zip(t["zr_sin_table_8"][1], t["zr_sin_table_8_rounded"][1]))
    assert diff == 30, diff


def c_array(ctype, name, values, per_line=10, hexa=False):
    fmt = (lambda v: f"0x{v:08X}u") if hexa else str
    lines = []
    for i in range(0, len(values), per_line):
        lines.append("    " + ", ".join(fmt(v) for v in values[i : i + per_line]) + ",")
    return f"const {ctype} {name}[{len(values)}] = {{\n" + "\n".join(lines) + "\n};\n"


HEADER_NOTE = "// Generated by tools/gen_math_tables.py; do not edit.\n"


def write_trig(t):
    comments = {
        "zr_sin_table_8": "floor(16384 sin(2 pi i / 256)), i = 0..64",
        "zr_sin_table_8_rounded": "round(16384 sin(2 pi i / 256)), i = 0..64",
        "zr_sin_table_fine": "floor(16384 sin(pi i / 510)), i = 0..255",
        "zr_sin_table_q31": "round(2147483647 sin(pi i / 512)), i = 0..256; entry 257 repeats entry 255",
        "zr_atan_table_8": "round(atan(i / 128) 256 / (2 pi)), i = 0..128",
        "zr_atan_table_24": "round(atan(i / 256) 2^24 / (2 pi)), i = 0..257",
    }
    h = [HEADER_NOTE, "// Constant sine and arctangent tables of the fixed-point trigonometry.\n",
         "#pragma once\n\n#include <cstdint>\n\n"]
    c = [HEADER_NOTE, '#include "math/zr_trig_tables.h"\n\n']
    for name, (ctype, values) in t.items():
        h.append(f"// {comments[name]}\nextern const {ctype} {name}[{len(values)}];\n")
        c.append(f"// {comments[name]}\n" + c_array(ctype, name, values) + "\n")
    (OUT / "zr_trig_tables.h").write_text("".join(h))
    (OUT / "zr_trig_tables.cpp").write_text("".join(c).rstrip("\n") + "\n")


def write_exp():
    values = [round_checked(scale(exp2_fraction(Fraction(i, 64)), 256)) for i in range(64)]
    assert values[:6] == [256, 259, 262, 264, 267, 270] and values[-2:] == [501, 506]
    text = (HEADER_NOTE + "// round(256 * 2^(i / 64)), i = 0..63: the fraction part of zr_exp_8.\n"
            "#pragma once\n\n#include <cstdint>\n\ninline constexpr "
            + c_array("int32_t", "zr_exp2_table_q8", values).replace("const int32_t", "int32_t", 1))
    (OUT / "zr_exp_table.h").write_text(text)


def write_crc():
    values = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        values.append(c)
    assert values[1] == 0x77073096 and values[255] == 0x2D02EF8D
    text = (HEADER_NOTE + "// CRC-32 table of the reflected polynomial 0xEDB88320.\n"
            "#pragma once\n\n#include <cstdint>\n\ninline constexpr "
            + c_array("uint32_t", "zr_crc32_table", values, per_line=6, hexa=True).replace("const uint32_t", "uint32_t", 1))
    (OUT / "zr_crc32_table.h").write_text(text)


def main():
    t = tables()
    check(t)
    write_trig(t)
    write_exp()
    write_crc()


if __name__ == "__main__":
    main()
