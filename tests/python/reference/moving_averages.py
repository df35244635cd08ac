"""Plain, deliberately naive reference implementation of the moving-average family.

Written from the formulas alone, without sharing code or structure with the engine, so that the
engine's outputs can be checked against an independent reading on long random series. Every
operation is spelled out in the same order as the formulas state it: Python floats are IEEE
doubles and Python never reassociates, so agreement is expected to the last bit in most places.

Each member is a class with ``push(candle)`` taking ``(open, high, low, close, volume)`` and
returning ``None`` (no value, including rejected steps) or ``(value, extras)`` with ``extras`` a
dict of the named secondary outputs.
"""

from __future__ import annotations

import math
from typing import Optional

from . import common
from .common import (
    EPS,
    CmoCore,
    EmaCore,
    RollingMean,
    Window,
    WmaCore,
    ZlemaCore,
    clamp,
    div,
    exp,
    fmax,
    fmin,
    midpoint,
    round_half_away,
)

# --- cores ---------------------------------------------------------------------------------


class WilderCore:
    def __init__(self, n: int):
        self.n = n
        self.count = 0
        self.sum = 0.0
        self.ready = False
        self.value = 0.0

    def push(self, x: float) -> Optional[float]:
        if not self.ready:
            self.sum = x + self.sum
            self.count += 1
            if self.count == self.n:
                self.value = self.sum / self.n
                self.ready = True
                return self.value
            return None
        self.value = (x + (float(self.n) - 1.0) * self.value) / self.n
        return self.value


# --- members -------------------------------------------------------------------------------


class Member(common.Member):
    """Rows are (open, high, low, close, volume); candle members read them all."""

    def on_candle(self, candle):
        return self.step_candle(*candle)


def core_member(name: str, core) -> type:
    """A close-input member whose value is the core's own."""

    class CoreMember(Member):
        def __init__(self, *params):
            self.core = core(*params)

        def step(self, x):
            return self.core.push(x)

    CoreMember.__name__ = CoreMember.__qualname__ = name
    return CoreMember


Sma = core_member("Sma", RollingMean)
Ema = core_member("Ema", EmaCore)
Wma = core_member("Wma", WmaCore)
Smma = core_member("Smma", WilderCore)
Zlema = core_member("Zlema", ZlemaCore)


def chain(cores, x):
    """x through each core in turn: every core's value, or None until the last one has one."""
    out = []
    for core in cores:
        x = core.push(x)
        if x is None:
            return None
        out.append(x)
    return out


class Dema(Member):
    def __init__(self, n):
        self.c = [EmaCore(n) for _ in range(2)]

    def step(self, x):
        e = chain(self.c, x)
        if e is None:
            return None
        e1, e2 = e
        return (e1 + e1) - e2


class Tema(Member):
    def __init__(self, n):
        self.c = [EmaCore(n) for _ in range(3)]

    def step(self, x):
        e = chain(self.c, x)
        if e is None:
            return None
        e1, e2, e3 = e
        return ((3.0 * e1) - (3.0 * e2)) + e3


class Trima(Member):
    def __init__(self, n):
        self.a = RollingMean(n - n // 2)
        self.b = RollingMean(n // 2 + 1)

    def step(self, x):
        m = self.a.push(x)
        return None if m is None else self.b.push(m)


class Hma(Member):
    core = WmaCore

    def __init__(self, n):
        half = max(n // 2, 1)
        root = max(int(round_half_away(math.sqrt(n))), 1)
        self.a, self.b, self.c = self.core(half), self.core(n), self.core(root)

    def raw(self, a, b):
        return a * 2.0 - b

    def step(self, x):
        a = self.a.push(x)
        b = self.b.push(x)
        if a is None or b is None:
            return None
        return self.c.push(self.raw(a, b))


class Ehma(Hma):
    core = EmaCore

    def raw(self, a, b):
        return (a + a) - b


class Alma(Member):
    def __init__(self, n, offset, sigma):
        m = (float(n) - 1.0) * offset
        s = ((n / sigma) * 2.0) * (n / sigma)
        w = [exp(div(-(i - m) * (i - m), s)) for i in range(n)]
        total = -0.0
        for x in w:
            total = total + x
        self.w = [div(x, total) for x in w]
        self.win = Window(n)

    def step(self, x):
        if not self.win.push(x):
            return None
        acc = 0.0
        for wi, xi in zip(self.w, self.win.v):
            acc = wi * xi + acc
        return acc


class Kama(Member):
    def __init__(self, e, f, s):
        self.fast = 2.0 / (float(f) + 1.0)
        self.slow = 2.0 / (float(s) + 1.0)
        self.win = Window(e + 1)
        self.prev = None

    def step(self, x):
        if not self.win.push(x):
            return None
        w = self.win.v
        vol = -0.0
        for k in range(len(w) - 1):
            vol = vol + abs(w[k + 1] - w[k])
        change = abs(x - w[0])
        ratio = change / vol if vol != 0 else 0.0  # NaN volatility divides too
        t = (self.fast - self.slow) * ratio + self.slow
        prev = w[0] if self.prev is None else self.prev
        self.prev = (t * t) * (x - prev) + prev
        return self.prev


class Frama(Member):
    def __init__(self, n):
        self.n = n
        self.win = Window(n)
        self.prev = None

    def step(self, x):
        if not self.win.push(x):
            return None
        n, half = self.n, self.n // 2
        w = self.win.v
        first, second = w[:half], w[half:]
        hi1, lo1, hi2, lo2 = max(first), min(first), max(second), min(second)
        hi, lo = max(w), min(w)
        width = (hi - lo) / n
        r1 = (hi1 - lo1) / half
        r2 = (hi2 - lo2) / half
        if width > 0 and r1 > 0 and r2 > 0:
            dim = (math.log(r1 + r2) - math.log(width)) / 0.6931471805599453
            alpha = clamp(exp((dim - 1.0) * -4.6), 0.01, 1.0)
        else:
            alpha = 0.01
        prev = x if self.prev is None else self.prev
        self.prev = (1.0 - alpha) * prev + x * alpha
        return self.prev


class Vidya(Member):
    def __init__(self, p, c):
        self.k0 = 2.0 / (float(p) + 1.0)
        self.cmo = CmoCore(c)
        self.prev = None

    def step(self, x):
        cmo = self.cmo.push(x)
        if cmo is None:
            return None
        k = (abs(cmo) / 100.0) * self.k0
        prev = x if self.prev is None else self.prev
        self.prev = (1.0 - k) * prev + x * k
        return self.prev


class T3(Member):
    def __init__(self, n, v):
        self.c = [EmaCore(n) for _ in range(6)]
        vsq = v * v
        vcube = v * vsq
        self.c1 = -vcube
        self.c2 = vsq * 3.0 + vcube * 3.0
        self.c3 = (vsq * -6.0 - 3.0 * v) - vcube * 3.0
        self.c4 = ((3.0 * v + 1.0) + vcube) + vsq * 3.0

    def step(self, x):
        e = chain(self.c, x)
        if e is None:
            return None
        e3, e4, e5, e6 = e[2], e[3], e[4], e[5]
        return ((self.c1 * e6 + self.c2 * e5) + self.c3 * e4) + self.c4 * e3


class Jma(Member):
    def __init__(self, n, ph, pw):
        b = (float(n) - 1.0) * 0.45
        beta = b / (2.0 + b)
        self.beta = beta
        self.alpha = {
            1: beta,
            2: beta * beta,
            3: beta * (beta * beta),
            4: (beta * beta) * (beta * beta),
        }[pw]
        self.ratio = min(max(ph / 100.0 + 1.5, 0.5), 2.5)
        self.e0 = self.det0 = self.det1 = self.jma = 0.0
        self.started = False

    def step(self, x):
        if not self.started:
            self.started = True
            self.e0 = x
            self.jma = x
            return x
        a, b = self.alpha, self.beta
        self.e0 = self.e0 * a + x * (1.0 - a)
        self.det0 = b * self.det0 + (1.0 - b) * (x - self.e0)
        self.det1 = (a * a) * self.det1 + ((self.det0 * self.ratio + self.e0) - self.jma) * (
            1.0 - a
        ) * (1.0 - a)
        self.jma = self.det1 + self.jma
        return self.jma


class MamaCore:
    def __init__(self, fast, slow):
        self.F, self.S = fast, slow
        self.P: list[float] = []
        self.D: list[float] = []
        self.Qh: list[float] = []
        self.Ih: list[float] = []
        self.I2 = self.Q2 = self.Re = self.Im = 0.0
        self.period = self.phase = self.mama = self.fama = 0.0
        self.counter = 0

    @staticmethod
    def front(lst, x):
        lst.insert(0, x)
        del lst[7:]

    def push(self, x):
        self.counter += 1
        P = self.P
        self.front(P, x)
        if len(P) < 4:
            return None
        smooth = ((P[2] + P[2]) + (3.0 * P[1] + 4.0 * x)) + P[3]
        smooth = smooth / 10.0
        if len(P) < 7:
            self.mama = smooth
            self.fama = smooth
            return None
        adj = clamp(self.period, 6.0, 50.0) * 0.075 + 0.54
        det = (((P[2] * 0.5769 + smooth * 0.0962) - P[4] * 0.5769) - P[6] * 0.0962) * adj
        D = self.D
        self.front(D, det)
        if len(D) < 7:
            return None
        q1 = (((D[0] * 0.0962 + D[2] * 0.5769) - D[4] * 0.5769) - D[6] * 0.0962) * adj
        i1 = D[3]
        self.front(self.Qh, q1)
        self.front(self.Ih, i1)
        if len(self.Qh) < 7 or len(self.Ih) < 7:
            return None
        I, Q = self.Ih, self.Qh
        jI = (((I[0] * 0.0962 + I[2] * 0.5769) - I[4] * 0.5769) - I[6] * 0.0962) * adj
        jQ = (((Q[0] * 0.0962 + Q[2] * 0.5769) - Q[4] * 0.5769) - Q[6] * 0.0962) * adj
        I2p, Q2p = self.I2, self.Q2
        self.I2 = 0.2 * (i1 - jQ) + 0.8 * I2p
        self.Q2 = 0.8 * Q2p + 0.2 * (q1 + jI)
        I2, Q2 = self.I2, self.Q2
        self.Re = 0.2 * (Q2 * Q2p + I2 * I2p) + 0.8 * self.Re
        self.Im = 0.2 * (I2 * Q2p - Q2 * I2p) + 0.8 * self.Im
        if abs(self.Re) > EPS and abs(self.Im) > EPS:
            p = div(6.283185307179586, math.atan2(self.Im, self.Re))
        else:
            p = self.period
        p = fmin(p, 1.5 * self.period)
        p = fmax(p, 0.67 * self.period)
        p = clamp(p, 6.0, 50.0)
        self.period = self.period * 0.8 + p * 0.2
        if abs(i1) > EPS:
            new_phase = math.atan(q1 / i1) * 57.29577951308232
        else:
            new_phase = self.phase
        delta = max(1.0, self.phase - new_phase)
        self.phase = new_phase
        alpha = max(self.S, self.F / delta)
        self.mama = (1.0 - alpha) * self.mama + x * alpha
        self.fama = (1.0 - 0.5 * alpha) * self.fama + (0.5 * alpha) * self.mama
        if self.counter >= 33:
            return self.mama, self.fama
        return None


class Mama(Member):
    def __init__(self, fast, slow):
        self.core = MamaCore(fast, slow)

    def step(self, x):
        r = self.core.push(x)
        return None if r is None else (r[0], {"mama": r[0], "fama": r[1]})


class Fama(Member):
    def __init__(self, fast, slow):
        self.core = MamaCore(fast, slow)

    def step(self, x):
        r = self.core.push(x)
        return None if r is None else r[1]


class McGinleyDynamic(Member):
    def __init__(self, n):
        self.n = n
        self.count = 0
        self.sum = 0.0
        self.md = None

    def step(self, x):
        n = self.n
        if self.md is None:
            self.sum = x + self.sum
            self.count += 1
            if self.count < n:
                return None
            self.md = self.sum / n
            return self.md
        md = self.md
        if not (x <= 0 or md <= 0):
            r = (x / md) * (x / md)
            self.md = md + div(x - md, (r * r) * (float(n) * 0.6))
        return self.md


class GeometricMa(Member):
    def __init__(self, n):
        self.n = n
        self.logs: list[float] = []
        self.sum = 0.0
        self.updates = 0

    def step(self, x):
        if not x > 0:
            return None
        lx = math.log(x)
        if len(self.logs) == self.n:
            oldest = self.logs.pop(0)
            self.sum = lx + (self.sum - oldest)
        else:
            self.sum = lx + self.sum
        self.logs.append(lx)
        self.updates += 1
        if self.updates == self.n:
            s = -0.0
            for v in self.logs:
                s = s + v
            self.sum = s
            self.updates = 0
        if len(self.logs) < self.n:
            return None
        return exp(self.sum / self.n)


def total_order_key(x: float):
    # negative zero before positive zero; no NaN reaches a close-input member
    return (x, math.copysign(1.0, x))


class MedianMa(Member):
    def __init__(self, n):
        self.n = n
        self.win = Window(n)

    def step(self, x):
        if not self.win.push(x):
            return None
        s = sorted(self.win.v, key=total_order_key)
        n = self.n
        if n % 2 == 1:
            return s[n // 2]
        return midpoint(s[n // 2 - 1], s[n // 2])


class SineWeightedMa(Member):
    def __init__(self, n):
        self.w = [math.sin((i + 1.0) * 3.141592653589793 / (float(n) + 1.0)) for i in range(n)]
        s = -0.0
        for x in self.w:
            s = s + x
        self.S = s
        self.win = Window(n)

    def step(self, x):
        if not self.win.push(x):
            return None
        acc = -0.0
        for xi, wi in zip(self.win.v, self.w):
            acc = acc + xi * wi
        return acc / self.S


class HoltWinters(Member):
    def __init__(self, alpha, beta):
        self.a, self.b = alpha, beta
        self.x0 = None
        self.level = None
        self.trend = 0.0

    def step(self, x):
        if self.x0 is None:
            self.x0 = x
            return None
        if self.level is None:
            self.level = x
            self.trend = x - self.x0
            return self.trend + self.level
        a, b = self.a, self.b
        new_level = (self.level + self.trend) * (1.0 - a) + x * a
        self.trend = (1.0 - b) * self.trend + (new_level - self.level) * b
        self.level = new_level
        return self.trend + self.level


class GeneralizedDema(Member):
    def __init__(self, n, v):
        self.c = [EmaCore(n) for _ in range(2)]
        self.v = v

    def step(self, x):
        e = chain(self.c, x)
        if e is None:
            return None
        e1, e2 = e
        return e1 * (1.0 + self.v) - e2 * self.v


class Evwma(Member):
    candle_input = True

    def __init__(self, n):
        self.n = n
        self.vols: list[float] = []
        self.V = 0.0
        self.prev = None

    def step_candle(self, o, h, l, c, v):
        if len(self.vols) == self.n:
            self.V = self.V - self.vols.pop(0)
        self.vols.append(v)
        self.V = v + self.V
        if len(self.vols) < self.n:
            return None
        V = self.V
        if V > 0:
            prev = c if self.prev is None else self.prev
            out = (c * v + (V - v) * prev) / V
        elif self.prev is not None:
            return self.prev
        else:
            out = c
        self.prev = out
        return out


class Vwma(Member):
    candle_input = True

    def __init__(self, n):
        self.n = n
        self.pairs: list[tuple[float, float]] = []
        self.scv = self.sv = self.sc = 0.0
        self.updates = 0

    def step_candle(self, o, h, l, c, v):
        if len(self.pairs) == self.n:
            oc, ov = self.pairs.pop(0)
            self.scv = self.scv - oc * ov
            self.sv = self.sv - ov
            self.sc = self.sc - oc
        self.pairs.append((c, v))
        self.scv = self.scv + c * v
        self.sv = self.sv + v
        self.sc = self.sc + c
        self.updates += 1
        if self.updates == self.n:
            a = b = d = -0.0
            for pc, pv in self.pairs:
                a = a + pc * pv
                b = b + pv
                d = d + pc
            self.scv, self.sv, self.sc = a, b, d
            self.updates = 0
        if len(self.pairs) < self.n:
            return None
        if self.sv > 0:
            return self.scv / self.sv
        return self.sc / self.n


class MidPoint(Member):
    def __init__(self, n):
        self.win = Window(n)

    def step(self, x):
        if not self.win.push(x):
            return None
        return midpoint(max(self.win.v), min(self.win.v))


class MidPrice(Member):
    candle_input = True

    def __init__(self, n):
        self.hi = Window(n)
        self.lo = Window(n)

    def step_candle(self, o, h, l, c, v):
        self.lo.push(l)
        if not self.hi.push(h):
            return None
        return midpoint(max(self.hi.v), min(self.lo.v))


MEMBERS = {
    cls.__name__: cls
    for cls in (
        Sma, Ema, Wma, Dema, Tema, Trima, Smma, Hma, Ehma, Alma, Kama, Frama, Vidya, Zlema, T3,
        Jma, Mama, Fama, McGinleyDynamic, GeometricMa, MedianMa, SineWeightedMa, HoltWinters,
        GeneralizedDema, Evwma, Vwma, MidPoint, MidPrice,
    )
}
