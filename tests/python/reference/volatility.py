"""Plain, deliberately naive reference implementation of the volatility family.

Written from the formulas alone, without sharing code or structure with the engine, so that the
engine's outputs can be checked against an independent reading on long random series. Every
operation follows the stated evaluation order; Python floats are IEEE doubles and Python never
reassociates. Fused multiply-adds are emulated exactly (``common.fma``).

Each member is a class with ``push(candle)`` taking ``(ts, open, high, low, close, volume)`` and
returning ``None`` (no value, including rejected steps) or ``(value, extras)`` with ``extras`` a
dict of the named secondary outputs.
"""

from __future__ import annotations

import math
from typing import Optional

from . import common
from .common import (
    AtrCore,
    SeededEma,
    ShiftedVariance,
    WilderAverage,
    div,
    fma,
    ln,
    midpoint,
    sqrt,
    true_range,
)

HALF_PI = 1.5707963267948966


def clamp0(x: float) -> float:
    """max(0, x) with NaN kept: only a negative value is replaced."""
    return 0.0 if x < 0 else x


def log_return(close: float, prev: float) -> float:
    return ln(div(close, prev))


# --- shared state pieces -------------------------------------------------------------------


class RunningSum:
    """Window sum kept incrementally and recomputed from the window every n pushes."""

    def __init__(self, n: int):
        self.n = n
        self.win: list[float] = []
        self.sum = -0.0
        self.pushes = 0

    def push(self, x: float) -> bool:
        if len(self.win) == self.n:
            old = self.win.pop(0)
            self.win.append(x)
            self.sum = x + (self.sum - old)
        else:
            self.win.append(x)
            self.sum = x + self.sum
        self.pushes += 1
        if self.pushes == self.n:
            s = -0.0
            for v in self.win:
                s = s + v
            self.sum = s
            self.pushes = 0
        return self.full()

    def full(self) -> bool:
        return len(self.win) == self.n


class RunningVariance(ShiftedVariance):
    """Sample variance of a window from sums of deviations from a shift k."""

    def variance(self) -> float:
        n = float(self.n)
        return clamp0(fma(-self.s1, self.s1 / n, self.s2) / (n - 1.0))

    def population_sigma(self) -> float:
        n = float(self.n)
        m = self.s1 / n
        return sqrt(clamp0(self.s2 / n - m * m))


def annualise(ppy: int, s: float) -> float:
    return math.sqrt(float(ppy)) * sqrt(clamp0(s)) * 100.0


# --- members -------------------------------------------------------------------------------


class Member(common.Member):
    """Rows are (ts, open, high, low, close, volume); candle members read all but the volume."""

    candle_input = True

    def on_candle(self, candle):
        ts, o, h, l, c, _v = candle
        return self.step(ts, o, h, l, c)


class ReturnMember(Member):
    """Close input; calls on_return(r) from the second accepted close on."""

    candle_input = False
    prev: Optional[float] = None

    def step(self, c):
        prev, self.prev = self.prev, c
        if prev is None:
            return None
        r = log_return(c, prev)
        if not math.isfinite(r):  # a non-positive price: no value, the windows stay clean
            return None
        return self.on_return(r)


# A true range or average that is not finite refuses the candle: nothing changes, the
# previous close included.
class TrueRange(Member):
    def __init__(self):
        self.prev = None

    def step(self, ts, o, h, l, c):
        tr = true_range(h, l, self.prev)
        if not math.isfinite(tr):
            return None
        self.prev = c
        return tr


class Atr(Member):
    def __init__(self, n):
        self.core = AtrCore(n)

    def atr(self, h, l, c):
        return self.core.value if self.core.push(h, l, c) else None

    def step(self, ts, o, h, l, c):
        return self.atr(h, l, c)


class Natr(Atr):
    def step(self, ts, o, h, l, c):
        a = self.atr(h, l, c)
        if a is None:
            return None
        return 0.0 if c == 0 else div(100.0 * a, c)


class HighLowRange(Member):
    def step(self, ts, o, h, l, c):
        return 0.0 if c == 0 else div(h - l, c)


class VolatilityRatio(Member):
    def __init__(self, n):
        self.n = n
        self.alpha = 2.0 / (float(n) + 1.0)
        self.prev = None
        self.seed: list[float] = []
        self.smooth: Optional[float] = None

    def step(self, ts, o, h, l, c):
        prev, self.prev = self.prev, c
        if prev is None:
            return None
        tr = true_range(h, l, prev)
        if not math.isfinite(tr):
            self.prev = prev
            return None
        if self.smooth is None:
            self.seed.append(tr)
            if len(self.seed) == self.n:
                s = -0.0
                for v in self.seed:
                    s = s + v
                self.smooth = s / self.n
            return None
        out = div(tr, self.smooth) if self.smooth > 0 else 0.0
        self.smooth = fma(self.alpha, tr, (1.0 - self.alpha) * self.smooth)
        return out


class AverageDailyRange(Member):
    def __init__(self, d, m):
        self.d = d
        self.offset = m * 60
        self.day = None
        self.hi = self.lo = 0.0
        self.ranges: list[float] = []
        self.sum = -0.0

    def step(self, ts, o, h, l, c):
        day = (ts // 1000 + self.offset) // 86400
        if self.day is None:
            self.day, self.hi, self.lo = day, h, l
        elif day != self.day:
            r = self.hi - self.lo
            self.day, self.hi, self.lo = day, h, l
            if not math.isfinite(r):  # an overflowing range is dropped with its day
                return None
            self.ranges.append(r)
            if len(self.ranges) > self.d:
                self.sum = r + (self.sum - self.ranges.pop(0))
            else:
                self.sum = r + self.sum
        else:
            self.hi = max(self.hi, h)
            self.lo = min(self.lo, l)
        if not self.ranges:
            return None
        return self.sum / len(self.ranges)


class ChaikinVolatility(Member):
    def __init__(self, e, r):
        self.ema = SeededEma(e)
        self.win: list[float] = []
        self.size = r + 1

    def step(self, ts, o, h, l, c):
        if not math.isfinite(h - l):
            return None
        v = self.ema.push(h - l)
        if v is None or not math.isfinite(v):
            return None
        self.win.append(v)
        if len(self.win) > self.size:
            self.win.pop(0)
        if len(self.win) < self.size:
            return None
        old = self.win[0]
        return 0.0 if old == 0 else div(v - old, old) * 100.0


class MassIndex(Member):
    def __init__(self, e, s):
        self.e1 = SeededEma(e)
        self.e2 = SeededEma(e)
        self.s = s
        self.win: list[float] = []
        self.sum = -0.0

    def step(self, ts, o, h, l, c):
        if not math.isfinite(h - l):
            return None
        a = self.e1.push(h - l)
        if a is None or not math.isfinite(a):
            return None
        b = self.e2.push(a)
        if b is None or not math.isfinite(b):
            return None
        ratio = 1.0 if b == 0 else div(a, b)
        self.win.append(ratio)
        if len(self.win) > self.s:
            self.sum = ratio + (self.sum - self.win.pop(0))
        else:
            self.sum = ratio + self.sum
        if len(self.win) < self.s:
            return None
        return self.sum


class HistoricalVolatility(ReturnMember):
    def __init__(self, n, ppy):
        self.var = RunningVariance(n)
        self.ppy = ppy

    def on_return(self, r):
        if not self.var.push(r):
            return None
        return annualise(self.ppy, self.var.variance())


class RealizedVolatility(ReturnMember):
    def __init__(self, n):
        self.sum = RunningSum(n)

    def on_return(self, r):
        if not self.sum.push(r * r):
            return None
        return sqrt(clamp0(self.sum.sum))


class BipowerVariation(ReturnMember):
    def __init__(self, n):
        self.n = n
        self.win: list[float] = []
        self.sum = -0.0
        self.pushes = 0

    def on_return(self, r):
        add = abs(r * self.win[-1]) if self.win else None
        if len(self.win) == self.n:
            sub = abs(self.win[0] * self.win[1])
            self.win.pop(0)
            self.sum = add + (self.sum - sub)
        elif add is not None:
            self.sum = add + self.sum
        self.win.append(r)
        self.pushes += 1
        if self.pushes == self.n:
            s = -0.0
            for a, b in zip(self.win, self.win[1:]):
                s = s + abs(b * a)
            self.sum = s
            self.pushes = 0
        if len(self.win) < self.n:
            return None
        return HALF_PI * clamp0(self.sum)


class JumpIndicator(ReturnMember):
    def __init__(self, n, thr):
        self.n = n
        self.thr = thr
        self.win: list[float] = []

    def on_return(self, r):
        out = None
        if len(self.win) == self.n:
            s = -0.0
            for v in self.win:
                s = s + v
            m = s / self.n
            q = -0.0
            for v in self.win:
                q = q + (v - m) * (v - m)
            var = q / (self.n - 1)
            if var == 0:
                out = 0.0
            else:
                sd = sqrt(var)
                d = r - m
                out = 1.0 if d > self.thr * sd else (-1.0 if d < -self.thr * sd else 0.0)
            self.win.pop(0)
        self.win.append(r)
        return out


class EwmaVolatility(ReturnMember):
    def __init__(self, lam):
        self.lam = lam
        self.v: Optional[float] = None

    def on_return(self, r):
        if self.v is None:
            self.v = r * r
        else:
            self.v = (1.0 - self.lam) * (r * r) + self.lam * self.v
        return sqrt(clamp0(self.v))


class Garch11(ReturnMember):
    def __init__(self, w, a, b):
        self.w, self.a, self.b = w, a, b
        self.h0 = w / (1.0 - a - b)
        self.h: Optional[float] = None
        self.r2 = 0.0

    def on_return(self, r):
        if self.h is None:
            h = self.h0
        else:
            h = self.w + self.a * self.r2 + self.b * self.h
        self.h, self.r2 = h, r * r
        return sqrt(h)


class VolatilityOfVolatility(ReturnMember):
    def __init__(self, w, L):
        self.v1 = RunningVariance(w)
        self.v2 = RunningVariance(L)

    def on_return(self, r):
        if not self.v1.push(r):
            return None
        if not self.v2.push(sqrt(self.v1.variance())):
            return None
        return sqrt(self.v2.variance())


class RviVolatility(Member):
    candle_input = False

    def __init__(self, n):
        self.var = RunningVariance(n)
        self.up = WilderAverage(n)
        self.down = WilderAverage(n)
        self.prev = None

    def step(self, c):
        prev, self.prev = self.prev, c
        if not self.var.push(c):
            return None
        if prev is None:
            return None
        if not math.isfinite(self.var.s2):  # squared deviations overflowed: no value
            return None
        sigma = self.var.population_sigma()
        u = self.up.value if self.up.push(sigma if c > prev else 0.0) else None
        d = self.down.value if self.down.push(sigma if c < prev else 0.0) else None
        if u is None:
            return None
        total = u + d
        return 50.0 if total == 0 else div(100.0 * u, total)


class RangeWindow(Member):
    def __init__(self, n, ppy):
        self.n = n
        self.ppy = ppy
        self.sum = RunningSum(n)

    def step(self, ts, o, h, l, c):
        t = self.term(o, h, l, c)
        if not math.isfinite(t):
            return None
        if not self.sum.push(t):
            return None
        return annualise(self.ppy, self.scale(self.sum.sum))

    def scale(self, s):
        return s / self.n


class ParkinsonVolatility(RangeWindow):
    def term(self, o, h, l, c):
        x = ln(div(h, l))
        return x * x

    def scale(self, s):
        return s * 0.3606737602222412 / self.n


class GarmanKlassVolatility(RangeWindow):
    def term(self, o, h, l, c):
        a = ln(div(h, l))
        b = ln(div(c, o))
        return 0.5 * (a * a) - 0.3862943611198906 * (b * b)


def rogers_satchell(o, h, l, c):
    return fma(ln(div(h, c)), ln(div(h, o)), ln(div(l, c)) * ln(div(l, o)))


class RogersSatchellVolatility(RangeWindow):
    def term(self, o, h, l, c):
        return rogers_satchell(o, h, l, c)


class YangZhangVolatility(Member):
    def __init__(self, n, ppy):
        self.n = n
        self.ppy = ppy
        self.k = 0.34 / ((n + 1.0) / (n - 1.0) + 1.34)
        self.vo = RunningVariance(n)
        self.vc = RunningVariance(n)
        self.rs = RunningSum(n)
        self.prev = None

    def step(self, ts, o, h, l, c):
        prev, self.prev = self.prev, c
        if prev is None:
            return None
        ro, rc, rs = ln(div(o, prev)), ln(div(c, o)), rogers_satchell(o, h, l, c)
        if not (math.isfinite(ro) and math.isfinite(rc) and math.isfinite(rs)):
            return None
        self.vo.push(ro)
        self.vc.push(rc)
        if not self.rs.push(rs):
            return None
        vrs = clamp0(self.rs.sum / self.n)
        s2 = self.vo.variance() + self.k * self.vc.variance() + (1.0 - self.k) * vrs
        return annualise(self.ppy, s2)


class VolatilityCone(Member):
    def __init__(self, w, L):
        self.var = RunningVariance(w)
        self.L = L
        self.vols: list[float] = []
        self.prev = None
        self.last = None

    def step(self, ts, o, h, l, c):
        if not c > 0:
            return self.last
        prev, self.prev = self.prev, c
        if prev is None:
            return None
        r = log_return(c, prev)
        if not math.isfinite(r):
            return None
        if not self.var.push(r):
            return None
        cur = sqrt(self.var.variance())
        self.vols.append(cur)
        if len(self.vols) > self.L:
            self.vols.pop(0)
        if len(self.vols) < self.L:
            return None
        s = sorted(self.vols)
        L = self.L
        if L % 2:
            med = s[L // 2]
        else:
            a, b = s[L // 2 - 1], s[L // 2]
            med = midpoint(a, b)
        pct = 100.0 * sum(1 for v in self.vols if v <= cur) / L
        extras = {"current": cur, "min": s[0], "median": med, "max": s[-1], "percentile": pct}
        self.last = (cur, extras)
        return self.last


MEMBERS = {
    cls.__name__: cls
    for cls in (
        TrueRange, Atr, Natr, HighLowRange, VolatilityRatio, AverageDailyRange,
        ChaikinVolatility, MassIndex, HistoricalVolatility, RealizedVolatility,
        BipowerVariation, JumpIndicator, EwmaVolatility, Garch11, VolatilityOfVolatility,
        RviVolatility, ParkinsonVolatility, GarmanKlassVolatility, RogersSatchellVolatility,
        YangZhangVolatility, VolatilityCone,
    )
}
