"""High-precision elementary functions shared by the table generators.

Everything works in Python's decimal arithmetic at the caller's context
precision (each function adds its own guard digits), so the generated tables
never depend on binary floating point.
"""
from decimal import Decimal, localcontext


def pi():
    """pi to the context precision (the decimal module's series recipe)."""
    with localcontext() as ctx:
        ctx.prec += 2
        lasts, t, s, n, na, d, da = 0, Decimal(3), 3, 1, 0, 0, 24
        while s != lasts:
            lasts = s
            n, na = n + na, na + 8
            d, da = d + da, da + 32
            t = (t * n) / d
            s += t
    return +s


def _alternating_series(x, first, order):
    """sum_k (-1)^k x^(2k + order) / (2k + order)! starting from `first`."""
    with localcontext() as ctx:
        ctx.prec += 2
        i, lasts, s, fact, num, sign = order, 0, first, 1, first, 1
        while s != lasts:
            lasts = s
            i += 2
            fact *= i * (i - 1)
            num *= x * x
            sign = -sign
            s += num / fact * sign
    return +s


def sin(x):
    return _alternating_series(x, x, 1)


def cos(x):
    return _alternating_series(x, Decimal(1), 0)


def exp(x):
    return x.exp()


def atan(x):
    """Two argument halvings bring |x| below 0.42, then the Taylor series."""
    with localcontext() as ctx:
        ctx.prec += 4
        for _ in range(2):
            x = x / (1 + (1 + x * x).sqrt())
        s, term, k, lasts = x, x, 1, None
        while s != lasts:
            lasts = s
            term *= -x * x
            k += 2
            s += term / k
    return +(4 * s)


def floor_checked(v, margin):
    """floor(v), refusing values closer than margin to an integer."""
    f = int(v.to_integral_value(rounding="ROUND_FLOOR"))
    if v - f < margin or (f + 1) - v < margin:
        raise ValueError(f"value {v} is too close to an integer to floor safely")
    return f


def round_half_up(v, margin=None):
    """round(v) = floor(v + 1/2); with a margin, refuses values near a tie."""
    if margin is not None:
        return floor_checked(v + Decimal("0.5"), margin)
    return int((v + Decimal("0.5")).to_integral_value(rounding="ROUND_FLOOR"))
