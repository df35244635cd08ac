"""Plain-Python reference implementation of the momentum oscillators.

Written straight from the definitions, independently of the engine, so that the engine's outputs
can be checked against it on long random series. Every member is a small class with `push(x)`
returning a float or None and, for multi-output members, `extras` holding the latest secondary
values in catalogue order. Input acceptance (skipping non-finite closes and invalid candles) is done
by `run`, so `push` only ever sees accepted steps.

Python's float arithmetic is IEEE double precision, so following the stated evaluation order gives
bit-identical results; the only missing primitive, a fused multiply-add, is emulated exactly with
rationals. Division and the few library functions that raise on IEEE special cases are wrapped so
they produce the infinities and NaNs the engine produces instead.
"""

from __future__ import annotations

import math
from collections import deque

from .common import (
    NAN,
    Change,
    CmoCore,
    EmaCore,
    RollingMean,
    WmaCore,
    ZlemaCore,
    candle_valid,
    clamp,
    div,
    exp,
    fin,
    fma,
    ln,
    plain_sum,
    round_half_away,
    std_max,
    std_min,
)

# --- shared cores -----------------------------------------------------------------------------


class Window:
    """The last `n` values, oldest first."""

    def __init__(self, n: int):
        self.n = n
        self.d: deque = deque()

    def push(self, x):
        """Appends x; returns the value that left, or None."""
        self.d.append(x)
        if len(self.d) > self.n:
            return self.d.popleft()
        return None

    def full(self) -> bool:
        return len(self.d) == self.n


class RsiCore:
    def __init__(self, n: int):
        self.n = n
        self.change = Change()
        self.gains: list = []
        self.losses: list = []
        self.warm = False
        self.ag = 0.0
        self.al = 0.0
        self.nm1 = float(n - 1)
        self.inv = 1.0 / float(n)

    def push(self, x):
        diff = self.change.push(x)
        if diff is None:
            return None
        gain = std_max(diff, 0.0)
        loss = -diff if diff < -diff else 0.0
        if not self.warm:
            self.gains.append(gain)
            self.losses.append(loss)
            if len(self.gains) < self.n:
                return None
            self.ag = plain_sum(self.gains) / self.n
            self.al = plain_sum(self.losses) / self.n
            self.warm = True
        else:
            self.ag = fma(self.ag, self.nm1, gain) * self.inv
            self.al = fma(self.al, self.nm1, loss) * self.inv
        s = self.al + self.ag
        if s == 0.0:
            return 50.0
        return div(self.ag * 100.0, s)


class Vwma:
    """Volume-weighted average over candles (close, volume)."""

    def __init__(self, n: int):
        self.n = n
        self.win = Window(n)
        self.scv = 0.0
        self.sv = 0.0
        self.sc = 0.0
        self.count = 0

    def push(self, close, volume):
        cv = close * volume
        if self.win.full():
            oc, ov, ocv = self.win.push((close, volume, cv))
            self.scv = cv + (self.scv - ocv)
            self.sv = volume + (self.sv - ov)
            self.sc = close + (self.sc - oc)
        else:
            self.win.push((close, volume, cv))
            self.scv = cv + self.scv
            self.sv = volume + self.sv
            self.sc = close + self.sc
        self.count += 1
        if self.count == self.n:
            self.scv = plain_sum(p[2] for p in self.win.d)
            self.sv = plain_sum(p[1] for p in self.win.d)
            self.sc = plain_sum(p[0] for p in self.win.d)
            self.count = 0
        if not self.win.full():
            return None
        if self.sv > 0.0:
            return div(self.scv, self.sv)
        return self.sc / self.n


def up_down(m: float):
    return (m if m > 0.0 else 0.0), (-m if m < 0.0 else 0.0)


# --- members ----------------------------------------------------------------------------------


class RateOfChange:
    def __init__(self, kind: str, n: int):
        self.kind = kind
        self.win = Window(n + 1)

    def push(self, x):
        self.win.push(x)
        if not self.win.full():
            return None
        past = self.win.d[0]
        if self.kind == "Mom":
            return x - past
        if past == 0.0:
            return 0.0
        if self.kind == "Roc":
            return div(x - past, past) * 100.0
        if self.kind == "Rocp":
            return div(x - past, past)
        if self.kind == "Rocr":
            return div(x, past)
        return div(x, past) * 100.0


class Rsi:
    def __init__(self, n):
        self.core = RsiCore(n)

    def push(self, x):
        return self.core.push(x)


class Rsx:
    def __init__(self, n):
        self.n = n
        self.f = 3.0 / (float(n) + 2.0)
        self.g = 1.0 - self.f
        self.prev = None
        self.changes = 0
        self.s = [0.0] * 7
        self.a = [0.0] * 7

    def push(self, x):
        if self.prev is None:
            self.prev = x
            return None
        f, g = self.f, self.g
        mom = x - self.prev
        amom = abs(x - self.prev)
        self.prev = x
        s, a = self.s, self.a
        s[1] = mom * f + s[1] * g
        s[2] = s[2] * g + f * s[1]
        t1 = s[1] * 1.5 - s[2] * 0.5
        s[3] = t1 * f + s[3] * g
        s[4] = s[4] * g + f * s[3]
        t2 = s[3] * 1.5 - s[4] * 0.5
        s[5] = t2 * f + s[5] * g
        s[6] = g * s[6] + s[5] * f
        a[1] = f * amom + a[1] * g
        a[2] = a[2] * g + f * a[1]
        w1 = a[1] * 1.5 - a[2] * 0.5
        a[3] = w1 * f + a[3] * g
        a[4] = a[4] * g + f * a[3]
        w2 = a[3] * 1.5 - a[4] * 0.5
        a[5] = w2 * f + a[5] * g
        a[6] = a[6] * g + f * a[5]
        self.changes += 1
        if self.changes < self.n:
            return None
        den = 1.5 * a[5] - 0.5 * a[6]
        if den > 0.0:
            v = (div(s[6] * -0.5 + s[5] * 1.5, den) + 1.0) * 50.0
        else:
            v = 50.0
        return clamp(v, 0.0, 100.0)


class Rmi:
    def __init__(self, a, b):
        self.a = a
        self.win = Window(b)
        self.ups: list = []
        self.downs: list = []
        self.seeded = False
        self.au = 0.0
        self.ad = 0.0
        self.am1 = float(a - 1)

    def push(self, x):
        if not self.win.full():
            self.win.push(x)
            return None
        m = x - self.win.push(x)
        up, down = up_down(m)
        if not self.seeded:
            self.ups.append(up)
            self.downs.append(down)
            if len(self.ups) < self.a:
                return None
            self.au = plain_sum(self.ups) / self.a
            self.ad = plain_sum(self.downs) / self.a
            self.seeded = True
        else:
            self.au = div(up + self.am1 * self.au, float(self.a))
            self.ad = div(down + self.am1 * self.ad, float(self.a))
        if self.au + self.ad == 0.0:
            return 50.0
        return div(self.au, self.ad + self.au) * 100.0


class ConnorsRsi:
    def __init__(self, a, b, c):
        self.c = c
        self.r1 = RsiCore(a)
        self.r2 = RsiCore(b)
        self.win = Window(c)
        self.prev = None
        self.streak = 0.0

    def push(self, x):
        v1 = self.r1.push(x)
        v2 = None
        if self.prev is not None:
            if x > self.prev:
                self.streak = std_max(self.streak, 0.0) + 1.0
            elif x < self.prev:
                self.streak = std_min(self.streak, 0.0) - 1.0
            else:
                self.streak = 0.0
            v2 = self.r2.push(self.streak)
            if self.prev != 0.0:
                self.win.push(div(x - self.prev, self.prev))
        self.prev = x
        if v1 is None or v2 is None or not self.win.full():
            return None
        newest = self.win.d[-1]
        rank = sum(1 for v in self.win.d if v < newest)
        return ((v1 + v2) + div(float(rank) * 100.0, float(self.c))) / 3.0


class LaguerreRsi:
    def __init__(self, g):
        self.g = g
        self.L = None

    def push(self, x):
        g = self.g
        if self.L is None:
            self.L = [x, x, x, x]
            return 50.0
        p0, p1, p2, p3 = self.L
        l0 = p0 * g + x * (1.0 - g)
        l1 = p1 * g + (p0 - g * l0)
        l2 = p2 * g + (p1 - g * l1)
        l3 = g * p3 + (p2 - g * l2)
        self.L = [l0, l1, l2, l3]
        cu = 0.0
        cd = 0.0
        for u, v in ((l0, l1), (l1, l2), (l2, l3)):
            if not (u < v):
                cu = cu + (u - v)
            else:
                cd = cd + (v - u)
        if cu + cd <= 0.0:
            return 50.0
        return clamp(div(cu * 100.0, cd + cu), 0.0, 100.0)


class AnchoredRsi:
    def __init__(self):
        self.change = Change()
        self.gains = 0.0
        self.losses = 0.0

    def push(self, x):
        d = self.change.push(x)
        if d is None:
            return None
        if d > 0.0:
            self.gains = d + self.gains
        if d < 0.0:
            self.losses = self.losses - d
        if self.losses != 0.0:
            return 100.0 - div(100.0, div(self.gains, self.losses) + 1.0)
        return 50.0 if self.gains == 0.0 else 100.0


class AdaptiveRsi:
    def __init__(self, n):
        self.n = n
        self.closes = Window(n + 1)
        self.changes = Window(n)
        self.V = 0.0
        self.change = Change()
        self.ups: list = []
        self.downs: list = []
        self.seeded = False
        self.au = 0.0
        self.ad = 0.0

    def push(self, x):
        self.closes.push(x)
        diff = self.change.push(x)
        if diff is None:
            return None
        ad = abs(diff)
        if self.changes.full():
            self.V = self.V - self.changes.d[0]
        self.changes.push(ad)
        self.V = ad + self.V
        up, down = up_down(diff)
        if not self.seeded:
            self.ups.append(up)
            self.downs.append(down)
            if len(self.ups) < self.n:
                return None
            self.au = plain_sum(self.ups) / self.n
            self.ad = plain_sum(self.downs) / self.n
            self.seeded = True
        else:
            if self.V != 0.0:
                er = clamp(div(abs(x - self.closes.d[0]), self.V), 0.0, 1.0)
                t = er * 0.6021505376344085 + 0.06451612903225806
                sc = t * t
            else:
                sc = 0.004162330905306971
            self.au = sc * (up - self.au) + self.au
            self.ad = sc * (down - self.ad) + self.ad
        if self.au + self.ad == 0.0:
            return 50.0
        return div(self.au, self.ad + self.au) * 100.0


class FisherRsi:
    def __init__(self, n):
        self.core = RsiCore(n)

    def push(self, x):
        r = self.core.push(x)
        if r is None:
            return None
        v = clamp((r + -50.0) / 50.0, -0.999, 0.999)
        return ln(div(1.0 + v, 1.0 - v)) * 0.5


class StochRsi:
    def __init__(self, a, c):
        self.core = RsiCore(a)
        self.win = Window(c)

    def push(self, x):
        r = self.core.push(x)
        if r is None:
            return None
        self.win.push(r)
        if not self.win.full():
            return None
        hi = max(self.win.d)
        lo = min(self.win.d)
        rng = hi - lo
        if rng == 0.0:
            return 50.0
        return div((r - lo) * 100.0, rng)


class Qqe:
    def __init__(self, a, b, k):
        self.k = k
        self.rsi = RsiCore(a)
        self.ma = EmaCore(b)
        self.atr = EmaCore(2 * a - 1)
        self.dar = EmaCore(2 * a - 1)
        self.prev_ma = None
        self.started = False
        self.long = 0.0
        self.short = 0.0
        self.up = True
        self.extras = [NAN, NAN]

    def push(self, x):
        r = self.rsi.push(x)
        if r is None:
            return None
        m = self.ma.push(r)
        if m is None:
            return None
        if self.prev_ma is None:
            self.prev_ma = m
            return None
        pm = self.prev_ma
        d = m - pm
        self.prev_ma = m
        if not math.isfinite(d):
            return None
        atr = self.atr.push(abs(d))
        if not fin(atr):
            return None
        dv = self.dar.push(atr)
        if dv is None:
            return None
        dar = dv * self.k
        nl = m - dar
        ns = m + dar
        if not self.started:
            self.started = True
            self.long, self.short, self.up = nl, ns, True
        else:
            pl, ps = self.long, self.short
            self.long = std_max(pl, nl) if (pl < m and pl < pm) else nl
            self.short = std_min(ps, ns) if (ps > m and ps > pm) else ns
            if pm <= ps < m:
                self.up = True
            elif pm >= pl > m:
                self.up = False
        trailing = self.long if self.up else self.short
        self.extras = [m, trailing]
        return m


class Cmo:
    def __init__(self, n):
        self.core = CmoCore(n)

    def push(self, x):
        return self.core.push(x)


class DynamicMomentumIndex:
    def __init__(self, p):
        self.p = p
        self.win5 = Window(5)
        self.shift = 0.0
        self.d = 0.0
        self.e = 0.0
        self.updates = 0
        self.std_mean = RollingMean(10)
        self.changes = Window(30)
        self.prev = None

    def push(self, x):
        if self.win5.full():
            old = self.win5.push(x)
            o = old - self.shift
            self.d = self.d - o
            self.e = self.e - o * o
        else:
            self.win5.push(x)
        y = x - self.shift
        self.d = y + self.d
        self.e = y * y + self.e
        self.updates += 1
        if self.updates == 5:
            self.shift = plain_sum(self.win5.d) / 5.0
            self.d = plain_sum(v - self.shift for v in self.win5.d)
            self.e = plain_sum((v - self.shift) * (v - self.shift) for v in self.win5.d)
            self.updates = 0
        std = None
        mean = None
        if self.win5.full():
            dm = self.d / 5.0
            std = math.sqrt(std_max(self.e / 5.0 - dm * dm, 0.0))
            mean = self.std_mean.push(std)
        if self.prev is not None:
            self.changes.push(x - self.prev)
        self.prev = x
        if std is None or mean is None or not self.changes.full():
            return None
        if std <= 0.0 or mean <= 0.0:
            period = 30
        else:
            q = round_half_away(div(float(self.p), div(std, mean)))
            if q < 6:
                q = 5
            period = int(q) if q <= 30 else 30  # a NaN ratio also gives 30
        up = -0.0
        down = -0.0
        for c in list(self.changes.d)[30 - period:]:
            if c > 0.0:
                up = up + c
            elif c < 0.0:
                down = down + (-c)
        if up == 0.0 and down == 0.0:
            return 50.0
        return div(up, down + up) * 100.0


class IntradayMomentumIndex:
    def __init__(self, n):
        self.win = Window(n)
        self.su = 0.0
        self.sd = 0.0

    def push(self, candle):
        o, _h, _l, c, _v = candle
        up, down = up_down(c - o)
        if self.win.full():
            ou, od = self.win.d[0]
            self.su = self.su - ou
            self.sd = self.sd - od
        self.win.push((up, down))
        self.su = up + self.su
        self.sd = down + self.sd
        # A direction with no body left in the window sums to exactly zero, not to the rounding
        # residue of the running subtractions (which would read flat bars as 0 or 100).
        if not any(u > 0.0 for u, _ in self.win.d):
            self.su = 0.0
        if not any(d > 0.0 for _, d in self.win.d):
            self.sd = 0.0
        if not self.win.full():
            return None
        if self.sd + self.su == 0.0:
            return 50.0
        return div(self.su * 100.0, self.sd + self.su)


class Tii:
    def __init__(self, p, w):
        self.mean = RollingMean(p)
        self.win = Window(w)
        self.pos = 0.0
        self.neg = 0.0

    def push(self, x):
        m = self.mean.push(x)
        if m is None:
            return None
        dev = x - m
        if self.win.full():
            f = self.win.d[0]
            if f > 0.0:
                self.pos = self.pos - f
            elif f < 0.0:
                self.neg = f + self.neg
        self.win.push(dev)
        if dev > 0.0:
            self.pos = dev + self.pos
        elif dev < 0.0:
            self.neg = self.neg - dev
        # as for the intraday index: a sign absent from the window contributes exactly zero
        if not any(v > 0.0 for v in self.win.d):
            self.pos = 0.0
        if not any(v < 0.0 for v in self.win.d):
            self.neg = 0.0
        if not self.win.full():
            return None
        if self.pos + self.neg <= 0.0:
            return 50.0
        return clamp(div(self.pos * 100.0, self.neg + self.pos), 0.0, 100.0)


class MacdIndicator:
    """Output 'macd' (or 'histogram' for MacdHistogram); extras macd, signal, histogram."""

    def __init__(self, a, b, c, out="macd", kind="ema"):
        self.out = out
        self.kind = kind
        if kind == "zlema":
            self.f, self.s, self.sig = ZlemaCore(a), ZlemaCore(b), ZlemaCore(c)
        else:
            self.f = Vwma(a) if kind == "vwma" else EmaCore(a)
            self.s = Vwma(b) if kind == "vwma" else EmaCore(b)
            self.sig = EmaCore(c)
        self.extras = [NAN, NAN, NAN]

    def push(self, x):
        if self.kind == "vwma":
            _o, _h, _l, c, v = x
            ef, es = self.f.push(c, v), self.s.push(c, v)
        else:
            ef, es = self.f.push(x), self.s.push(x)
        if ef is None or es is None:
            return None
        macd = ef - es
        sig = self.sig.push(macd)
        if sig is None:
            return None
        hist = macd - sig
        self.extras = [macd, sig, hist]
        return hist if self.out == "histogram" else macd


class Apo:
    def __init__(self, a, b, ppo=False):
        self.f, self.s = EmaCore(a), EmaCore(b)
        self.ppo = ppo

    def push(self, x):
        ef, es = self.f.push(x), self.s.push(x)
        if ef is None or es is None:
            return None
        if not self.ppo:
            return ef - es
        if es == 0.0:
            return 0.0
        return div((ef - es) * 100.0, es)


class PpoHistogram:
    def __init__(self, a, b, c):
        self.ppo = Apo(a, b, ppo=True)
        self.sig = EmaCore(c)

    def push(self, x):
        p = self.ppo.push(x)
        if p is None:
            return None
        s = self.sig.push(p)
        if s is None:
            return None
        return p - s


class _Smoother:
    def __init__(self, p):
        self.alpha = 2.0 / float(p)
        self.value = None

    def push(self, x):
        if self.value is None:
            self.value = x
        else:
            self.value = fma(self.alpha, x, (1.0 - self.alpha) * self.value)
        return self.value


class Pmo:
    def __init__(self, p1, p2):
        self.prev = None
        self.s1 = _Smoother(p1)
        self.s2 = _Smoother(p2)

    def push(self, x):
        if self.prev is None:
            self.prev = x
            return None
        roc = 0.0 if self.prev == 0.0 else (div(x, self.prev) + -1.0) * 100.0
        self.prev = x
        if not math.isfinite(roc):
            return None
        v = self.s1.push(roc) * 10.0
        if not math.isfinite(v):
            return None
        return self.s2.push(v)


class Trix:
    def __init__(self, n):
        self.e = [EmaCore(n), EmaCore(n), EmaCore(n)]
        self.prev = None

    def push(self, x):
        v = x
        for core in self.e:
            v = core.push(v)
            if v is None:
                return None
        if self.prev is None:
            self.prev = v
            return None
        out = 0.0 if self.prev == 0.0 else div((v - self.prev) * 100.0, self.prev)
        self.prev = v
        return out


class _Roc100:
    """((close - past) / past) * 100 over the last r + 1 closes, 0 when past is 0."""

    def __init__(self, r):
        self.win = Window(r + 1)

    def push(self, x):
        self.win.push(x)
        if not self.win.full():
            return None
        past = self.win.d[0]
        if past == 0.0:
            return 0.0
        return div(x - past, past) * 100.0


class Kst:
    def __init__(self, *p):
        self.rocs = [_Roc100(r) for r in p[0:4]]
        self.means = [RollingMean(s) for s in p[4:8]]
        self.sig = RollingMean(p[8])
        self.extras = [NAN, NAN]

    def push(self, x):
        ms = []
        for roc, mean in zip(self.rocs, self.means):
            r = roc.push(x)
            ms.append(mean.push(r) if r is not None else None)
        if any(m is None for m in ms):
            return None
        m1, m2, m3, m4 = ms
        kst = ((m1 + (m2 + m2)) + m3 * 3.0) + m4 * 4.0
        s = self.sig.push(kst)
        if s is None:
            return None
        self.extras = [kst, s]
        return kst


class Coppock:
    def __init__(self, a, b, c):
        self.ra, self.rb = _Roc100(a), _Roc100(b)
        self.wma = WmaCore(c)

    def push(self, x):
        a, b = self.ra.push(x), self.rb.push(x)
        if a is None or b is None:
            return None
        return self.wma.push(a + b)


class Tsi:
    def __init__(self, a, b):
        self.change = Change()
        self.n1, self.n2 = EmaCore(a), EmaCore(b)
        self.d1, self.d2 = EmaCore(a), EmaCore(b)

    def push(self, x):
        mom = self.change.push(x)
        if mom is None:
            return None
        if not math.isfinite(mom):
            return None
        n = self.n1.push(mom)
        n = self.n2.push(n) if n is not None else None
        d = self.d1.push(abs(mom))
        d = self.d2.push(d) if d is not None else None
        if n is None or d is None:
            return None
        if d == 0.0:
            return 0.0
        return div(n * 100.0, d)


class DerivativeOscillator:
    def __init__(self, r, p, q, s):
        self.rsi = RsiCore(r)
        self.e1, self.e2 = EmaCore(p), EmaCore(q)
        self.mean = RollingMean(s)

    def push(self, x):
        v = self.rsi.push(x)
        if v is None:
            return None
        v = self.e1.push(v)
        if v is None:
            return None
        g = self.e2.push(v)
        if not fin(g):
            return None
        m = self.mean.push(g)
        if m is None:
            return None
        return g - m


def _stoch(win: Window, v: float) -> float:
    hi, lo = max(win.d), min(win.d)
    if hi > lo:
        return div((v - lo) * 100.0, hi - lo)
    return 0.0


class Stc:
    def __init__(self, a, b, c, f):
        self.ef, self.es = EmaCore(a), EmaCore(b)
        self.w1, self.w2 = Window(c), Window(c)
        self.f = f
        self.pf = None
        self.stc = None

    def push(self, x):
        ef, es = self.ef.push(x), self.es.push(x)
        if ef is None or es is None:
            return None
        macd = ef - es
        self.w1.push(macd)
        if not self.w1.full():
            return None
        k1 = _stoch(self.w1, macd)
        self.pf = k1 if self.pf is None else (k1 - self.pf) * self.f + self.pf
        self.w2.push(self.pf)
        if not self.w2.full():
            return None
        k2 = _stoch(self.w2, self.pf)
        self.stc = k2 if self.stc is None else (k2 - self.stc) * self.f + self.stc
        return clamp(self.stc, 0.0, 100.0)


class WavePm:
    def __init__(self, a, b):
        self.win = Window(a + 1)
        self.v = EmaCore(a)
        self.out = EmaCore(b)

    def push(self, x):
        self.win.push(x)
        if not self.win.full():
            return None
        d = x - self.win.d[0]
        sq = d * d
        if not math.isfinite(sq):
            return None
        v = self.v.push(sq)
        if v is None:
            return None
        pm = 0.0 if v <= 0.0 else 1.0 - exp(div(-sq, v + v))
        if not math.isfinite(pm):
            return None
        o = self.out.push(pm)
        return None if o is None else o * 100.0


class DisparityIndex:
    def __init__(self, n):
        self.mean = RollingMean(n)

    def push(self, x):
        m = self.mean.push(x)
        if m is None:
            return None
        if m == 0.0:
            return 0.0
        return div((x - m) * 100.0, m)


class Dpo:
    def __init__(self, n):
        self.n = n
        self.shift = n // 2 + 1
        self.win = Window(max(n, n // 2 + 2))
        self.last = Window(n)
        self.sum = 0.0
        self.count = 0

    def push(self, x):
        self.win.push(x)
        if self.last.full():
            old = self.last.push(x)
            self.sum = x + (self.sum - old)
        else:
            self.last.push(x)
            self.sum = x + self.sum
        self.count += 1
        if self.count == self.n:
            self.sum = plain_sum(self.last.d)
            self.count = 0
        if not self.win.full():
            return None
        return self.win.d[-1 - self.shift] - self.sum / self.n


# --- catalogue --------------------------------------------------------------------------------

# name -> (factory taking the parameter list, input kind, extras names)
CLOSE, CANDLE = "close", "candle"
MACD_EXTRAS = ("macd", "signal", "histogram")

MEMBERS = {
    "Mom": (lambda p: RateOfChange("Mom", *p), CLOSE, ()),
    "Roc": (lambda p: RateOfChange("Roc", *p), CLOSE, ()),
    "Rocp": (lambda p: RateOfChange("Rocp", *p), CLOSE, ()),
    "Rocr": (lambda p: RateOfChange("Rocr", *p), CLOSE, ()),
    "Rocr100": (lambda p: RateOfChange("Rocr100", *p), CLOSE, ()),
    "Rsi": (lambda p: Rsi(*p), CLOSE, ()),
    "Rsx": (lambda p: Rsx(*p), CLOSE, ()),
    "Rmi": (lambda p: Rmi(*p), CLOSE, ()),
    "ConnorsRsi": (lambda p: ConnorsRsi(*p), CLOSE, ()),
    "LaguerreRsi": (lambda p: LaguerreRsi(*p), CLOSE, ()),
    "AnchoredRsi": (lambda p: AnchoredRsi(), CLOSE, ()),
    "AdaptiveRsi": (lambda p: AdaptiveRsi(*p), CLOSE, ()),
    "FisherRsi": (lambda p: FisherRsi(*p), CLOSE, ()),
    "StochRsi": (lambda p: StochRsi(*p), CLOSE, ()),
    "Qqe": (lambda p: Qqe(*p), CLOSE, ("rsi_ma", "trailing_line")),
    "Cmo": (lambda p: Cmo(*p), CLOSE, ()),
    "DynamicMomentumIndex": (lambda p: DynamicMomentumIndex(*p), CLOSE, ()),
    "IntradayMomentumIndex": (lambda p: IntradayMomentumIndex(*p), CANDLE, ()),
    "Tii": (lambda p: Tii(*p), CLOSE, ()),
    "MacdIndicator": (lambda p: MacdIndicator(*p), CLOSE, MACD_EXTRAS),
    "Macd": (lambda p: MacdIndicator(*p), CLOSE, MACD_EXTRAS),
    "MacdFix": (lambda p: MacdIndicator(12, 26, *p), CLOSE, MACD_EXTRAS),
    "MacdHistogram": (lambda p: MacdIndicator(*p, out="histogram"), CLOSE, ()),
    "ZeroLagMacd": (lambda p: MacdIndicator(*p, kind="zlema"), CLOSE, MACD_EXTRAS),
    "VolumeWeightedMacd": (lambda p: MacdIndicator(*p, kind="vwma"), CANDLE, MACD_EXTRAS),
    "Ppo": (lambda p: Apo(*p, ppo=True), CLOSE, ()),
    "PpoHistogram": (lambda p: PpoHistogram(*p), CLOSE, ()),
    "Apo": (lambda p: Apo(*p), CLOSE, ()),
    "Pmo": (lambda p: Pmo(*p), CLOSE, ()),
    "Trix": (lambda p: Trix(*p), CLOSE, ()),
    "Kst": (lambda p: Kst(*p), CLOSE, ("kst", "signal")),
    "Coppock": (lambda p: Coppock(*p), CLOSE, ()),
    "Tsi": (lambda p: Tsi(*p), CLOSE, ()),
    "DerivativeOscillator": (lambda p: DerivativeOscillator(*p), CLOSE, ()),
    "Stc": (lambda p: Stc(*p), CLOSE, ()),
    "WavePm": (lambda p: WavePm(*p), CLOSE, ()),
    "DisparityIndex": (lambda p: DisparityIndex(*p), CLOSE, ()),
    "Dpo": (lambda p: Dpo(*p), CLOSE, ()),
}


def run(name: str, params, candles):
    """Feeds candles (open, high, low, close, volume) to a fresh `name` evaluator.

    Returns one row per candle: a dict with the value under "" and each extra under its name
    (None where the step yields nothing). Extras are only reported on steps that yield a value.
    """
    factory, kind, extras = MEMBERS[name]
    ind = factory([int(x) if float(x).is_integer() else x for x in params])
    rows = []
    for o, h, lo, c, v in candles:
        accepted = math.isfinite(c) if kind == CLOSE else candle_valid(o, h, lo, c, v)
        out = None
        if accepted:
            out = ind.push(c if kind == CLOSE else (o, h, lo, c, v))
        row = {"": out}
        for i, e in enumerate(extras):
            row[e] = ind.extras[i] if out is not None else None
        rows.append(row)
    return rows
