"""Plain, deliberately naive reference implementation of the bands and channels family.

Written from the formulas alone, without sharing code or structure with the engine, so that the
engine's outputs can be checked against an independent reading on long random series. Every
operation is spelled out in the order the formulas state it (Python floats are IEEE doubles and
Python never reassociates). Members follow the conventions of ``moving_averages.py``:
``push((open, high, low, close, volume))`` returns ``None`` or ``(value, extras)``.
"""

from __future__ import annotations

import math
from typing import Optional

from .common import (
    AtrCore,
    RollingMean,
    SeededEma,
    ShiftedVariance,
    Window,
    div,
    fma,
    midpoint,
    plain_sum,
)
from .moving_averages import Member


def sqrt0(x: float) -> float:
    """Square root of a variance clamped at 0 against rounding; a NaN left by squares that
    overflowed stays NaN (missing) rather than reading as zero spread."""
    return x if math.isnan(x) else math.sqrt(max(0.0, x))


def bands(upper: float, middle: float, lower: float, **more):
    extras = {"upper": upper, "middle": middle, "lower": lower}
    extras.update(more)
    return upper, extras


# --- shared pieces --------------------------------------------------------------------------


class BollingerCore:
    def __init__(self, n: int, k: float):
        self.var = ShiftedVariance(n)
        self.n = n
        self.k = k

    def push(self, x: float):
        if not self.var.push(x):
            return None
        n = float(self.n)
        m1 = self.var.s1 / n
        mean = self.var.k + m1
        sigma = sqrt0(self.var.s2 / n - m1 * m1)
        return mean + self.k * sigma, mean, mean - self.k * sigma, sigma


def quantile(values, q: float) -> float:
    s = sorted(values)
    m = len(s)
    h = q * (m - 1)
    j = math.floor(h)
    if j < m - 1:
        return s[j] + (s[j + 1] - s[j]) * (h - j)
    return s[m - 1]


def line(ys: list[float]):
    """Least-squares line over ys against x = 0 … n − 1 on values centred on their mean:
    (slope b, intercept a of the centred values, mean ȳ)."""
    n = float(len(ys))
    sx = n * (n - 1.0) / 2.0
    sxx = (2.0 * n - 1.0) * (n * (n - 1.0)) / 6.0  # (2n − 1)·n(n − 1)/6, n(n − 1) grouped
    ybar = plain_sum(ys) / n
    sy = plain_sum(y - ybar for y in ys)
    sxy = plain_sum(float(i) * (y - ybar) for i, y in enumerate(ys))
    b = div(n * sxy - sx * sy, n * sxx - sx * sx)
    a = (sy - sx * b) / n
    return b, a, ybar


def typical(h: float, l: float, c: float) -> float:
    return (h + l + c) / 3.0


# --- Bollinger family -----------------------------------------------------------------------


class BollingerBands(Member):
    def __init__(self, n, k):
        self.core = BollingerCore(n, k)

    def step(self, c):
        out = self.core.push(c)
        if out is None:
            return None
        up, mid, lo, sd = out
        return bands(up, mid, lo, stddev=sd)


class BollingerBandwidth(Member):
    def __init__(self, n, k):
        self.core = BollingerCore(n, k)

    def step(self, c):
        out = self.core.push(c)
        if out is None:
            return None
        up, mid, lo, _ = out
        return 0.0 if mid == 0 else (up - lo) / mid


class PercentB(Member):
    def __init__(self, n, k):
        self.core = BollingerCore(n, k)

    def step(self, c):
        out = self.core.push(c)
        if out is None:
            return None
        up, _, lo, _ = out
        return 0.5 if up == lo else div(c - lo, up - lo)


class DoubleBollinger(Member):
    def __init__(self, n, inner, outer):
        self.core = BollingerCore(n, outer)
        self.inner = inner

    def step(self, c):
        out = self.core.push(c)
        if out is None:
            return None
        up, mean, lo, sd = out
        return up, {
            "upper_outer": up,
            "upper_inner": mean + self.inner * sd,
            "middle": mean,
            "lower_inner": mean - self.inner * sd,
            "lower_outer": lo,
        }


# --- moving-centre envelopes ----------------------------------------------------------------


class MaEnvelope(Member):
    def __init__(self, n, fraction):
        self.sma = RollingMean(n)
        self.f = fraction

    def step(self, c):
        m = self.sma.push(c)
        if m is None:
            return None
        return bands((1.0 + self.f) * m, m, (1.0 - self.f) * m)


class BomarBands(Member):
    def __init__(self, n, coverage):
        self.win = Window(n)
        self.cov = coverage

    def step(self, c):
        if not self.win.push(c):
            return None
        g = plain_sum(self.win.v) / self.win.n
        if g != 0:
            devs = [abs((x - g) / abs(g)) for x in self.win.v]
        else:
            devs = [0.0] * self.win.n
        o = quantile(devs, self.cov)
        return bands(g + abs(g) * o, g, g - abs(g) * o)


class QuartileBands(Member):
    def __init__(self, n):
        self.win = Window(n)

    def step(self, c):
        if not self.win.push(c):
            return None
        v = self.win.v
        return bands(quantile(v, 0.75), quantile(v, 0.5), quantile(v, 0.25))


class MedianChannel(Member):
    def __init__(self, n, k):
        self.win = Window(n)
        self.k = k

    def step(self, c):
        if not self.win.push(c):
            return None
        med = quantile(self.win.v, 0.5)
        mad = quantile([abs(x - med) for x in self.win.v], 0.5)
        return bands(med + self.k * mad, med, med - self.k * mad)


class LinRegChannel(Member):
    divisor_offset = 0

    def __init__(self, n, k):
        self.win = Window(n)
        self.k = k

    def step(self, c):
        if not self.win.push(c):
            return None
        ys = self.win.v
        n = len(ys)
        b, a, ybar = line(ys)
        value = (n - 1.0) * b + (ybar + a)
        res = [(y - ybar) - (float(i) * b + a) for i, y in enumerate(ys)]
        ss = plain_sum(r * r for r in res)
        sigma = math.sqrt(ss / float(n - self.divisor_offset))
        return bands(value + self.k * sigma, value, value - self.k * sigma)


class StandardErrorBands(LinRegChannel):
    divisor_offset = 2


# --- volatility-scaled bands ----------------------------------------------------------------


class Keltner(Member):
    candle_input = True

    def __init__(self, ema_n, atr_n, k):
        self.ema = SeededEma(ema_n)
        self.atr = AtrCore(atr_n)
        self.k = k

    def step_candle(self, o, h, l, c, v):
        # A typical price or true range that overflowed refuses the whole step, so the two
        # averages stay in step over the same candles.
        tp = typical(h, l, c)
        if not math.isfinite(tp) or not self.atr.push(h, l, c):
            return None
        e = self.ema.push(tp)
        a = self.atr.value
        if e is None or not math.isfinite(e) or a is None:
            return None
        return bands(e + self.k * a, e, e - self.k * a)


class StarcBands(Member):
    candle_input = True

    def __init__(self, sma_n, atr_n, k):
        self.sma = RollingMean(sma_n)
        self.atr = AtrCore(atr_n)
        self.k = k

    def step_candle(self, o, h, l, c, v):
        if not self.atr.push(h, l, c):
            return None
        m = self.sma.push(c)
        a = self.atr.value
        if m is None or a is None:
            return None
        return bands(m + self.k * a, m, m - self.k * a)


class AtrBands(Member):
    candle_input = True

    def __init__(self, n, k):
        self.atr = AtrCore(n)
        self.k = k

    def step_candle(self, o, h, l, c, v):
        if not self.atr.push(h, l, c):
            return None
        a = self.atr.value
        if a is None:
            return None
        return bands(c + self.k * a, c, c - self.k * a)


class AccelerationBands(Member):
    candle_input = True

    def __init__(self, n, factor):
        self.hi = RollingMean(n)
        self.mid = RollingMean(n)
        self.lo = RollingMean(n)
        self.f = factor

    def step_candle(self, o, h, l, c, v):
        s = h + l
        r = 0.0 if s == 0 else (h - l) / s
        wide = h * fma(self.f, r, 1.0)
        narrow = l * fma(-self.f, r, 1.0)
        # The three averages take the step together or not at all.
        if not (math.isfinite(wide) and math.isfinite(narrow)):
            return None
        up = self.hi.push(wide)
        mid = self.mid.push(c)
        lo = self.lo.push(narrow)
        if up is None or mid is None or lo is None:
            return None
        return bands(up, mid, lo)


class HurstChannel(Member):
    candle_input = True

    def __init__(self, n, k):
        self.highs = Window(n)
        self.lows = Window(n)
        self.sma = RollingMean(n)
        self.k = k

    def step_candle(self, o, h, l, c, v):
        self.highs.push(h)
        self.lows.push(l)
        m = self.sma.push(c)
        if m is None:
            return None
        width = self.k * (max(self.highs.v) - min(self.lows.v))
        return bands(m + width, m, m - width)


class VwapStdDevBands(Member):
    candle_input = True

    def __init__(self, k):
        self.k = k
        self.r0: Optional[float] = None
        self.w = 0.0
        self.s1 = 0.0
        self.s2 = 0.0

    def step_candle(self, o, h, l, c, v):
        tp = typical(h, l, c)
        if not math.isfinite(tp):
            return None
        if self.r0 is None:
            self.r0 = tp
        d = tp - self.r0
        self.w = self.w + v
        self.s1 = self.s1 + v * d
        self.s2 = self.s2 + v * (d * d)
        if self.w == 0:
            return None
        m1 = self.s1 / self.w
        vwap = self.r0 + m1
        sigma = sqrt0(self.s2 / self.w - m1 * m1)
        return bands(vwap + self.k * sigma, vwap, vwap - self.k * sigma, stddev=sigma)


# --- range channels -------------------------------------------------------------------------


class Donchian(Member):
    candle_input = True

    def __init__(self, n):
        self.win = Window(n)

    def step_candle(self, o, h, l, c, v):
        if not self.win.push((h, l)):
            return None
        up = max(x[0] for x in self.win.v)
        lo = min(x[1] for x in self.win.v)
        return bands(up, midpoint(up, lo), lo)


class FractalChaosBands(Member):
    candle_input = True

    def __init__(self, n):
        self.n = n
        self.win = Window(2 * n + 1)
        self.upper: Optional[float] = None
        self.lower: Optional[float] = None

    def step_candle(self, o, h, l, c, v):
        if not self.win.push((h, l)):
            return None
        mid_h, mid_l = self.win.v[self.n]
        others = self.win.v[: self.n] + self.win.v[self.n + 1 :]
        if all(mid_h > x[0] for x in others):
            self.upper = mid_h
        if all(mid_l < x[1] for x in others):
            self.lower = mid_l
        if self.upper is None or self.lower is None:
            return None
        return self.upper, {"upper": self.upper, "lower": self.lower}


class ProjectionBands(Member):
    candle_input = True

    def __init__(self, n):
        self.n = n
        self.highs = Window(n)
        self.lows = Window(n)

    def step_candle(self, o, h, l, c, v):
        self.highs.push(h)
        if not self.lows.push(l):
            return None
        n = self.n
        bh = line(self.highs.v)[0]
        bl = line(self.lows.v)[0]
        up = max(x + bh * float(n - 1 - i) for i, x in enumerate(self.highs.v))
        lo = min(x + bl * float(n - 1 - i) for i, x in enumerate(self.lows.v))
        return bands(up, midpoint(up, lo), lo)


MEMBERS = {
    cls.__name__: cls
    for cls in (
        BollingerBands, BollingerBandwidth, PercentB, DoubleBollinger, MaEnvelope, BomarBands,
        QuartileBands, MedianChannel, LinRegChannel, StandardErrorBands, Keltner, StarcBands,
        AtrBands, AccelerationBands, HurstChannel, Donchian, FractalChaosBands, ProjectionBands,
        VwapStdDevBands,
    )
}
MEMBERS["Bollinger"] = BollingerBands
