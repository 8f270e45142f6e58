#!/usr/bin/env python3
"""Writes algorithm/imaging/bal_gabor_kernels.inc: the frequency-domain Gabor
kernels of the 16-point and the 32-point enhancement filters, run-length coded.

Each form has 99 kernels, index wc * 9 + f, for the ridge wavelengths
lambda = wc + 5 (wc = 0..10) and the folded orientation classes f = 0..8.
A kernel holds one u8 gain (in 1/256) per coefficient of the N x (N/2 + 1)
half spectrum, row u = 0..N-1 (vertical frequency, modulo N), column
v = 0..N/2. Classes 9..15 reuse the kernel of 16 - oc with mirrored rows at
run time, so only f = 0..8 are stored.

A kernel is a pair of Gaussian lobes at +-(32 / lambda) bins from the origin
in the direction phi = f * 11.25 degrees from the horizontal-frequency axis
towards increasing u (the direction across the ridges):
    centre (cu, cv) = (32 / lambda) * (sin phi, cos phi)
    gain(u, v) = G * sum over both lobes and their periodic images of
                 exp(-a^2 / (2 sa^2) - b^2 / (2 sb^2))
a being the offset from the lobe centre across the ridges (along phi), b the
offset along them. The periodic images (shifts of N in u and v) keep the
kernel Hermitian at the borders of the spectrum, where the lobes of the short
wavelengths reach past the Nyquist frequency. The 16-point kernels filter
samples two pixels apart, so their bins are also cycles per 32 pixels.

    form  G       across sa      along sb
    16    198.75  1.385          1.44
    32    197.5   17.3 / lambda  2.885

Gains are rounded half up and capped at 255. Arithmetic is 50-digit decimal;
the script stops if a gain lands within 1e-30 of a rounding tie.

Storage of one kernel: header bytes h, h = 0 ends the kernel; with bit 7 set,
h & 127 literal gains follow; otherwise h & 127 gains are 0. Every gain is
encoded before the end byte. A lone zero between non-zero gains is kept in the
literal run (one byte instead of two headers).
"""
from decimal import Decimal, getcontext
import pathlib

getcontext().prec = 50
EPS = Decimal(10) ** -45
TIE_GUARD = Decimal(10) ** -30

PI = Decimal("3.14159265358979323846264338327950288419716939937510")

FORMS = {
    16: dict(gain=Decimal("198.75"), across=lambda lam: Decimal("1.385"), along=Decimal("1.44")),
    32: dict(gain=Decimal("197.5"), across=lambda lam: Decimal("17.3") / lam, along=Decimal("2.885")),
}
WAVELENGTH_CLASSES = 11
ORIENTATION_CLASSES = 9


def series(x, first_term, next_term):
    total = term = first_term
    n = 0
    while True:
        n += 1
        term = next_term(term, n, x)
        if abs(term) < EPS:
            return total
        total += term


def exp(x):
    if x < -40:
        return Decimal(0)  # below 1e-17; far under half a gain step
    # exp(x) = exp(x / 16) ^ 16 keeps the series short for large |x|.
    y = series(x / 16, Decimal(1), lambda t, n, x: t * x / n)
    for _ in range(4):
        y *= y
    return y


def cos(x):
    return series(x, Decimal(1), lambda t, n, x: -t * x * x / ((2 * n) * (2 * n - 1)))


def sin(x):
    return series(x, x, lambda t, n, x: -t * x * x / ((2 * n) * (2 * n + 1)))


def round_half_up(v):
    frac = v - v.to_integral_value(rounding="ROUND_FLOOR")
    assert abs(frac - Decimal("0.5")) > TIE_GUARD, f"rounding tie at {v}"
    return int((v + Decimal("0.5")).to_integral_value(rounding="ROUND_FLOOR"))


def kernel(n, wc, f):
    form = FORMS[n]
    lam = Decimal(wc + 5)
    radius = Decimal(32) / lam
    phi = PI * f / 16
    su, sv = sin(phi), cos(phi)
    centres = [(radius * su, radius * sv), (-radius * su, -radius * sv)]
    two_var_across = 2 * form["across"](lam) ** 2
    two_var_along = 2 * form["along"] ** 2
    gains = []
    for u in range(n):
        for v in range(n // 2 + 1):
            total = Decimal(0)
            for cu, cv in centres:
                for shift_u in (-n, 0, n):
                    for shift_v in (-n, 0, n):
                        du = u + shift_u - cu
                        dv = v + shift_v - cv
                        across = du * su + dv * sv
                        along = dv * su - du * sv
                        total += exp(-across * across / two_var_across - along * along / two_var_along)
            gains.append(min(round_half_up(form["gain"] * total), 255))
    return gains


def run_length_code(gains):
    out = []
    i = 0
    count = len(gains)
    while i < count:
        if gains[i] == 0:
            j = i
            while j < count and gains[j] == 0 and j - i < 127:
                j += 1
            out.append(j - i)
        else:
            j = i
            while j < count and j - i < 127:
                lone_zero = gains[j] == 0 and j + 1 < count and gains[j + 1] != 0 and j > i
                if gains[j] == 0 and not lone_zero:
                    break
                j += 1
            out.append(0x80 | (j - i))
            out.extend(gains[i:j])
        i = j
    out.append(0)
    return out


def decode(code):
    gains = []
    pos = 0
    while code[pos] != 0:
        h = code[pos]
        pos += 1
        if h & 0x80:
            gains.extend(code[pos:pos + (h & 127)])
            pos += h & 127
        else:
            gains.extend([0] * h)
    return gains


def main():
    lines = ["// Generated by tools/gen_gabor_kernels.py; do not edit.",
             "// Run-length coded Gabor kernels, 99 per form, index wc * 9 + f (see the",
             "// script for the model and the coding). Offsets give each kernel's start."]
    for n in (16, 32):
        codes = []
        for wc in range(WAVELENGTH_CLASSES):
            for f in range(ORIENTATION_CLASSES):
                gains = kernel(n, wc, f)
                code = run_length_code(gains)
                assert decode(code) == gains
                codes.append((wc, f, max(gains), code))
        offsets = []
        total = 0
        for _, _, _, code in codes:
            offsets.append(total)
            total += len(code)
        assert total < 65536
        lines.append(f"static const uint16_t kGaborKernelOffsets{n}[99] = {{")
        for i in range(0, 99, 11):
            lines.append("    " + ", ".join(str(o) for o in offsets[i:i + 11]) + ",")
        lines.append("};")
        lines.append(f"static const uint8_t kGaborKernels{n}[{total}] = {{")
        for wc, f, peak, code in codes:
            lines.append(f"    // wavelength {wc + 5}, class {f}, peak {peak}")
            for i in range(0, len(code), 20):
                lines.append("    " + ", ".join(str(b) for b in code[i:i + 20]) + ",")
        lines.append("};")
    out = pathlib.Path(__file__).resolve().parent.parent / "algorithm/imaging/bal_gabor_kernels.inc"
    out.write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
